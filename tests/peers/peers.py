#!/usr/bin/python3
"""Local servers for the tests, on free ports of 127.0.0.1 only.

    peers.py start <kind> --dir DIR    start one server, write DIR/<kind>.env, return when it answers
    peers.py stop <kind> --dir DIR     stop the server started in DIR (by its recorded process id)

Kinds:
    pyftpd   pyftpdlib FTP server (MLSD), user and password, writable root
    pyftpdx  pyftpdlib behaving like common real servers: the user starts in /home/<user> and
             is not locked in there (ROOT is that home, SERVED_ROOT the server's "/"); SIZE and
             MDTM answer for folders too ("213 4096"); the users tls550, tls534 and tls530 are
             told that logins need TLS, each with its own reply; a folder named "garbled listing"
             lists as lines that are no MLSD
    pyftpd-limit  pyftpdlib taking at most 2 connections per address ("421 Too many connections")
    pureftpd pure-ftpd, a virtual user not locked into its home (ROOT), as a real server shows it;
             run from its Debian package unpacked into the build folder (it conflicts with vsftpd)
    pureftpd-limit  the same with at most 2 connections per address
    vsftpd   vsftpd (LIST only), a virtual user checked by a per-run PAM service (needs root)
    apache   Apache httpd with mod_dav/mod_dav_fs and Basic authentication (htpasswd); the same
             folder under /digest with Digest authentication (DIGEST_URL)
    silent   a listener that accepts connections and never says a word (for timeouts)

The .env file holds KEY=VALUE lines: PORT, USER, PASSWORD, ROOT (the served folder on disk),
URL, and SKIP=<reason> instead when the server cannot run here (binary missing, not root).
Each start gives a fresh, empty root folder.

Read-only folders: vsftpd and Apache run as an unprivileged user, so a chmod of a folder makes
their writes fail. pyftpdlib runs as the test's own user, root included, so a folder that holds
a file named READ_ONLY_MARKER (".dravix-read-only") is read-only to its user instead: writing,
appending, deleting, renaming and making folders in it are refused with "550 Not enough
privileges".
"""

import argparse
import os
import secrets
import shutil
import signal
import socket
import stat
import subprocess
import sys
import time

PYTHON = "/usr/bin/python3"
READ_ONLY_MARKER = ".dravix-read-only"
VSFTPD = "/usr/sbin/vsftpd"
APACHE = "/usr/sbin/apache2"
APACHE_MODULES = "/usr/lib/apache2/modules"
PAM_DIR = "/etc/pam.d"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, proc, seconds=15.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if proc is not None and proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def write_env(path, values):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        for k, v in values.items():
            f.write(f"{k}={v}\n")
    os.replace(tmp, path)


def fresh_dir(path, mode=0o755):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    os.chmod(path, mode)
    return path


def spawn(args, log_path, **kw):
    log = open(log_path, "ab")
    return subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                            start_new_session=True, close_fds=True, **kw)


def tail(path, lines=30):
    try:
        with open(path, "r", encoding="utf-8", errors="replace") as f:
            return "".join(f.readlines()[-lines:])
    except OSError:
        return ""


# ---- server bodies run in the spawned process ------------------------------------------------

