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
    pyftpd-away  pyftpdlib as pyftpd, for the one test that takes its server down (DOWN_MARKER)
    pyftpd-lax  pyftpdlib answering less, as some small servers do: no MLST or MLSD (nor in FEAT),
             "LIST -a NAME" answered 550 (the "-a" read as part of the name), every SITE command
             answered 502, and MKD of a folder that exists answered 257 as if it were made
    pureftpd pure-ftpd, a virtual user not locked into its home (ROOT), as a real server shows it;
             run from its Debian package unpacked into the build folder (it conflicts with vsftpd)
    pureftpd-limit  the same with at most 2 connections per address
    proftpd  proftpd without DefaultRoot (Debian's default): the user starts in its home (ROOT)
             and is not locked in; run from its unpacked Debian packages
    proftpd-tls  the same with "TLSRequired on": logins without TLS are refused; a self-signed
             certificate (CERT); every command it got in COMMAND_LOG ("<command> <argument>",
             a password shown as "(hidden)")
    proftpd-ftps  the same speaking implicit TLS from the first byte (URL ftps://)
    proftpd-tls13  proftpd-tls speaking TLS 1.3 only
    proftpd-limit  proftpd taking at most 2 sessions of the user: a third one's login is refused with
             "530 Sorry, the maximum number of clients (2) for this user are already connected."
    pureftpd-tls  pure-ftpd offering TLS beside plain FTP ("-Y 1"), a self-signed certificate (CERT)
    vsftpd   vsftpd (LIST only), a virtual user checked by a per-run PAM service (needs root)
    vsftpd-idle  the same, closing a session that sits idle for two seconds ("421 Timeout.",
             idle_session_timeout=2)
    vsftpd-tls  the same requiring TLS for logins and data, with a certificate for 127.0.0.1
             issued by a test CA made at start (CERT, CA_CERT): no system trusts it
    vsftpd-tls13  vsftpd-tls speaking TLS 1.3 only (Debian's vsftpd has no setting for it: its
             OpenSSL is given a configuration whose MinProtocol is TLSv1.3, by OPENSSL_CONF)
    apache   Apache httpd with mod_dav/mod_dav_fs and Basic authentication (htpasswd); the same
             folder under /digest with Digest authentication (DIGEST_URL)
    apache-tls  the same over HTTPS only, with a certificate that is self-signed, expired and
             for another name (dravix.test) (CERT), speaking HTTP/2 to clients that ask for it
             (as Debian's servers do); PROTOCOL_LOG has a line per request, "<protocol> <method>
             <path>" ("HTTP/1.1 PUT /a.txt", "HTTP/2.0 GET /")
    nginx    nginx with its dav module and the dav-ext module (PROPFIND, OPTIONS), Basic
             authentication
    nginx-core  nginx with only its core dav module (PUT, DELETE, MKCOL, COPY, MOVE): PROPFIND is
             answered 405, so it offers no folder listings
    lighttpd lighttpd with mod_webdav (properties in SQLite), Basic authentication
    davlax   a small WebDAV server (Basic authentication) that behaves the way lax servers seen
             in the field do: it ignores "Overwrite: F" and replaces the destination, answers
             201 to MKCOL of an existing folder, 500 to a PUT into a missing folder, 403 (MOVE)
             or 500 (COPY) for a missing source, 409 to DELETE, COPY and MOVE of a folder
             addressed without its "/" (and 301 to the "/" for PROPFIND), writes "#" and "?" of
             names raw in PROPFIND hrefs and gives folders a length; a PUT writes the file as its
             body arrives (see CUT_UPLOADS_MARKER)
    pyftpd-php  pyftpd whose ROOT lighttpd serves with PHP (php-cgi over mod_cgi) at SITE_URL
             (ROOT/a/b.php is SITE_URL + "a/b.php"); SITE_LOG is lighttpd's access log, a line per
             request written after its answer ("... \"GET /a/b.php HTTP/1.1\" ...")
    silent   a listener that accepts connections and never says a word (for timeouts)
    sshd     OpenSSH's sshd from its unpacked Debian package, with its own configuration and host
             key (HOST_KEY: its public key file; KNOWN_HOSTS: a known_hosts file that has it; it
             also has an ECDSA host key, ECDSA_HOST_KEY, which clients that ask for it get),
             and a system user of its own made for the run (deleted on stop), who logs in with
             a password or with the key CLIENT_HOME/.ssh/id_ed25519; the SFTP session starts in
             ROOT (the "login folder"), SERVED_ROOT is "/"; LOG is sshd's log at LogLevel
             DEBUG1, where every authentication attempt shows as "userauth-request for user
             <name> ... method <method>"; IDLE_URL: a second port of the same server, which
             closes connections idle for about two seconds; PLAIN_RENAME_URL: a third, whose
             SFTP offers posix-rename@openssh.com and refuses it; KBDINT_URL: a fourth, which
             takes the password only as the answer to keyboard-interactive prompts (PAM).
             Fails (no SKIP) when it cannot start here.
    sshd-otp a python3-asyncssh SSH server with SFTP (ROOT), that takes a login only through
             keyboard-interactive prompts, in two rounds: "Password: " (hidden), then, named
             "Two-step verification", the visible prompt "Verification code: " to be answered
             with CODE. Its host key is HOST_KEY (KNOWN_HOSTS has it); LOG gets a line
             "auth-begin <user>" when a login for a user begins (nothing before), then
             "password ok|wrong <user>" and "code ok|wrong <user>" for each answer.

The .env file holds KEY=VALUE lines: PORT, USER, PASSWORD, ROOT (the served folder on disk),
URL, REQUEST_LOG (the server's log of requests, see below), and SKIP=<reason> instead when the
server cannot run here for a reason scripts/setup cannot mend: vsftpd, pure-ftpd and proftpd
need root. A server that scripts/setup provides (its package, its module, the unpacked
pure-ftpd and proftpd) and that is missing or does not start fails its start instead: the
tests that need it then fail too, rather than skip without anyone noticing.

    --bin DIR  where scripts/setup unpacked pure-ftpd and proftpd (<build>/peers-bin; the
               default is peers-bin beside --dir, which is <build>/peers unless told otherwise)

Request logs, for tests that count what reached a server: the pyftpdlib servers write one line per listing
command, "<command> <listed folder>"; vsftpd logs every FTP command with its session's process id
(log_ftp_protocol); Apache writes one line per request, "<method> <path>".
Each start gives a fresh, empty root folder.

Read-only folders: vsftpd, Apache, nginx and lighttpd run as an unprivileged user, so a chmod of a folder makes
their writes fail. pyftpdlib and davlax run as the test's own user, root included, so a folder that holds
a file named READ_ONLY_MARKER (".dravix-read-only") is read-only to its user instead: writing,
appending, deleting, renaming and making folders in it are refused with "550 Not enough
privileges" (davlax: "403 Forbidden", with a line saying why).

Misbehaving FTP servers, armed per folder by a marker file the test puts on pyftpdlib's disk:
    CUT_UPLOADS_MARKER (".dravix-cut-uploads", holding a number of KB, 64 when empty): every
        upload into the folder has its data connection closed by the server once that much has
        arrived, with "426 Connection cut by the server"; the partial file stays on disk. davlax
        heeds it too: a PUT into the folder writes that much of its body into the file and the
        connection is closed without an answer.
    SHORT_UPLOADS_MARKER (".dravix-short-uploads", a number of KB, 64 when empty): uploads into
        the folder keep only that much on disk, and the server still reports success.
    NO_DOT_UPLOADS_MARKER (".dravix-no-dot-uploads"): uploads of names starting with "." are
        refused with "553 Prohibited file name".
    NO_NEW_UPLOADS_MARKER (".dravix-no-new-uploads"): uploads of a name that is not in the
        folder yet are refused with "553 Prohibited file name" (files that are there may be
        written).
    NO_RENAME_OVER_MARKER (".dravix-no-rename-over"): a rename onto a name that exists is
        refused with "550 Cannot rename over an existing file".
    NO_CHMOD_MARKER (".dravix-no-chmod"): SITE CHMOD is refused with "550 Permission denied".
    NO_DELETE_MARKER (".dravix-no-delete"): DELE is refused with "550 Permission denied".
    NO_LIST_NAME_MARKER (".dravix-no-list-name"): LIST (and STAT) of a file in the folder is
        refused with "550 No such file or directory." (a listing of the folder itself still works).
    NO_LIST_MARKER (".dravix-no-list"): every LIST of the folder or of a file in it (and STAT of
        such a file) is refused with "550 Listing not allowed.".
    CANNED_LIST_MARKER (".dravix-canned-list"): LIST of the folder sends the marker file's bytes
        as they are, a listing in whatever form the test wrote (pyftpd-lax lists with LIST only,
        so its listings of such a folder are these bytes).
    DOWN_AFTER_CUT_MARKER (".dravix-down-after-cut"), beside CUT_UPLOADS_MARKER: a cut upload
        into the folder also takes the server down: the control connection is closed, and
        DOWN_MARKER is put into the served root.
    DOWN_MARKER (".dravix-down", in the served root): while it is there, the server closes every
        new connection at once, without a greeting, and every open one at its next command. It
        stops the whole server: only for pyftpd-away, which no other test shares.
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
CUT_UPLOADS_MARKER = ".dravix-cut-uploads"
SHORT_UPLOADS_MARKER = ".dravix-short-uploads"
NO_DOT_UPLOADS_MARKER = ".dravix-no-dot-uploads"
NO_NEW_UPLOADS_MARKER = ".dravix-no-new-uploads"
NO_RENAME_OVER_MARKER = ".dravix-no-rename-over"
NO_CHMOD_MARKER = ".dravix-no-chmod"
NO_DELETE_MARKER = ".dravix-no-delete"
NO_LIST_NAME_MARKER = ".dravix-no-list-name"
NO_LIST_MARKER = ".dravix-no-list"
CANNED_LIST_MARKER = ".dravix-canned-list"
DOWN_AFTER_CUT_MARKER = ".dravix-down-after-cut"
DOWN_MARKER = ".dravix-down"
# Uploads into a folder holding this file arrive at SLOW_UPLOAD_BYTES_PER_SECOND (pyftpdlib only),
# so a test can act while an upload is on its way.
SLOW_UPLOAD_MARKER = ".dravix-slow-upload"
SLOW_UPLOAD_BYTES_PER_SECOND = 1024 * 1024
VSFTPD = "/usr/sbin/vsftpd"
APACHE = "/usr/sbin/apache2"
APACHE_MODULES = "/usr/lib/apache2/modules"
PAM_DIR = "/etc/pam.d"
NGINX = "/usr/sbin/nginx"
NGINX_DAV_EXT = "/usr/lib/nginx/modules/ngx_http_dav_ext_module.so"
LIGHTTPD = "/usr/sbin/lighttpd"
LIGHTTPD_MODULES = "/usr/lib/lighttpd"


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

def marked(fs_path, marker):
    """Whether the folder of a path on disk holds the marker file."""
    return os.path.exists(os.path.join(os.path.dirname(fs_path), marker))


def marker_kb(fs_path, marker):
    """The bytes a marker of the path's folder asks for (its number of KB, 64 when empty), or None."""
    if not marked(fs_path, marker):
        return None
    text = open(os.path.join(os.path.dirname(fs_path), marker)).read().strip()
    return (int(text) if text else 64) * 1024


def serve_ftp(args):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib import handlers as ftp_handlers
    from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
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

    class ShortFile:
        # Keeps the first `limit` bytes written and drops the rest without a word.
        def __init__(self, file, limit):
            self.file, self.limit, self.written = file, limit, 0

        def write(self, chunk):
            keep = chunk[:max(0, self.limit - self.written)]
            self.written += len(chunk)
            if keep:
                self.file.write(keep)
            return len(chunk)

        def __getattr__(self, name):
            return getattr(self.file, name)

    class CuttingDTPHandler(ThrottledDTPHandler):
        # Misbehaves on uploads into folders marked CUT_UPLOADS_MARKER or SHORT_UPLOADS_MARKER,
        # and crawls on uploads into folders marked SLOW_UPLOAD_MARKER.
        read_limit = 0

        def enable_receiving(self, type, cmd):
            self.cut_after = None
            self.read_limit = 0
            name = getattr(self.file_obj, "name", None)
            if isinstance(name, str):
                if marked(name, SLOW_UPLOAD_MARKER):
                    self.read_limit = SLOW_UPLOAD_BYTES_PER_SECOND
                self.cut_after = marker_kb(name, CUT_UPLOADS_MARKER)
                keep = marker_kb(name, SHORT_UPLOADS_MARKER)
                if keep is not None:
                    self.file_obj = ShortFile(self.file_obj, keep)
            super().enable_receiving(type, cmd)

        def handle_read(self):
            super().handle_read()
            if self.cut_after is not None and self.tot_bytes_received >= self.cut_after and not self._closed:
                self._resp = ("426 Connection cut by the server; transfer aborted.", logging.warning)
                control = self.cmd_channel
                self.close()
                name = getattr(self.file_obj, "name", None)
                if isinstance(name, str) and marked(name, DOWN_AFTER_CUT_MARKER):
                    open(os.path.join(args.root, DOWN_MARKER), "w").close()
                    control.close()

        handle_read_event = handle_read  # the base class binds its own handle_read here

        def readable(self):
            # pyftpdlib closes a data connection that reads as ready before its transfer began,
            # taking it for one the client has closed. But its event loop hands out a batch of
            # events at once: one for a connection closed earlier in the batch can reach a
            # connection accepted meanwhile onto the same descriptor, which would then be closed
            # under the client's upload. Only a connection that really ended is closed.
            if not self.receive and not self._initialized:
                try:
                    if self.socket.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT):
                        return False  # bytes ahead of the transfer wait for it
                except (BlockingIOError, InterruptedError):
                    return False  # nothing there: the event was not this connection's
                except OSError:
                    pass
            return super().readable()

    def down():
        return os.path.exists(os.path.join(args.root, DOWN_MARKER))

    class Handler(FTPHandler):
        def handle(self):
            if down():
                self.close()
                return None
            return super().handle()

        def ftp_USER(self, line):
            if args.tls_users and line in tls_replies:
                self.respond(tls_replies[line])
                return
            return super().ftp_USER(line)

        # Names are bytes on the wire, as on disk: a Latin-1 name is listed and found as it is
        # (the default would send "?" for its bad bytes, a name that does not exist).
        unicode_errors = "surrogateescape"

        def push(self, s):
            # Replies that name such a folder ("250 ... is the current directory") too.
            ftp_handlers.asynchat.async_chat.push(self, s.encode("utf8", self.unicode_errors))

        def pre_process_command(self, line, cmd, arg):
            if down():
                self.close()
                return None
            if cmd in ("LIST", "MLSD", "NLST") and self.authenticated:
                names = [a for a in (arg or "").split(" ") if a and not a.startswith("-")]
                folder = self.fs.ftpnorm(" ".join(names)) if names else self.fs.cwd
                with open(args.request_log, "a", encoding="utf-8", errors="surrogateescape") as log:
                    log.write(f"{cmd} {folder}\n")
            if args.lax and self.authenticated:
                if cmd == "SITE":
                    self.respond("502 Command not implemented.")
                    return None
                if cmd == "LIST" and arg.startswith("-") and " " in arg.strip():
                    # "-a NAME" taken for one name, which is not there.
                    self.respond("550 No such file or directory.")
                    return None
            return super().pre_process_command(line, cmd, arg)

        def ftp_LIST(self, path):
            folder = path if self.fs.isdir(path) else os.path.dirname(path)
            if os.path.exists(os.path.join(folder, NO_LIST_MARKER)):
                self.respond("550 Listing not allowed.")
                return None
            if not self.fs.isdir(path) and marked(path, NO_LIST_NAME_MARKER):
                self.respond("550 No such file or directory.")
                return None
            canned = os.path.join(folder, CANNED_LIST_MARKER)
            if self.fs.isdir(path) and os.path.exists(canned):
                with open(canned, "rb") as f:
                    self.push_dtp_data(f.read(), isproducer=False, cmd="LIST")
                return path
            return super().ftp_LIST(path)

        def ftp_STAT(self, path):
            # A server that will not list a name does not show it through STAT either.
            if path and not self.fs.isdir(path):
                if os.path.exists(os.path.join(os.path.dirname(path), NO_LIST_MARKER)):
                    self.respond("550 Listing not allowed.")
                    return None
                if marked(path, NO_LIST_NAME_MARKER):
                    self.respond("550 No such file or directory.")
                    return None
            return super().ftp_STAT(path)

        def ftp_MKD(self, path):
            if args.lax and self.fs.isdir(path):
                self.respond('257 "%s" directory created.' % self.fs.fs2ftp(path).replace('"', '""'))
                return path
            return super().ftp_MKD(path)

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

        def ftp_STOR(self, file, mode="w"):
            if os.path.basename(file).startswith(".") and marked(file, NO_DOT_UPLOADS_MARKER):
                self.respond("553 Prohibited file name.")
                return None
            if not os.path.lexists(file) and marked(file, NO_NEW_UPLOADS_MARKER):
                self.respond("553 Prohibited file name.")
                return None
            return super().ftp_STOR(file, mode)

        def ftp_RNTO(self, path):
            if self._rnfr and os.path.lexists(path) and marked(path, NO_RENAME_OVER_MARKER):
                self._rnfr = None
                self.respond("550 Cannot rename over an existing file.")
                return None
            return super().ftp_RNTO(path)

        def ftp_DELE(self, path):
            if marked(path, NO_DELETE_MARKER):
                self.respond("550 Permission denied.")
                return None
            return super().ftp_DELE(path)

        def ftp_SITE_CHMOD(self, path, mode):
            if marked(path, NO_CHMOD_MARKER):
                self.respond("550 Permission denied.")
                return None
            return super().ftp_SITE_CHMOD(path, mode)

    if fs_class is not None:
        Handler.abstracted_fs = fs_class
    if args.lax:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in ("MLSD", "MLST")}
    Handler.dtp_handler = CuttingDTPHandler
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


def serve_davlax(args):
    import base64
    import email.utils
    import http.server
    import socketserver
    import urllib.parse
    from xml.sax.saxutils import escape
    password = open(args.password_file, encoding="utf-8").read().strip()
    expected = "Basic " + base64.b64encode(f"{args.user}:{password}".encode()).decode()
    root = os.path.realpath(args.root)

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *a):
            sys.stderr.write("%s %s\n" % (self.command, self.path))

        def answer(self, code, body=b"", headers=()):
            self.send_response(code)
            for k, v in headers:
                self.send_header(k, v)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if body and self.command != "HEAD":
                self.wfile.write(body)

        def url_path(self, raw):
            if "://" in raw:
                raw = "/" + raw.split("://", 1)[1].partition("/")[2]
            return urllib.parse.unquote(raw, errors="surrogateescape")

        def disk(self, path):
            p = os.path.realpath(os.path.join(root, path.lstrip("/")))
            return p if p == root or p.startswith(root + "/") else None

        def body(self):
            n = int(self.headers.get("Content-Length") or 0)
            return self.rfile.read(n) if n else b""

        def handle_one_request(self):
            try:
                super().handle_one_request()
            except (ConnectionError, BrokenPipeError):
                self.close_connection = True

        def dispatch(self):
            if self.command == "PUT" and self.headers.get("Authorization") == expected and self.cut_put():
                return
            data = self.body()
            if self.headers.get("Authorization") != expected:
                return self.answer(401, headers=[("WWW-Authenticate", 'Basic realm="dravix lax"')])
            path = self.url_path(self.path)
            target = self.disk(path)
            if target is None:
                return self.answer(403)
            if self.command in ("PUT", "DELETE", "MKCOL", "MOVE", "COPY", "PROPPATCH"):
                changed = [target] if self.command != "COPY" else []
                dest = self.headers.get("Destination")
                if dest and self.command in ("MOVE", "COPY"):
                    changed.append(self.disk(self.url_path(dest)) or target)
                if any(self.read_only(c) for c in changed):
                    return self.answer(403, b"Not enough privileges: the folder is read-only\n",
                                       [("Content-Type", "text/plain")])
            getattr(self, "do_" + self.command.lower() + "_")(path, target, data)

        def read_only(self, disk):
            # A folder that holds READ_ONLY_MARKER takes no changes, of itself or of what it holds.
            folders = [os.path.dirname(disk)] + ([disk] if os.path.isdir(disk) else [])
            return any(os.path.exists(os.path.join(f, READ_ONLY_MARKER)) for f in folders)

        def cut_put(self):
            # A PUT into a folder marked CUT_UPLOADS_MARKER: what arrives goes straight into the
            # file, and the connection is dropped without an answer once the marker's amount came.
            disk = self.disk(self.url_path(self.path))
            limit = marker_kb(disk, CUT_UPLOADS_MARKER) if disk else None
            if limit is None:
                return False
            length = int(self.headers.get("Content-Length") or 0)
            with open(disk, "wb") as f:
                f.write(self.rfile.read(min(length, limit)))
            self.close_connection = True
            return True

        def href(self, path, folder):
            # Lax: only spaces, "%" and non-ASCII are escaped; "#" and "?" go out raw.
            h = urllib.parse.quote(path, safe="/#?&'=+;:@$!*(),", errors="surrogateescape")
            return h + ("/" if folder and not h.endswith("/") else "")

        def response_xml(self, path, disk):
            st = os.stat(disk)
            folder = os.path.isdir(disk)
            kind = "<D:resourcetype><D:collection/></D:resourcetype>" if folder else "<D:resourcetype/>"
            modified = email.utils.formatdate(st.st_mtime, usegmt=True)
            return (f"<D:response><D:href>{escape(self.href(path, folder))}</D:href><D:propstat><D:prop>{kind}"
                    f"<D:getcontentlength>{st.st_size}</D:getcontentlength>"
                    f"<D:getlastmodified>{modified}</D:getlastmodified></D:prop>"
                    f"<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>")

        def do_propfind_(self, path, disk, data):
            if not os.path.exists(disk):
                return self.answer(404)
            if self.folder_without_slash(path, disk):
                location = f"http://127.0.0.1:{args.port}" + self.path.partition("?")[0] + "/"
                return self.answer(301, headers=[("Location", location)])
            parts = [self.response_xml(path, disk)]
            if os.path.isdir(disk) and self.headers.get("Depth", "infinity") != "0":
                for name in sorted(os.listdir(disk)):
                    parts.append(self.response_xml(path.rstrip("/") + "/" + name, os.path.join(disk, name)))
            body = ('<?xml version="1.0" encoding="utf-8"?><D:multistatus xmlns:D="DAV:">'
                    + "".join(parts) + "</D:multistatus>").encode()
            self.answer(207, body, [("Content-Type", "application/xml; charset=utf-8")])

        def do_get_(self, path, disk, data):
            if not os.path.isfile(disk):
                return self.answer(404)
            # The length and the bytes of one and the same file: a test that puts another file
            # in its place meanwhile must not make the answer longer than it says.
            with open(disk, "rb") as f:
                size = os.fstat(f.fileno()).st_size
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(size))
                self.end_headers()
                if self.command != "HEAD":
                    left = size
                    while left > 0:
                        chunk = f.read(min(left, 1 << 16))
                        if not chunk:
                            self.close_connection = True  # cut short: the client sees it end
                            break
                        self.wfile.write(chunk)
                        left -= len(chunk)

        def do_put_(self, path, disk, data):
            if not os.path.isdir(os.path.dirname(disk)):
                return self.answer(500)
            if os.path.isdir(disk):
                return self.answer(405)
            existed = os.path.exists(disk)
            with open(disk, "wb") as f:
                f.write(data)
            self.answer(204 if existed else 201)

        def do_mkcol_(self, path, disk, data):
            if not os.path.isdir(os.path.dirname(disk.rstrip("/"))):
                return self.answer(409)
            if os.path.isdir(disk):
                return self.answer(201)  # lax: "created" although it was there
            if os.path.exists(disk):
                return self.answer(405)
            os.mkdir(disk)
            self.answer(201)

        def folder_without_slash(self, path, disk):
            return os.path.isdir(disk) and not path.endswith("/")

        def do_delete_(self, path, disk, data):
            if not os.path.lexists(disk):
                return self.answer(404)
            if self.folder_without_slash(path, disk):
                return self.answer(409)
            if os.path.isdir(disk) and not os.path.islink(disk):
                shutil.rmtree(disk)
            else:
                os.unlink(disk)
            self.answer(204)

        def transfer(self, path, disk, move):
            if not os.path.lexists(disk):
                return self.answer(403 if move else 500)
            if self.folder_without_slash(path, disk):
                return self.answer(409)
            dest_path = self.url_path(self.headers.get("Destination", ""))
            dest = self.disk(dest_path)
            if dest is None or not os.path.isdir(os.path.dirname(dest.rstrip("/"))):
                return self.answer(409)
            # Lax: "Overwrite: F" is not looked at.
            existed = os.path.lexists(dest)
            if existed:
                shutil.rmtree(dest) if os.path.isdir(dest) else os.unlink(dest)
            if move:
                os.rename(disk, dest)
            elif os.path.isdir(disk):
                shutil.copytree(disk, dest, symlinks=True)
            else:
                shutil.copy2(disk, dest)
            self.answer(204 if existed else 201)

        def do_copy_(self, path, disk, data):
            self.transfer(path, disk, False)

        def do_move_(self, path, disk, data):
            self.transfer(path, disk, True)

        def do_options_(self, path, disk, data):
            self.answer(200, headers=[("DAV", "1"), ("Allow", "OPTIONS, GET, PUT, DELETE, MKCOL, COPY, MOVE, PROPFIND")])

    for verb in ("GET", "HEAD", "PUT", "DELETE", "MKCOL", "COPY", "MOVE", "PROPFIND", "OPTIONS"):
        setattr(Handler, "do_" + verb, Handler.dispatch)
    Handler.do_head_ = Handler.do_get_

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        allow_reuse_address = True

    os.umask(0)
    Server(("127.0.0.1", args.port), Handler).serve_forever()


