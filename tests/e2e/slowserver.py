#!/usr/bin/python3
"""The runner's loopback test server (tests/runner/ftpserver.py, same arguments)
sending at most ZUL_SLOW_BYTES_PER_SECOND (default 65536) on each data
connection, so that a test can stop a runner in the middle of a download.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "runner"))
import ftpserver  # noqa: E402
from pyftpdlib.handlers import ThrottledDTPHandler  # noqa: E402

ThrottledDTPHandler.write_limit = int(os.environ.get("ZUL_SLOW_BYTES_PER_SECOND", "65536"))
ftpserver.FaultyHandler.dtp_handler = ThrottledDTPHandler

if __name__ == "__main__":
    ftpserver.main()