def serve_ftp(args):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
    import logging
    logging.basicConfig(level=logging.WARNING)
    password = open(args.password_file, encoding="utf-8").read().strip()

    class Authorizer(DummyAuthorizer):
        # A server-side permission that holds even for root: no changes in a marked folder.
        def has_perm(self, username, perm, path=None):
            if path is not None and perm in "adfmwMT":
                folders = [os.path.dirname(path)]
                if os.path.isdir(path):
                    folders.append(path)
                if any(os.path.exists(os.path.join(f, READ_ONLY_MARKER)) for f in folders):
                    return False
            return super().has_perm(username, perm, path)

    authorizer = Authorizer()

    home = args.root
    fs_class = None
    if args.home_below_root:
        from pyftpdlib.filesystems import AbstractedFS
        home = os.path.join(args.root, "home", args.user)

        class HomeBelowRoot(AbstractedFS):
            # The session starts in the user's home and may go anywhere in the served root.
            def __init__(self, user_home, cmd_channel):
                super().__init__(args.root, cmd_channel)
                self._cwd = self.fs2ftp(user_home)
        fs_class = HomeBelowRoot
    authorizer.add_user(args.user, password, home, perm="elradfmwMT")

    tls_replies = {"tls550": "550 SSL/TLS required on the control channel.",
                   "tls534": "534 Policy requires SSL.",
                   "tls530": "530 Non-anonymous sessions must use encryption."}

    class Handler(FTPHandler):
        def ftp_USER(self, line):
            if args.tls_users and line in tls_replies:
                self.respond(tls_replies[line])
                return
            return super().ftp_USER(line)

        def ftp_SIZE(self, path):
            if args.size_for_folders and self.fs.isdir(path):
                self.respond("213 4096")
                return
            return super().ftp_SIZE(path)

        def ftp_MLSD(self, path):
            if args.garbled_listings and os.path.basename(path) == "garbled listing":
                self.push_dtp_data(b"this is no listing\r\nand neither is this\r\n", isproducer=False, cmd="MLSD")
                return path
            return super().ftp_MLSD(path)

        def ftp_MDTM(self, path):
            if args.size_for_folders and self.fs.isdir(path):
                self.respond("213 20240101000000")
                return
            return super().ftp_MDTM(path)

    if fs_class is not None:
        Handler.abstracted_fs = fs_class
    Handler.authorizer = authorizer
    Handler.banner = "dravix test ftp"
    Handler.passive_ports = None
    Handler.permit_foreign_addresses = False
    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons = 256
    server.max_cons_per_ip = args.max_per_ip
    server.serve_forever()


def serve_silent(args):
    held = []
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("127.0.0.1", args.port))
        s.listen(64)
        while True:
            conn, _ = s.accept()
            held.append(conn)  # keep it open, never answer


# ---- start and stop --------------------------------------------------------------------------

def record_pid(d, kind, pid, extra=None):
    with open(os.path.join(d, kind + ".pid"), "w") as f:
        f.write(str(pid) + "\n")
        if extra:
            f.write(extra + "\n")


def start_pyftpd(d, env_path, kind="pyftpd", extra=()):
    try:
        import pyftpdlib  # noqa: F401
    except ImportError:
        write_env(env_path, {"SKIP": f"pyftpdlib is not installed for {PYTHON} (package python3-pyftpdlib)"})
        return 0
    run = fresh_dir(os.path.join(d, kind))
    root = fresh_dir(os.path.join(run, "root"), 0o777)
    user, password = "dravix", "pw-" + secrets.token_hex(8)
    if "--home-below-root" in extra:
        fresh_dir(os.path.join(root, "home"), 0o777)
        fresh_dir(os.path.join(root, "home", user), 0o777)
    pw_file = os.path.join(run, "password")
    with open(pw_file, "w") as f:
        f.write(password)
    os.chmod(pw_file, 0o600)
    for _ in range(5):
        port = free_port()
        proc = spawn([PYTHON, os.path.abspath(__file__), "serve-ftp", "--root", root, "--user", user,
                      "--password-file", pw_file, "--port", str(port), *extra], os.path.join(run, "server.log"))
        if wait_for_port(port, proc):
            record_pid(d, kind, proc.pid)
            values = {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": root,
                      "URL": f"ftp://127.0.0.1:{port}"}
            if "--home-below-root" in extra:
                values["SERVED_ROOT"] = root
                values["ROOT"] = os.path.join(root, "home", user)
            write_env(env_path, values)
            return 0
        stop_group(proc.pid)
    sys.stderr.write("pyftpdlib did not start:\n" + tail(os.path.join(run, "server.log")))
    return 1


def start_pyftpdx(d, env_path):
    return start_pyftpd(d, env_path, "pyftpdx", ("--home-below-root", "--size-for-folders", "--tls-users",
                                                   "--garbled-listings"))


def start_pyftpd_limit(d, env_path):
    return start_pyftpd(d, env_path, "pyftpd-limit", ("--max-per-ip", "2"))


def pure_ftpd_dir(d):
    """The unpacked pure-ftpd package (scripts/setup puts it there), or None."""
    for base in ("/", os.path.join(os.path.dirname(os.path.abspath(d)), "peers-bin", "pure-ftpd")):
        if os.access(os.path.join(base, "usr/sbin/pure-ftpd"), os.X_OK) and \
                os.access(os.path.join(base, "usr/bin/pure-pw"), os.X_OK):
            return base
    return None