# ---- start and stop --------------------------------------------------------------------------

def missing(what):
    """A server scripts/setup provides is not there: the start fails, and says why."""
    sys.stderr.write(f"{what}; scripts/setup provides it\n")
    return 1


def peers_bin(d):
    """Where scripts/setup unpacked the servers that run from their packages' files (see --bin)."""
    return PEERS_BIN


def record_pid(d, kind, pid, extra=None):
    with open(os.path.join(d, kind + ".pid"), "w") as f:
        f.write(str(pid) + "\n")
        if extra:
            f.write(extra + "\n")


def start_pyftpd(d, env_path, kind="pyftpd", extra=()):
    try:
        import pyftpdlib  # noqa: F401
    except ImportError:
        return missing(f"pyftpdlib is not installed for {PYTHON} (package python3-pyftpdlib)")
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
        request_log = os.path.join(run, "requests.log")
        proc = spawn([PYTHON, os.path.abspath(__file__), "serve-ftp", "--root", root, "--user", user,
                      "--password-file", pw_file, "--port", str(port), "--request-log", request_log, *extra],
                     os.path.join(run, "server.log"))
        if wait_for_port(port, proc):
            record_pid(d, kind, proc.pid)
            values = {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": root,
                      "URL": f"ftp://127.0.0.1:{port}", "REQUEST_LOG": request_log}
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


