#!/usr/bin/python3
"""Loopback FTP server for the runner's tests and benchmark.

Prints the port it listens on (one line on stdout), then serves until killed.
Faults are chosen by file name prefix: "deny550_" answers 550 on RETR/STOR,
"drop1_" sends part of the first RETR and drops the connection, "short_" sends
half the file and reports success, "busy1_" answers 450 to the first RETR/STOR;
the user "refused" is always refused.
"""
import argparse
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FileProducer, FTPHandler
from pyftpdlib.servers import FTPServer

PREFIXES = {"deny": "deny550_", "drop_once": "drop1_", "short": "short_", "busy_once": "busy1_"}
FIRED = set()  # (fault, name) pairs of one-shot faults already fired


def has(fault, path):
    return os.path.basename(path).startswith(PREFIXES[fault])


def once(fault, path):
    key = (fault, os.path.basename(path))
    fired = key not in FIRED and has(fault, path)
    FIRED.add(key)
    return fired


class LimitedProducer(FileProducer):
    """Sends at most limit bytes; then either ends normally or drops the session."""

    def __init__(self, fd, type_, handler, limit, drop):
        super().__init__(fd, type_)
        self.handler, self.limit, self.drop, self.sent = handler, limit, drop, 0

    def more(self):
        if self.sent >= self.limit:
            self.file.close()
            if self.drop:
                self.handler.close()
            return b""
        data = self.file.read(min(self.buffer_size, self.limit - self.sent))
        self.sent += len(data)
        return data


class FaultyHandler(FTPHandler):
    auth_failed_timeout = 0

    def ftp_PASS(self, line):
        if self.username == "refused":
            self.respond("530 Login incorrect.")
            self.username = ""
            return
        return super().ftp_PASS(line)

    def _busy_or_denied(self, path):
        if has("deny", path):
            self.respond("550 Permission denied.")
            return True
        if once("busy_once", path):
            self.respond("450 Requested file action not taken: file busy.")
            return True
        return False

    def ftp_RETR(self, file):
        if self._busy_or_denied(file):
            return
        drop = once("drop_once", file)
        short = not drop and has("short", file)
        if not (drop or short):
            return super().ftp_RETR(file)
        try:
            fd = self.run_as_current_user(self.fs.open, file, "rb")
        except OSError as err:
            self.respond("550 %s." % err.strerror)
            return
        self._restart_position = 0
        size = os.fstat(fd.fileno()).st_size
        producer = LimitedProducer(fd, self._current_type, self, size // 2, drop)
        # No file object: sendfile() would bypass the producer.
        self.push_dtp_data(producer, isproducer=True, file=None, cmd="RETR")
        return file

    def ftp_STOR(self, file, mode="w"):
        if self._busy_or_denied(file):
            return
        return super().ftp_STOR(file, mode)


def password():
    """The login's password comes in the environment, never in the arguments
    (anyone may read those)."""
    return os.environ.get("FTP_SERVER_PASSWORD", "secret")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", default="zul")
    ap.add_argument("--buffer", type=int, default=65536)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--max-cons", type=int, default=64)
    args = ap.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, password(), args.root, perm="elradfmwMT")
    FaultyHandler.authorizer = authorizer
    FaultyHandler.passive_ports = None
    FaultyHandler.banner = "zul test server ready."
    FaultyHandler.timeout = 60
    DTPHandler.ac_in_buffer_size = args.buffer
    DTPHandler.ac_out_buffer_size = args.buffer
    FileProducer.buffer_size = args.buffer

    import logging
    logging.getLogger("pyftpdlib").addHandler(logging.StreamHandler(sys.stderr))
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)
    server = FTPServer(("127.0.0.1", args.port), FaultyHandler)
    server.max_cons = args.max_cons
    print(server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
