#!/usr/bin/python3
"""A loopback FTP server on the standard port, for scripts whose "open" line
names no port. Prints the port, then serves until killed."""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", required=True)
    ap.add_argument("--password", required=True)
    ap.add_argument("--port", type=int, default=21)
    args = ap.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    FTPHandler.authorizer = authorizer
    FTPHandler.banner = "zul fast path test server ready."
    logging.getLogger("pyftpdlib").addHandler(logging.StreamHandler(sys.stderr))
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)
    try:
        server = FTPServer(("127.0.0.1", args.port), FTPHandler)
    except OSError as err:
        print("cannot listen: %s" % err, flush=True)
        return 1
    print(server.address[1], flush=True)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