def start_pyftpd_away(d, env_path):
    return start_pyftpd(d, env_path, "pyftpd-away")


def start_pyftpd_lax(d, env_path):
    return start_pyftpd(d, env_path, "pyftpd-lax", ("--lax",))


# Where scripts/setup unpacked pure-ftpd and proftpd (see --bin).
PEERS_BIN = None


def pure_ftpd_dir():
    """The pure-ftpd package, installed or unpacked by scripts/setup, or None."""
    for base in ("/", os.path.join(PEERS_BIN, "pure-ftpd")):
        if os.access(os.path.join(base, "usr/sbin/pure-ftpd"), os.X_OK) and \
                os.access(os.path.join(base, "usr/bin/pure-pw"), os.X_OK):
            return base
    return None


def start_pureftpd(d, env_path, kind="pureftpd", extra=()):
    base = pure_ftpd_dir()
    if base is None:
        return missing(f"pure-ftpd is not unpacked in {PEERS_BIN}")
    if os.geteuid() != 0:
        write_env(env_path, {"SKIP": "pure-ftpd needs root here (it changes to the virtual user's id)"})
        return 0
    run = fresh_dir(os.path.join(d, kind))
    served = fresh_dir(os.path.join(run, "root"), 0o777)
    home = fresh_dir(os.path.join(served, "home", "dravix"), 0o777)
    user, password = "dravix", "pw-" + secrets.token_hex(8)
    values = {}
    if kind == "pureftpd-tls":
        cert, _ = make_certificate(run)
        # pure-ftpd reads the key and the certificate from one file.
        both = os.path.join(run, "pure-ftpd.pem")
        with open(both, "w") as f:
            f.write(open(os.path.join(run, "key.pem")).read() + open(cert).read())
        os.chmod(both, 0o600)
        extra = (*extra, "-Y", "1", "-2", both)
        values["CERT"] = cert
    passwd, pdb = os.path.join(run, "passwd"), os.path.join(run, "passwd.pdb")
    # "-D home": a home the user is not locked into (-d would lock it in).
    # The password line written directly: pure-pw hashes with argon2 at a cost of seconds per
    # login, SHA-512 crypt with few rounds keeps each login quick.
    with open(passwd, "w") as f:
        f.write(f"{user}:{sha512_crypt(password)}:65534:65534::{home}::::::::::::\n")
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
                                 "SERVED_ROOT": "/", "URL": f"ftp://127.0.0.1:{port}", **values})
            return 0
        stop_group(proc.pid)
    sys.stderr.write("pure-ftpd did not start:\n" + tail(os.path.join(run, "server.log")))
    return 1


