#!/usr/bin/python3
"""Checks of peers.py itself, as scripts/test runs it: the state folder is a temporary one of its
own, away from the build folder, and the servers scripts/setup unpacks (pure-ftpd, proftpd) are
still found and started; a server that scripts/setup provides and that is missing fails its start
instead of writing SKIP, so that its tests cannot go quiet.

    peers_tests.py --bin <build>/peers-bin
"""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest

PEERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "peers.py")
BIN = None


def run(*args):
    return subprocess.run(["/usr/bin/python3", PEERS, *args], capture_output=True, text=True)


def read_env(path):
    values = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition("=")
            values[key] = value
    return values


class PeersScript(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="dravix-peers-check.")
        os.chmod(self.dir, 0o755)  # servers that drop their privileges read their files in it
        self.started = []

    def tearDown(self):
        for kind in self.started:
            run("stop", kind, "--dir", self.dir)
        subprocess.run(["rm", "-rf", self.dir])

    def test_unpacked_servers_start_with_the_state_folder_away_from_the_build(self):
        for kind in ("pureftpd", "proftpd"):
            with self.subTest(kind=kind):
                self.started.append(kind)
                done = run("start", kind, "--dir", self.dir, "--bin", BIN)
                self.assertEqual(done.returncode, 0, done.stderr)
                env = read_env(os.path.join(self.dir, kind + ".env"))
                if os.geteuid() != 0:
                    self.assertIn("root", env.get("SKIP", ""))
                    continue
                self.assertNotIn("SKIP", env)
                self.assertTrue(env.get("PORT"))
                self.assertTrue(env.get("URL", "").startswith("ftp://127.0.0.1:"))

    def test_a_missing_server_that_setup_provides_fails_its_start(self):
        empty = os.path.join(self.dir, "no-peers-bin")
        os.makedirs(empty)
        for kind in ("pureftpd", "proftpd"):
            with self.subTest(kind=kind):
                done = run("start", kind, "--dir", self.dir, "--bin", empty)
                self.assertNotEqual(done.returncode, 0)
                self.assertIn("scripts/setup", done.stderr)
                self.assertFalse(os.path.exists(os.path.join(self.dir, kind + ".env")))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    args, rest = parser.parse_known_args()
    BIN = args.bin
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