def start_pureftpd(d, env_path, kind="pureftpd", extra=()):
    base = pure_ftpd_dir(d)
    if base is None:
        write_env(env_path, {"SKIP": "pure-ftpd is not unpacked in the build folder (scripts/setup does it)"})
        return 0
    if os.geteuid() != 0:
        write_env(env_path, {"SKIP": "pure-ftpd needs root here (it changes to the virtual user's id)"})
        return 0
    run = fresh_dir(os.path.join(d, kind))
    served = fresh_dir(os.path.join(run, "root"), 0o777)
    home = fresh_dir(os.path.join(served, "home", "dravix"), 0o777)
    user, password = "dravix", "pw-" + secrets.token_hex(8)
    passwd, pdb = os.path.join(run, "passwd"), os.path.join(run, "passwd.pdb")
    # "-D home": a home the user is not locked into (-d would lock it in).
    # The password line written directly: pure-pw hashes with argon2 at a cost of seconds per
    # login, SHA-512 crypt with few rounds keeps each login quick.
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        import crypt
        hashed = crypt.crypt(password, crypt.mksalt(crypt.METHOD_SHA512, rounds=1000))
    with open(passwd, "w") as f:
        f.write(f"{user}:{hashed}:65534:65534::{home}::::::::::::\n")
    os.chmod(passwd, 0o600)
    subprocess.run([os.path.join(base, "usr/bin/pure-pw"), "mkdb", pdb, "-f", passwd], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(5):
        port = free_port()
        proc = spawn([os.path.join(base, "usr/sbin/pure-ftpd"), "-S", f"127.0.0.1,{port}", "-l", f"puredb:{pdb}",
                      "-E", "-H", "-D", "-f", "none", "-c", "100", *extra], os.path.join(run, "server.log"))
        if wait_for_port(port, proc):
            record_pid(d, kind, proc.pid)
            write_env(env_path, {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": home,
                                 "SERVED_ROOT": "/", "URL": f"ftp://127.0.0.1:{port}"})
            return 0
        stop_group(proc.pid)
    sys.stderr.write("pure-ftpd did not start:\n" + tail(os.path.join(run, "server.log")))
    return 1


def start_pureftpd_limit(d, env_path):
    return start_pureftpd(d, env_path, "pureftpd-limit", ("-C", "2"))


def start_silent(d, env_path):
    run = fresh_dir(os.path.join(d, "silent"))
    for _ in range(5):
        port = free_port()
        proc = spawn([PYTHON, os.path.abspath(__file__), "serve-silent", "--port", str(port)],
                     os.path.join(run, "server.log"))
        if wait_for_port(port, proc):
            record_pid(d, "silent", proc.pid)
            write_env(env_path, {"PORT": port, "URL": f"127.0.0.1:{port}"})
            return 0
        stop_group(proc.pid)
    sys.stderr.write("the silent listener did not start:\n" + tail(os.path.join(run, "server.log")))
    return 1


VSFTPD_CONF = """\
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port={port}
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=000
anon_umask=000
guest_enable=YES
guest_username=daemon
virtual_use_local_privs=YES
pam_service_name={pam_service}
check_shell=NO
userlist_enable=NO
chroot_local_user=YES
allow_writeable_chroot=YES
local_root={root}
secure_chroot_dir=/var/run/vsftpd/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port={pasv_min}
pasv_max_port={pasv_max}
port_enable=NO
utf8_filesystem=YES
xferlog_enable=NO
dirmessage_enable=NO
hide_ids=NO
max_clients=200
max_per_ip=0
idle_session_timeout=600
data_connection_timeout=120
vsftpd_log_file={run}/vsftpd.log
"""

def start_vsftpd(d, env_path):
    if not os.path.exists(VSFTPD):
        write_env(env_path, {"SKIP": f"vsftpd is not installed ({VSFTPD}, package vsftpd)"})
        return 0
    if os.geteuid() != 0:
        write_env(env_path, {"SKIP": "vsftpd needs root here (PAM virtual user, chroot); run the tests as root"})
        return 0
    run = fresh_dir(os.path.join(d, "vsftpd"))
    root = fresh_dir(os.path.join(run, "root"), 0o777)
    os.makedirs("/var/run/vsftpd/empty", exist_ok=True)
    user, password = "dravix", "pw-" + secrets.token_hex(8)
    # The virtual user lives in a Berkeley DB file read by pam_userdb (Python's ndbm writes it).
    import dbm.ndbm
    users = os.path.join(run, "users")
    db = dbm.ndbm.open(users, "n", 0o600)
    db[user.encode()] = password.encode()
    db.close()
    for _ in range(5):
        port = free_port()
        pasv_min = 40000 + (port % 20000)
        pam_service = f"dravix-test-vsftpd-{port}"
        pam_file = os.path.join(PAM_DIR, pam_service)
        with open(pam_file, "w") as f:
            f.write(f"auth required pam_userdb.so db={users} crypt=none\n"
                    "account required pam_permit.so\n"
                    "session required pam_permit.so\n")
        conf = os.path.join(run, "vsftpd.conf")
        with open(conf, "w") as f:
            f.write(VSFTPD_CONF.format(port=port, root=root, run=run, pam_service=pam_service,
                                       pasv_min=pasv_min, pasv_max=pasv_min + 200))
        os.chmod(conf, 0o600)
        proc = spawn([VSFTPD, conf], os.path.join(run, "server.log"))
        if wait_for_port(port, proc):
            record_pid(d, "vsftpd", proc.pid, pam_file + "\nconf:" + conf)
            write_env(env_path, {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": root,
                                 "URL": f"ftp://127.0.0.1:{port}"})
            return 0
        stop_group(proc.pid)
        os.unlink(pam_file)
    sys.stderr.write("vsftpd did not start:\n" + tail(os.path.join(run, "server.log")))
    return 1


APACHE_CONF = """\
ServerRoot "{run}"
DefaultRuntimeDir "{run}"
PidFile "{run}/httpd.pid"
Mutex file:{run} default
Listen 127.0.0.1:{port}
ServerName 127.0.0.1
LoadModule mpm_event_module {mods}/mod_mpm_event.so
LoadModule authn_core_module {mods}/mod_authn_core.so
LoadModule authn_file_module {mods}/mod_authn_file.so
LoadModule authz_core_module {mods}/mod_authz_core.so
LoadModule authz_user_module {mods}/mod_authz_user.so
LoadModule auth_basic_module {mods}/mod_auth_basic.so
LoadModule auth_digest_module {mods}/mod_auth_digest.so
LoadModule alias_module {mods}/mod_alias.so
LoadModule dav_module {mods}/mod_dav.so
LoadModule dav_fs_module {mods}/mod_dav_fs.so
{user_lines}
ErrorLog "{run}/error.log"
LogLevel warn
StartServers 1
ServerLimit 4
ThreadsPerChild 16
MaxRequestWorkers 64
KeepAlive On
KeepAliveTimeout 30
MaxKeepAliveRequests 0
Timeout 120
DavLockDB "{run}/locks/DavLock"
DocumentRoot "{root}"
<Directory "/">
    AllowOverride None
    Require all denied
</Directory>
<Directory "{root}">
    Dav On
    AuthType Basic
    AuthName "dravix test"
    AuthBasicProvider file
    AuthUserFile "{run}/htpasswd"
    Require valid-user
</Directory>
# The same folder under /digest, behind Digest authentication.
Alias /digest "{root}"
<Location "/digest">
    AuthType Digest
    AuthName "dravix digest"
    AuthDigestProvider file
    AuthUserFile "{run}/htdigest"
    Require valid-user
</Location>
"""


def start_apache(d, env_path):
    if not os.path.exists(APACHE):
        write_env(env_path, {"SKIP": f"Apache is not installed ({APACHE}, package apache2)"})
        return 0
    for mod in ("mod_dav.so", "mod_dav_fs.so", "mod_mpm_event.so", "mod_auth_basic.so"):
        if not os.path.exists(os.path.join(APACHE_MODULES, mod)):
            write_env(env_path, {"SKIP": f"Apache module {mod} is missing in {APACHE_MODULES}"})
            return 0
    htpasswd = shutil.which("htpasswd") or "/usr/bin/htpasswd"
    if not os.path.exists(htpasswd):
        write_env(env_path, {"SKIP": "htpasswd is not installed (package apache2-utils)"})
        return 0
    run = fresh_dir(os.path.join(d, "apache"), 0o755)
    root = fresh_dir(os.path.join(run, "root"), 0o777)
    fresh_dir(os.path.join(run, "locks"), 0o777)
    user, password = "dravix", "pw-" + secrets.token_hex(8)
    subprocess.run([htpasswd, "-c", "-b", "-B", os.path.join(run, "htpasswd"), user, password],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.chmod(os.path.join(run, "htpasswd"), 0o644)
    # htdigest lines are user:realm:md5(user:realm:password).
    import hashlib
    realm = "dravix digest"
    with open(os.path.join(run, "htdigest"), "w") as f:
        f.write(f"{user}:{realm}:{hashlib.md5(f'{user}:{realm}:{password}'.encode()).hexdigest()}\n")
    os.chmod(os.path.join(run, "htdigest"), 0o644)
    user_lines = "User nobody\nGroup nogroup" if os.geteuid() == 0 else ""
    for _ in range(5):
        port = free_port()
        conf = os.path.join(run, "httpd.conf")
        with open(conf, "w") as f:
            f.write(APACHE_CONF.format(run=run, port=port, root=root, mods=APACHE_MODULES,
                                       user_lines=user_lines))
        proc = spawn([APACHE, "-f", conf, "-DFOREGROUND"], os.path.join(run, "server.log"))
        if wait_for_port(port, proc):
            record_pid(d, "apache", proc.pid)
            write_env(env_path, {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": root,
                                 "URL": f"http://127.0.0.1:{port}", "DIGEST_URL": f"http://127.0.0.1:{port}/digest"})
            return 0
        stop_group(proc.pid)
    sys.stderr.write("Apache did not start:\n" + tail(os.path.join(run, "server.log"))
                     + tail(os.path.join(run, "error.log")))
    return 1


STARTERS = {"pyftpd": start_pyftpd, "pyftpdx": start_pyftpdx, "pyftpd-limit": start_pyftpd_limit,
            "pureftpd": start_pureftpd, "pureftpd-limit": start_pureftpd_limit,
            "vsftpd": start_vsftpd, "apache": start_apache, "silent": start_silent}


def stop_group(pid):
    """Stops the process group this script started (its leader is `pid`)."""
    try:
        os.killpg(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    except PermissionError:
        return
    for _ in range(50):
        try:
            os.killpg(pid, 0)
        except ProcessLookupError:
            return
        try:
            os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            pass
        time.sleep(0.05)
    try:
        os.killpg(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def stop_sessions(binary, conf):
    wanted = [binary.encode(), conf.encode()]
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                args = f.read().split(b"\0")[:-1]
        except OSError:
            continue
        if args == wanted:
            try:
                os.kill(int(entry), signal.SIGKILL)
            except OSError:
                pass


def stop(d, kind):
    pid_path = os.path.join(d, kind + ".pid")
    try:
        lines = open(pid_path).read().split("\n")
    except OSError:
        return 0
    os.unlink(pid_path)
    pid = int(lines[0])
    stop_group(pid)
    for extra in lines[1:]:
        if extra.startswith("conf:"):
            # vsftpd runs each session in a session of its own, out of the listener's process
            # group: end those still running with this run's own configuration file.
            stop_sessions(VSFTPD, extra[len("conf:"):])
        # The per-run PAM service file of vsftpd: only ever one this script wrote.
        if extra.startswith(os.path.join(PAM_DIR, "dravix-test-vsftpd-")):
            try:
                os.unlink(extra)
            except OSError:
                pass
    return 0


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="cmd", required=True)
    for name in ("start", "stop"):
        p = sub.add_parser(name)
        p.add_argument("kind", choices=sorted(STARTERS))
        p.add_argument("--dir", required=True)
    p = sub.add_parser("serve-ftp")
    p.add_argument("--root", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password-file", required=True)
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--home-below-root", action="store_true")
    p.add_argument("--size-for-folders", action="store_true")
    p.add_argument("--tls-users", action="store_true")
    p.add_argument("--garbled-listings", action="store_true")
    p.add_argument("--max-per-ip", type=int, default=0)
    p = sub.add_parser("serve-silent")
    p.add_argument("--port", type=int, required=True)
    args = parser.parse_args()

    if args.cmd == "serve-ftp":
        serve_ftp(args)
        return 0
    if args.cmd == "serve-silent":
        serve_silent(args)
        return 0
    d = os.path.abspath(args.dir)
    os.makedirs(d, exist_ok=True)
    if args.cmd == "stop":
        return stop(d, args.kind)
    stop(d, args.kind)  # a server left over from an interrupted run in the same folder
    env_path = os.path.join(d, args.kind + ".env")
    try:
        os.unlink(env_path)
    except OSError:
        pass
    return STARTERS[args.kind](d, env_path)


if __name__ == "__main__":
    sys.exit(main())