def make_certificate(run, issued_by_test_ca=False):
    """cert.pem and key.pem in `run` for 127.0.0.1 (name and address): self-signed, or issued by
    a test CA made here (ca.pem), which nothing trusts. Returns the certificate's and the CA's
    paths (the CA's None when self-signed)."""
    cert, key = os.path.join(run, "cert.pem"), os.path.join(run, "key.pem")
    names = os.path.join(run, "names.ext")
    with open(names, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    quiet = {"check": True, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    ca = None
    if issued_by_test_ca:
        ca, ca_key = os.path.join(run, "ca.pem"), os.path.join(run, "ca-key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Dravix Test CA", "-keyout", ca_key, "-out", ca], **quiet)
        request = os.path.join(run, "cert.csr")
        subprocess.run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
                        "-keyout", key, "-out", request], **quiet)
        subprocess.run(["openssl", "x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key,
                        "-CAcreateserial", "-days", "2", "-extfile", names, "-out", cert], **quiet)
    else:
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                        "-keyout", key, "-out", cert], **quiet)
    os.chmod(key, 0o600)
    return cert, ca


def make_faulty_certificate(run):
    """cert.pem and key.pem in `run`: self-signed, expired a day ago, and for another name
    (dravix.test) than the address the server is reached at: every fault at once."""
    import datetime
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.x509.oid import NameOID
    key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "dravix.test")])
    now = datetime.datetime.utcnow()
    cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(key.public_key())
            .serial_number(x509.random_serial_number())
            .not_valid_before(now - datetime.timedelta(days=3)).not_valid_after(now - datetime.timedelta(days=1))
            .add_extension(x509.SubjectAlternativeName([x509.DNSName("dravix.test")]), critical=False)
            .sign(key, hashes.SHA256()))
    cert_path, key_path = os.path.join(run, "cert.pem"), os.path.join(run, "key.pem")
    with open(cert_path, "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.PEM))
    with open(key_path, "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.TraditionalOpenSSL,
                                  serialization.NoEncryption()))
    os.chmod(key_path, 0o600)
    return cert_path


PROFTPD_CONF = """\
ServerType standalone
ServerName "dravix test proftpd"
Port {port}
DefaultAddress 127.0.0.1
SocketBindTight on
UseIPv6 off
User nobody
Group nogroup
PidFile {run}/proftpd.pid
ScoreboardFile {run}/proftpd.scoreboard
DelayTable none
WtmpLog off
TransferLog none
SystemLog {run}/system.log
ModulePath {base}/usr/lib/proftpd
AuthOrder mod_auth_file.c
AuthUserFile {run}/passwd
AuthGroupFile {run}/group
RequireValidShell off
UseReverseDNS off
AllowOverwrite on
Umask 000
MaxInstances 100
ListOptions "-a"
{tls}
"""

PROFTPD_TLS = """\
LoadModule mod_tls.c
TLSEngine on
TLSRequired on
TLSRSACertificateFile {run}/cert.pem
TLSRSACertificateKeyFile {run}/key.pem
TLSLog {run}/tls.log
LogFormat commands "%m %J"
ExtendedLog {run}/commands.log ALL commands
"""


def sha512_crypt(password):
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        import crypt
        return crypt.crypt(password, crypt.mksalt(crypt.METHOD_SHA512, rounds=1000))


def start_proftpd(d, env_path, kind="proftpd"):
    base = os.path.join(PEERS_BIN, "proftpd")
    binary = os.path.join(base, "usr/sbin/proftpd")
    if not os.access(binary, os.X_OK):
        return missing(f"proftpd is not unpacked in {PEERS_BIN}")
    if os.geteuid() != 0:
        write_env(env_path, {"SKIP": "proftpd needs root here (it changes to the user's id)"})
        return 0
    tls = kind in ("proftpd-tls", "proftpd-ftps", "proftpd-tls13")
    run = fresh_dir(os.path.join(d, kind))  # 0755: proftpd refuses files in a world-writable folder
    served = fresh_dir(os.path.join(run, "root"), 0o777)
    home = fresh_dir(os.path.join(served, "home", "dravix"), 0o777)
    user, password = "dravix", "pw-" + secrets.token_hex(8)
    with open(os.path.join(run, "passwd"), "w") as f:
        f.write(f"{user}:{sha512_crypt(password)}:65534:65534::{home}:/bin/false\n")
    with open(os.path.join(run, "group"), "w") as f:
        f.write("nogroup:x:65534:\n")
    os.chmod(os.path.join(run, "passwd"), 0o600)
    os.chmod(os.path.join(run, "group"), 0o600)
    if tls:
        make_certificate(run)
    for _ in range(5):
        port = free_port()
        conf = os.path.join(run, "proftpd.conf")
        with open(conf, "w") as f:
            tls_conf = PROFTPD_TLS.format(run=run) if tls else ""
            if kind == "proftpd-ftps":
                tls_conf += "TLSOptions UseImplicitSSL\n"
            if kind == "proftpd-tls13":
                tls_conf += "TLSProtocol TLSv1.3\n"
            if kind == "proftpd-limit":
                tls_conf += "MaxClientsPerUser 2\n"
            f.write(PROFTPD_CONF.format(port=port, run=run, base=base, tls=tls_conf))
        proc = spawn([binary, "-n", "-c", conf], os.path.join(run, "server.log"))
        if wait_for_port(port, proc):
            record_pid(d, kind, proc.pid)
            scheme = "ftps" if kind == "proftpd-ftps" else "ftp"
            values = {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": home,
                      "SERVED_ROOT": "/", "URL": f"{scheme}://127.0.0.1:{port}"}
            if tls:
                values.update({"CERT": os.path.join(run, "cert.pem"),
                               "COMMAND_LOG": os.path.join(run, "commands.log")})
            write_env(env_path, values)
            return 0
        stop_group(proc.pid)
    sys.stderr.write("proftpd did not start:\n" + tail(os.path.join(run, "server.log")))
    return 1


def start_proftpd_tls(d, env_path):
    return start_proftpd(d, env_path, "proftpd-tls")


def start_proftpd_limit(d, env_path):
    return start_proftpd(d, env_path, "proftpd-limit")


def start_proftpd_tls13(d, env_path):
    return start_proftpd(d, env_path, "proftpd-tls13")


def start_vsftpd_idle(d, env_path):
    return start_vsftpd(d, env_path, "vsftpd-idle", idle=2)


def start_proftpd_ftps(d, env_path):
    return start_proftpd(d, env_path, "proftpd-ftps")


def start_pureftpd_limit(d, env_path):
    return start_pureftpd(d, env_path, "pureftpd-limit", ("-C", "2"))


def start_pureftpd_tls(d, env_path):
    return start_pureftpd(d, env_path, "pureftpd-tls")


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


SSHD_CONF = """\
ListenAddress 127.0.0.1:{port}
ListenAddress 127.0.0.1:{idle_port}
ListenAddress 127.0.0.1:{plain_port}
ListenAddress 127.0.0.1:{kbd_port}
AddressFamily inet
HostKey {run}/ssh_host_ed25519_key
HostKey {run}/ssh_host_ecdsa_key
PidFile {run}/sshd.pid
LogLevel DEBUG1
# PAM (the system's "other" service: pam_unix) answers keyboard-interactive logins.
UsePAM yes
UseDNS no
PermitRootLogin no
AllowUsers {user}
PasswordAuthentication yes
KbdInteractiveAuthentication no
PubkeyAuthentication yes
AuthorizedKeysFile {run}/authorized_keys
StrictModes no
PrintMotd no
MaxStartups 200
MaxSessions 100
MaxAuthTries 6
Subsystem sftp internal-sftp -d {home} -u 022
# The second port closes a connection that lies idle for about two seconds.
Match LocalPort {idle_port}
    ClientAliveInterval 1
    ClientAliveCountMax 1
# The third one offers posix-rename@openssh.com but refuses it, as some servers do.
Match LocalPort {plain_port}
    ForceCommand internal-sftp -d {home} -u 022 -P posix-rename
# The fourth one takes the password only through keyboard-interactive prompts.
Match LocalPort {kbd_port}
    PasswordAuthentication no
    PubkeyAuthentication no
    KbdInteractiveAuthentication yes
"""


def serve_sshd_otp(args):
    import asyncio
    import asyncssh

    password = open(args.password_file).read().strip()
    code = open(args.code_file).read().strip()
    log = open(args.log, "a", buffering=1)

    class Server(asyncssh.SSHServer):
        def begin_auth(self, username):
            log.write(f"auth-begin {username}\n")
            self.stage = 0
            return True

        def password_auth_supported(self):
            return False

        def public_key_auth_supported(self):
            return False

        def kbdint_auth_supported(self):
            return True

        def get_kbdint_challenge(self, username, lang, submethods):
            self.stage = 0
            return "", "", "", [("Password: ", False)]

        def validate_kbdint_response(self, username, responses):
            if self.stage == 0:
                ok = username == args.user and list(responses) == [password]
                log.write(f"password {'ok' if ok else 'wrong'} {username}\n")
                if not ok:
                    return False
                self.stage = 1
                return ("Two-step verification", "Enter the code from your authenticator app.", "",
                        [("Verification code: ", True)])
            ok = list(responses) == [code]
            log.write(f"code {'ok' if ok else 'wrong'} {username}\n")
            return ok

    async def main():
        await asyncssh.create_server(Server, "127.0.0.1", args.port, server_host_keys=[args.host_key],
                                     sftp_factory=lambda chan: asyncssh.SFTPServer(chan, chroot=args.root),
                                     allow_scp=False)
        await asyncio.Event().wait()

    asyncio.run(main())


def start_sshd_otp(d, env_path):
    try:
        import asyncssh
    except ImportError:
        sys.stderr.write("python3-asyncssh is not installed (scripts/setup installs it)\n")
        return 1
    run = fresh_dir(os.path.join(d, "sshd-otp"))
    root = fresh_dir(os.path.join(run, "root"), 0o755)
    user, password, code = "otp" + secrets.token_hex(4), "pw-" + secrets.token_hex(8), str(secrets.randbelow(900000) + 100000)
    password_file, code_file = os.path.join(run, "password"), os.path.join(run, "code")
    for path, value in ((password_file, password), (code_file, code)):
        with open(path, "w") as f:
            f.write(value)
    host_key = os.path.join(run, "host_key")
    subprocess.run(["ssh-keygen", "-q", "-N", "", "-t", "ed25519", "-f", host_key], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    host_pub = open(host_key + ".pub").read().split()
    log = os.path.join(run, "auth.log")
    open(log, "w").close()
    for _ in range(5):
        port = free_port()
        proc = spawn([PYTHON, os.path.abspath(__file__), "serve-sshd-otp", "--port", str(port), "--root", root,
                      "--user", user, "--password-file", password_file, "--code-file", code_file,
                      "--host-key", host_key, "--log", log], os.path.join(run, "server.log"))
        if wait_for_port(port, proc):
            record_pid(d, "sshd-otp", proc.pid)
            known = os.path.join(run, "known_hosts")
            with open(known, "w") as f:
                f.write(f"[127.0.0.1]:{port} {host_pub[0]} {host_pub[1]}\n")
            write_env(env_path, {"PORT": port, "USER": user, "PASSWORD": password, "CODE": code, "ROOT": root,
                                 "URL": f"sftp://127.0.0.1:{port}", "HOST_KEY": host_key + ".pub",
                                 "KNOWN_HOSTS": known, "LOG": log})
            return 0
        stop_group(proc.pid)
    sys.stderr.write("the asyncssh server did not start:\n" + tail(os.path.join(run, "server.log")))
    return 1


def sshd_dir(d):
    """The unpacked openssh-server package (scripts/setup puts it there)."""
    return os.path.join(peers_bin(d), "openssh-server")


def quiet_run(args):
    return subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=False)


def start_sshd(d, env_path):
    # No SKIP here: a machine that runs the suite must be able to run this server.
    base = sshd_dir(d)
    binary = os.path.join(base, "usr/sbin/sshd")
    if not os.access(binary, os.X_OK):
        sys.stderr.write(f"sshd is not unpacked in {base} (scripts/setup does it)\n")
        return 1
    if os.geteuid() != 0:
        sys.stderr.write("sshd needs root here (it switches to the test user)\n")
        return 1
    run = fresh_dir(os.path.join(d, "sshd"))
    served = fresh_dir(os.path.join(run, "root"), 0o755)
    home = fresh_dir(os.path.join(served, "home"), 0o777)
    # sshd's privilege separation: its user and empty folder, as the Debian package makes them.
    if quiet_run(["getent", "passwd", "sshd"]).returncode != 0:
        made = quiet_run(["useradd", "--system", "--no-create-home", "--home-dir", "/run/sshd",
                          "--shell", "/usr/sbin/nologin", "sshd"])
        if made.returncode != 0 and quiet_run(["getent", "passwd", "sshd"]).returncode != 0:
            sys.stderr.write("could not make the user sshd: " + made.stderr.decode(errors="replace"))
            return 1
    os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
    # A user of this run only, so that runs side by side never change each other's password.
    user, password = "dvx" + secrets.token_hex(5), "pw-" + secrets.token_hex(8)
    made = quiet_run(["useradd", "--system", "--no-create-home", "--home-dir", home, "--shell",
                      "/usr/sbin/nologin", "--gid", "nogroup", "--password", sha512_crypt(password), user])
    if made.returncode != 0:
        sys.stderr.write(f"could not make the user {user}: " + made.stderr.decode(errors="replace"))
        return 1
    keygen = lambda *a: subprocess.run(["ssh-keygen", "-q", "-N", "", *a], check=True,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    host_key = os.path.join(run, "ssh_host_ed25519_key")
    keygen("-t", "ed25519", "-C", "dravix test host", "-f", host_key)
    # A second host key of another type: clients that know only that one are shown it.
    ecdsa_key = os.path.join(run, "ssh_host_ecdsa_key")
    keygen("-t", "ecdsa", "-C", "dravix test host", "-f", ecdsa_key)
    client_home = fresh_dir(os.path.join(run, "client-home"), 0o755)
    client_key = os.path.join(fresh_dir(os.path.join(client_home, ".ssh"), 0o700), "id_ed25519")
    keygen("-t", "ed25519", "-C", "dravix test client", "-f", client_key)
    shutil.copyfile(client_key + ".pub", os.path.join(run, "authorized_keys"))
    os.chmod(os.path.join(run, "authorized_keys"), 0o644)
    host_pub = open(host_key + ".pub").read().split()
    log = os.path.join(run, "sshd.log")
    for _ in range(5):
        port, idle_port, plain_port, kbd_port = free_port(), free_port(), free_port(), free_port()
        conf = os.path.join(run, "sshd_config")
        with open(conf, "w") as f:
            f.write(SSHD_CONF.format(port=port, idle_port=idle_port, plain_port=plain_port, kbd_port=kbd_port, run=run, user=user,
                                     home=home))
        known = os.path.join(run, "known_hosts")
        with open(known, "w") as f:
            # Any port of 127.0.0.1: tests reach the server through relays on ports of their own.
            f.write(f"[127.0.0.1]:* {host_pub[0]} {host_pub[1]}\n")
        proc = spawn([binary, "-D", "-e", "-f", conf, "-E", log], os.path.join(run, "server.log"))
        if all(wait_for_port(p, proc) for p in (port, idle_port, plain_port, kbd_port)):
            record_pid(d, "sshd", proc.pid, "user:" + user)
            write_env(env_path, {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": home,
                                 "SERVED_ROOT": "/", "URL": f"sftp://127.0.0.1:{port}",
                                 "IDLE_URL": f"sftp://127.0.0.1:{idle_port}",
                                 "PLAIN_RENAME_URL": f"sftp://127.0.0.1:{plain_port}",
                                 "KBDINT_URL": f"sftp://127.0.0.1:{kbd_port}",
                                 "HOST_KEY": host_key + ".pub", "ECDSA_HOST_KEY": ecdsa_key + ".pub",
                                 "KNOWN_HOSTS": known,
                                 "CLIENT_HOME": client_home, "LOG": log})
            return 0
        stop_group(proc.pid)
    quiet_run(["userdel", user])
    sys.stderr.write("sshd did not start:\n" + tail(os.path.join(run, "server.log")) + tail(log))
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
xferlog_enable=YES
xferlog_std_format=NO
log_ftp_protocol=YES
dirmessage_enable=NO
hide_ids=NO
max_clients=200
max_per_ip=0
idle_session_timeout={idle}
data_connection_timeout=120
vsftpd_log_file={run}/vsftpd.log
{tls}"""

VSFTPD_TLS = """\
ssl_enable=YES
allow_anon_ssl=NO
force_local_logins_ssl=YES
force_local_data_ssl=YES
ssl_tlsv1=YES
ssl_sslv2=NO
ssl_sslv3=NO
ssl_ciphers=HIGH
rsa_cert_file={cert}
rsa_private_key_file={key}
"""

# The OpenSSL configuration of vsftpd-tls13: the system's default section with TLS 1.3 as the
# least version.
VSFTPD_TLS13_OPENSSL = """\
openssl_conf = dravix_init

[dravix_init]
ssl_conf = dravix_ssl

[dravix_ssl]
system_default = dravix_tls13

[dravix_tls13]
MinProtocol = TLSv1.3
"""


def start_vsftpd(d, env_path, kind="vsftpd", idle=600):
    if not os.path.exists(VSFTPD):
        return missing(f"vsftpd is not installed ({VSFTPD}, package vsftpd)")
    if os.geteuid() != 0:
        write_env(env_path, {"SKIP": "vsftpd needs root here (PAM virtual user, chroot); run the tests as root"})
        return 0
    run = fresh_dir(os.path.join(d, kind))
    root = fresh_dir(os.path.join(run, "root"), 0o777)
    os.makedirs("/var/run/vsftpd/empty", exist_ok=True)
    tls, values, env = "", {}, None
    if kind in ("vsftpd-tls", "vsftpd-tls13"):
        cert, ca = make_certificate(run, issued_by_test_ca=True)
        tls = VSFTPD_TLS.format(cert=cert, key=os.path.join(run, "key.pem"))
        values = {"CERT": cert, "CA_CERT": ca}
    if kind == "vsftpd-tls13":
        openssl_conf = os.path.join(run, "openssl.cnf")
        with open(openssl_conf, "w") as f:
            f.write(VSFTPD_TLS13_OPENSSL)
        env = dict(os.environ, OPENSSL_CONF=openssl_conf)
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
                                       pasv_min=pasv_min, pasv_max=pasv_min + 200, idle=idle, tls=tls))
        os.chmod(conf, 0o600)
        proc = spawn([VSFTPD, conf], os.path.join(run, "server.log"), env=env)
        if wait_for_port(port, proc):
            record_pid(d, kind, proc.pid, pam_file + "\nconf:" + conf)
            write_env(env_path, {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": root,
                                 "URL": f"ftp://127.0.0.1:{port}",
                                 "REQUEST_LOG": os.path.join(run, "vsftpd.log"), **values})
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
{tls}
{user_lines}
ErrorLog "{run}/error.log"
LogLevel warn
LogFormat "%m %U" requests
CustomLog "{run}/requests.log" requests
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


APACHE_TLS = """\
LoadModule ssl_module {mods}/mod_ssl.so
LoadModule http2_module {mods}/mod_http2.so
Protocols h2 http/1.1
SSLEngine on
SSLCertificateFile "{cert}"
SSLCertificateKeyFile "{key}"
LogFormat "%H %m %U" protocols
CustomLog "{run}/protocols.log" protocols
"""


def start_apache_tls(d, env_path):
    return start_apache(d, env_path, "apache-tls")


def start_apache(d, env_path, kind="apache"):
    if not os.path.exists(APACHE):
        return missing(f"Apache is not installed ({APACHE}, package apache2)")
    for mod in ("mod_dav.so", "mod_dav_fs.so", "mod_mpm_event.so", "mod_auth_basic.so"):
        if not os.path.exists(os.path.join(APACHE_MODULES, mod)):
            return missing(f"Apache module {mod} is missing in {APACHE_MODULES}")
    htpasswd = shutil.which("htpasswd") or "/usr/bin/htpasswd"
    if not os.path.exists(htpasswd):
        return missing("htpasswd is not installed (package apache2-utils)")
    run = fresh_dir(os.path.join(d, kind), 0o755)
    root = fresh_dir(os.path.join(run, "root"), 0o777)
    fresh_dir(os.path.join(run, "locks"), 0o777)
    tls, scheme, values = "", "http", {}
    if kind == "apache-tls":
        cert = make_faulty_certificate(run)
        tls = APACHE_TLS.format(mods=APACHE_MODULES, cert=cert, key=os.path.join(run, "key.pem"), run=run)
        scheme, values = "https", {"CERT": cert, "PROTOCOL_LOG": os.path.join(run, "protocols.log")}
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
                                       user_lines=user_lines, tls=tls))
        proc = spawn([APACHE, "-f", conf, "-DFOREGROUND"], os.path.join(run, "server.log"))
        if wait_for_port(port, proc):
            record_pid(d, kind, proc.pid)
            write_env(env_path, {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": root,
                                 "URL": f"{scheme}://127.0.0.1:{port}",
                                 "DIGEST_URL": f"{scheme}://127.0.0.1:{port}/digest",
                                 "REQUEST_LOG": os.path.join(run, "requests.log"), **values})
            return 0
        stop_group(proc.pid)
    sys.stderr.write("Apache did not start:\n" + tail(os.path.join(run, "server.log"))
                     + tail(os.path.join(run, "error.log")))
    return 1


def answers_http(port, proc):
    """True once the server answers an HTTP request at all (some bind first and may still fail
    on their configuration afterwards)."""
    deadline = time.monotonic() + 15.0
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=2.0) as s:
                s.sendall(b"OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
                if s.recv(16).startswith(b"HTTP/"):
                    return proc.poll() is None
        except OSError:
            pass
        time.sleep(0.05)
    return False


def write_htpasswd(path, user, password):
    """An htpasswd file with one user, in the Apache MD5 form every web server here reads."""
    htpasswd = shutil.which("htpasswd") or "/usr/bin/htpasswd"
    subprocess.run([htpasswd, "-c", "-b", "-m", path, user, password],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.chmod(path, 0o644)


NGINX_CONF = """\
{user_line}
daemon off;
master_process on;
worker_processes 1;
pid {run}/nginx.pid;
error_log {run}/error.log warn;
{load_dav_ext}
events {{
    worker_connections 256;
}}
http {{
    access_log {run}/access.log;
    client_body_temp_path {run}/tmp/body;
    proxy_temp_path {run}/tmp/proxy;
    fastcgi_temp_path {run}/tmp/fastcgi;
    uwsgi_temp_path {run}/tmp/uwsgi;
    scgi_temp_path {run}/tmp/scgi;
    keepalive_timeout 30s;
    keepalive_requests 100000;
    server {{
        listen 127.0.0.1:{port};
        server_name 127.0.0.1;
        root {root};
        client_max_body_size 0;
        location / {{
            dav_methods PUT DELETE MKCOL COPY MOVE;
            {dav_ext_methods}
            dav_access user:rw group:rw all:rw;
            auth_basic "dravix test";
            auth_basic_user_file {run}/htpasswd;
        }}
    }}
}}
"""


def start_nginx(d, env_path, kind="nginx"):
    core_only = kind == "nginx-core"
    if not os.path.exists(NGINX):
        return missing(f"nginx is not installed ({NGINX}, package nginx)")
    if not core_only and not os.path.exists(NGINX_DAV_EXT):
        return missing(f"the nginx dav-ext module is missing ({NGINX_DAV_EXT}, package libnginx-mod-http-dav-ext)")
    if not os.path.exists(shutil.which("htpasswd") or "/usr/bin/htpasswd"):
        return missing("htpasswd is not installed (package apache2-utils)")
    run = fresh_dir(os.path.join(d, kind), 0o755)
    root = fresh_dir(os.path.join(run, "root"), 0o777)
    fresh_dir(os.path.join(run, "tmp"), 0o777)
    user, password = "dravix", "pw-" + secrets.token_hex(8)
    write_htpasswd(os.path.join(run, "htpasswd"), user, password)
    user_line = "user nobody nogroup;" if os.geteuid() == 0 else ""
    for _ in range(5):
        port = free_port()
        conf = os.path.join(run, "nginx.conf")
        with open(conf, "w") as f:
            f.write(NGINX_CONF.format(run=run, port=port, root=root, user_line=user_line,
                                      load_dav_ext="" if core_only else f"load_module {NGINX_DAV_EXT};",
                                      dav_ext_methods="" if core_only else "dav_ext_methods PROPFIND OPTIONS;"))
        # -e: the log nginx opens before it has read its configuration.
        proc = spawn([NGINX, "-p", run, "-c", conf, "-e", os.path.join(run, "error.log")],
                     os.path.join(run, "server.log"))
        if wait_for_port(port, proc) and answers_http(port, proc):
            record_pid(d, kind, proc.pid)
            write_env(env_path, {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": root,
                                 "URL": f"http://127.0.0.1:{port}"})
            return 0
        stop_group(proc.pid)
    sys.stderr.write("nginx did not start:\n" + tail(os.path.join(run, "server.log"))
                     + tail(os.path.join(run, "error.log")))
    return 1


LIGHTTPD_CONF = """\
server.document-root = "{root}"
server.bind = "127.0.0.1"
server.port = {port}
server.errorlog = "{run}/logs/error.log"
server.upload-dirs = ( "{run}/uploads" )
server.modules = ( "mod_auth", "mod_authn_file", "mod_webdav" )
server.max-keep-alive-requests = 100000
server.max-keep-alive-idle = 30
{user_lines}
auth.backend = "htpasswd"
auth.backend.htpasswd.userfile = "{run}/htpasswd"
auth.require = ( "/" => ( "method" => "basic", "realm" => "dravix test", "require" => "valid-user" ) )
webdav.activate = "enable"
webdav.is-readonly = "disable"
webdav.sqlite-db-name = "{run}/db/webdav.sqlite"
"""


def start_nginx_core(d, env_path):
    return start_nginx(d, env_path, "nginx-core")


def start_lighttpd(d, env_path):
    if not os.path.exists(LIGHTTPD):
        return missing(f"lighttpd is not installed ({LIGHTTPD}, package lighttpd)")
    if not os.path.exists(os.path.join(LIGHTTPD_MODULES, "mod_webdav.so")):
        return missing(f"lighttpd's mod_webdav is missing in {LIGHTTPD_MODULES} (package lighttpd-mod-webdav)")
    if not os.path.exists(shutil.which("htpasswd") or "/usr/bin/htpasswd"):
        return missing("htpasswd is not installed (package apache2-utils)")
    run = fresh_dir(os.path.join(d, "lighttpd"), 0o755)
    root = fresh_dir(os.path.join(run, "root"), 0o777)
    fresh_dir(os.path.join(run, "uploads"), 0o777)
    fresh_dir(os.path.join(run, "db"), 0o777)
    fresh_dir(os.path.join(run, "logs"), 0o777)  # opened after the switch to the server's user
    user, password = "dravix", "pw-" + secrets.token_hex(8)
    write_htpasswd(os.path.join(run, "htpasswd"), user, password)
    user_lines = 'server.username = "nobody"\nserver.groupname = "nogroup"' if os.geteuid() == 0 else ""
    for _ in range(5):
        port = free_port()
        conf = os.path.join(run, "lighttpd.conf")
        with open(conf, "w") as f:
            f.write(LIGHTTPD_CONF.format(run=run, port=port, root=root, user_lines=user_lines))
        proc = spawn([LIGHTTPD, "-D", "-f", conf, "-m", LIGHTTPD_MODULES], os.path.join(run, "server.log"))
        if wait_for_port(port, proc) and answers_http(port, proc):
            record_pid(d, "lighttpd", proc.pid)
            write_env(env_path, {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": root,
                                 "URL": f"http://127.0.0.1:{port}"})
            return 0
        stop_group(proc.pid)
    sys.stderr.write("lighttpd did not start:\n" + tail(os.path.join(run, "server.log"))
                     + tail(os.path.join(run, "logs", "error.log")))
    return 1


PHP_SITE_CONF = """\
server.document-root = "{root}"
server.bind = "127.0.0.1"
server.port = {port}
server.errorlog = "{run}/logs/error.log"
server.modules = ( "mod_accesslog", "mod_cgi" )
accesslog.filename = "{run}/logs/access.log"
index-file.names = ( "index.php", "index.html" )
cgi.assign = ( ".php" => "{php}" )
mimetype.assign = ( ".html" => "text/html", ".css" => "text/css", ".js" => "text/javascript" )
{user_lines}
"""


def start_pyftpd_php(d, env_path):
    php = shutil.which("php-cgi") or "/usr/bin/php-cgi"
    if not os.path.exists(php):
        return missing("php-cgi is not installed (package php-cgi)")
    if not os.path.exists(LIGHTTPD):
        return missing(f"lighttpd is not installed ({LIGHTTPD}, package lighttpd)")
    if start_pyftpd(d, env_path, "pyftpd-php") != 0:
        return 1
    values = {}
    with open(env_path) as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition("=")
            values[key] = value
    run = fresh_dir(os.path.join(d, "pyftpd-php", "web"), 0o755)
    fresh_dir(os.path.join(run, "logs"), 0o777)
    user_lines = 'server.username = "nobody"\nserver.groupname = "nogroup"' if os.geteuid() == 0 else ""
    for _ in range(5):
        port = free_port()
        conf = os.path.join(run, "lighttpd.conf")
        with open(conf, "w") as f:
            f.write(PHP_SITE_CONF.format(run=run, port=port, root=values["ROOT"], php=php, user_lines=user_lines))
        proc = spawn([LIGHTTPD, "-D", "-f", conf, "-m", LIGHTTPD_MODULES], os.path.join(run, "server.log"))
        if wait_for_port(port, proc) and answers_http(port, proc):
            # Stopped with the FTP server (stop() reads the extra line).
            with open(os.path.join(d, "pyftpd-php.pid"), "a") as f:
                f.write(f"web:{proc.pid}\n")
            values.update({"SITE_URL": f"http://127.0.0.1:{port}/",
                           "SITE_LOG": os.path.join(run, "logs", "access.log")})
            write_env(env_path, values)
            return 0
        stop_group(proc.pid)
    sys.stderr.write("lighttpd with PHP did not start:\n" + tail(os.path.join(run, "server.log"))
                     + tail(os.path.join(run, "logs", "error.log")))
    return 1


def start_davlax(d, env_path):
    run = fresh_dir(os.path.join(d, "davlax"))
    root = fresh_dir(os.path.join(run, "root"), 0o777)
    user, password = "dravix", "pw-" + secrets.token_hex(8)
    pw_file = os.path.join(run, "password")
    with open(pw_file, "w") as f:
        f.write(password)
    os.chmod(pw_file, 0o600)
    for _ in range(5):
        port = free_port()
        proc = spawn([PYTHON, os.path.abspath(__file__), "serve-davlax", "--root", root, "--user", user,
                      "--password-file", pw_file, "--port", str(port)], os.path.join(run, "server.log"))
        if wait_for_port(port, proc) and answers_http(port, proc):
            record_pid(d, "davlax", proc.pid)
            write_env(env_path, {"PORT": port, "USER": user, "PASSWORD": password, "ROOT": root,
                                 "URL": f"http://127.0.0.1:{port}"})
            return 0
        stop_group(proc.pid)
    sys.stderr.write("the lax WebDAV server did not start:\n" + tail(os.path.join(run, "server.log")))
    return 1


def start_ingestion(d, env_path):
    run = fresh_dir(os.path.join(d, "ingestion"))
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ingestion.py")
    # A throw-away CA and a certificate for 127.0.0.1 signed by it, for the HTTPS side.
    ca_key, ca, key, csr, cert = (os.path.join(run, n) for n in ("ca.key", "ca.pem", "server.key", "server.csr", "server.pem"))
    ext = os.path.join(run, "server.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "check": True}
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca,
                    "-days", "2", "-subj", "/CN=Dravix test CA"], **quiet)
    subprocess.run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
                    "-subj", "/CN=127.0.0.1"], **quiet)
    subprocess.run(["openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
                    "-out", cert, "-days", "2", "-extfile", ext], **quiet)
    for _ in range(5):
        port, tls_port = free_port(), free_port()
        proc = spawn([PYTHON, script, "--port", str(port), "--tls-port", str(tls_port), "--cert", cert, "--key", key],
                     os.path.join(run, "server.log"))
        if wait_for_port(port, proc) and answers_http(port, proc) and wait_for_port(tls_port, proc):
            record_pid(d, "ingestion", proc.pid)
            write_env(env_path, {"PORT": port, "URL": f"http://127.0.0.1:{port}",
                                 "HTTPS_URL": f"https://127.0.0.1:{tls_port}", "CA_FILE": ca})
            return 0
        stop_group(proc.pid)
    sys.stderr.write("the ingestion server did not start:\n" + tail(os.path.join(run, "server.log")))
    return 1


STARTERS = {"pyftpd": start_pyftpd, "pyftpdx": start_pyftpdx, "pyftpd-limit": start_pyftpd_limit,
            "pureftpd": start_pureftpd, "pureftpd-limit": start_pureftpd_limit,
            "proftpd": start_proftpd, "proftpd-tls": start_proftpd_tls, "proftpd-tls13": start_proftpd_tls13,
            "proftpd-limit": start_proftpd_limit,
            "vsftpd": start_vsftpd, "apache": start_apache, "silent": start_silent,
            "vsftpd-tls": lambda d, env_path: start_vsftpd(d, env_path, "vsftpd-tls"),
            "vsftpd-tls13": lambda d, env_path: start_vsftpd(d, env_path, "vsftpd-tls13"),
            "pureftpd-tls": start_pureftpd_tls, "apache-tls": start_apache_tls,
            "proftpd-ftps": start_proftpd_ftps}
STARTERS.update({"pyftpd-lax": start_pyftpd_lax, "nginx-core": start_nginx_core, "vsftpd-idle": start_vsftpd_idle,
                 "pyftpd-away": start_pyftpd_away})
STARTERS.update({"nginx": start_nginx, "lighttpd": start_lighttpd, "davlax": start_davlax,
                 "ingestion": start_ingestion, "sshd": start_sshd, "sshd-otp": start_sshd_otp})
STARTERS.update({"pyftpd-php": start_pyftpd_php})


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


def stop_titled(prefix):
    """Ends the processes whose title starts with `prefix`: sshd's sessions, which leave the
    listener's process group ("sshd: <user> [priv]", "sshd: <user>@notty")."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                title = f.read()
        except OSError:
            continue
        if title.startswith(prefix + b" ") or title.startswith(prefix + b"@"):
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
        if extra.startswith("web:"):
            stop_group(int(extra[len("web:"):]))
        if extra.startswith("conf:"):
            # vsftpd runs each session in a session of its own, out of the listener's process
            # group: end those still running with this run's own configuration file.
            stop_sessions(VSFTPD, extra[len("conf:"):])
        # sshd's user of this run, made by start_sshd (its sessions ended with the server's group).
        if extra.startswith("user:dvx"):
            user = extra[len("user:"):]
            stop_titled(b"sshd: " + user.encode())
            quiet_run(["userdel", "--force", user])
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
        p.add_argument("--bin")
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
    p.add_argument("--lax", action="store_true")
    p.add_argument("--request-log", required=True)
    p = sub.add_parser("serve-davlax")
    p.add_argument("--root", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password-file", required=True)
    p.add_argument("--port", type=int, required=True)
    p = sub.add_parser("serve-silent")
    p.add_argument("--port", type=int, required=True)
    p = sub.add_parser("serve-sshd-otp")
    for name in ("--root", "--user", "--password-file", "--code-file", "--host-key", "--log"):
        p.add_argument(name, required=True)
    p.add_argument("--port", type=int, required=True)
    args = parser.parse_args()

    if args.cmd == "serve-ftp":
        serve_ftp(args)
        return 0
    if args.cmd == "serve-davlax":
        serve_davlax(args)
        return 0
    if args.cmd == "serve-silent":
        serve_silent(args)
        return 0
    if args.cmd == "serve-sshd-otp":
        serve_sshd_otp(args)
        return 0
    d = os.path.abspath(args.dir)
    os.makedirs(d, exist_ok=True)
    global PEERS_BIN
    PEERS_BIN = os.path.abspath(args.bin) if args.bin else os.path.join(os.path.dirname(d), "peers-bin")
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
