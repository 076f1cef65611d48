#!/usr/bin/python3
"""A misbehaving FTP server for the runner's tests: loopback only, ephemeral port.

Prints its port (one line), then serves until killed. Takes ftpserver.py's --root and --user
and its password (FTP_SERVER_PASSWORD), and the user "short" with the password "q7". What goes wrong depends on the name:
  NLST/LIST "endless": names without end; of DIR: the lines of ROOT/DIR.names, as they are
  RETR stall*: 100 of the announced 1000 bytes, then nothing; no226*: no 226; gone*: 550 though
    listed; grow*: 5000 bytes where SIZE said 100; drop* (in ROOT): half, then both connections
    dropped, the first time; other files in ROOT: from the REST offset; else "data:" and the name
  STOR/APPE trunc*: only the first half kept; dropup*: half kept, then dropped, the first time
  SIZE, MDTM, REST, RNFR/RNTO, DELE, MFMT as a server does them; FEAT offers HASH CRC32 (upper
    case, no leading zeros; badhash* lies) and XMD5
  NOOP: a reply full of control bytes; PASS: echoed in the welcome, upper-cased, split by a NUL;
  unknown commands: echoed in the 500 reply. Every command but PASS goes to ROOT/server.log.
"""
import argparse
import calendar
import hashlib
import itertools
import os
import socket
import sys
import threading
import time
import zlib


SIMPLE = {
    "PWD": '257 "/" is the current folder.',
    "CWD": "250 OK.",
    "CDUP": "250 OK.",
    "TYPE": "200 Type set.",
    "FEAT": "211-Features:\r\n SIZE\r\n MDTM\r\n REST STREAM\r\n MFMT\r\n HASH CRC32\r\n XMD5\r\n211 End",
}
DROPPED = set()  # names already dropped once, so that the retry gets through
LOCK = threading.Lock()


class Session(threading.Thread):
    def __init__(self, conn, args):
        super().__init__(daemon=True)
        self.conn, self.args = conn, args
        self.file = conn.makefile("rb")
        self.user, self.logged_in, self.passive, self.rest, self.rename_from = None, False, None, 0, None

    def log(self, text):
        with LOCK, open(os.path.join(self.args.root, "server.log"), "a") as f:
            f.write(text + "\n")

    def path(self, arg):
        return os.path.join(self.args.root, arg.replace("\\", "/").lstrip("/"))

    def drop_once(self, base):
        with LOCK:
            first = base not in DROPPED
            DROPPED.add(base)
            return first

    def send(self, text):
        data = text if isinstance(text, bytes) else text.encode("latin-1")
        self.conn.sendall(data + b"\r\n")

    def open_passive(self):
        if self.passive:
            self.passive.close()
        self.passive = socket.create_server(("127.0.0.1", 0), backlog=1)
        self.passive.settimeout(20)
        return self.passive.getsockname()[1]

    def data_connection(self):
        if not self.passive:
            self.send("425 Use EPSV or PASV first.")
            return None
        try:
            conn, _ = self.passive.accept()
        except OSError:
            self.send("425 No data connection.")
            return None
        finally:
            self.passive.close()
            self.passive = None
        return conn

    def listing(self, arg):
        name = arg.strip().strip("/").split("/")[-1] if arg.strip() else ""
        data = self.data_connection()
        if not data:
            return
        self.send("150 Here it comes.")
        try:
            for n in itertools.count(0, 1000) if name == "endless" else []:
                data.sendall(b"".join(b"name%09d.txt\r\n" % (n + i) for i in range(1000)))
            path = os.path.join(self.args.root, name + ".names")
            lines = open(path, "rb").read().split(b"\n") if os.path.exists(path) else []
            data.sendall(b"".join(l.rstrip(b"\r") + b"\r\n" for l in lines if l.rstrip(b"\r")))
        except OSError:
            data.close()
            self.send("426 Connection closed; transfer aborted.")
            return
        data.close()
        self.send("226 Done.")

    def retr(self, arg):
        base = arg.replace("\\", "/").split("/")[-1]
        rest, self.rest = self.rest, 0
        data = self.data_connection()
        if not data:
            return
        if os.path.isfile(self.path(arg)):
            content = open(self.path(arg), "rb").read()[rest:]
            self.send("150 Opening BINARY mode data connection for %s (%d bytes)." % (base, len(content)))
            if base.startswith("drop") and self.drop_once(base):
                data.sendall(content[: len(content) // 2])
                self.log("RETR %s from %d sent %d, dropped" % (base, rest, len(content) // 2))
                data.close()
                raise ConnectionAbortedError()
            data.sendall(content)
            data.close()
            self.log("RETR %s from %d sent %d" % (base, rest, len(content)))
            self.send("226 Transfer complete.")
            return
        if base.startswith("gone"):
            data.close()
            self.send("550 No such file.")
            return
        self.send("150 Opening data connection.")
        if base.startswith("grow"):
            data.sendall(b"g" * 5000)
            data.close()
            self.send("226 Done.")
            return
        if base.startswith("stall"):
            data.sendall(b"x" * 100)
            time.sleep(600)  # until the client gives up and the process is killed
            return
        data.sendall(b"data:" + arg.encode("latin-1"))
        data.close()
        if base.startswith("no226"):
            return
        self.send("226 Done.")

    def store(self, arg, append):
        base = arg.replace("\\", "/").split("/")[-1]
        data = self.data_connection()
        if not data:
            return
        self.send("150 Ok to send data.")
        received = b""
        while True:
            chunk = data.recv(65536)
            if not chunk:
                break
            received += chunk
            if "dropup" in base and len(received) >= 300000 and self.drop_once(base):
                with open(self.path(arg), "ab" if append else "wb") as f:
                    f.write(received)
                self.log("%s %s dropped after %d" % ("APPE" if append else "STOR", base, len(received)))
                data.close()
                raise ConnectionAbortedError()
        data.close()
        if base.startswith("trunc"):
            received = received[: len(received) // 2]
        with open(self.path(arg), "ab" if append else "wb") as f:
            f.write(received)
        self.log("%s %s received %d" % ("APPE" if append else "STOR", base, len(received)))
        self.send("226 Transfer complete.")

    def file_command(self, verb, arg):
        path = self.path(arg)
        base = arg.replace("\\", "/").split("/")[-1]
        if verb == "MDTM":
            self.send(time.strftime("213 %Y%m%d%H%M%S", time.gmtime(os.stat(path).st_mtime)))
        elif verb == "DELE":
            os.remove(path)
            self.send("250 Deleted.")
        elif verb == "RNFR":
            self.rename_from = path
            self.send("350 Ready for RNTO.")
        elif verb == "HASH":
            value = "%X" % (0 if base.startswith("badhash") else zlib.crc32(open(path, "rb").read()))
            self.send("213 CRC32 0-%d %s %s" % (os.path.getsize(path), value, arg))
        elif verb == "XMD5":
            self.send("250 " + hashlib.md5(open(path, "rb").read()).hexdigest().upper())

    def run(self):
        try:
            self.send(b"220 hostile\x1b[31m server\x07 ready.")
            for raw in self.file:
                line = raw.rstrip(b"\r\n").decode("latin-1")
                verb, _, arg = line.partition(" ")
                verb = verb.upper()
                if verb != "PASS":
                    self.log(line)
                if verb == "USER":
                    self.user = arg
                    self.send("331 Password please.")
                elif verb == "PASS" and not self.logged_in:
                    if (self.user, arg) in ((self.args.user, os.environ.get("FTP_SERVER_PASSWORD", "secret")), ("short", "q7")):
                        self.logged_in = True
                        echo = arg.upper() + " " + arg[:2] + "\x00" + arg[2:]
                        self.send(("230 Welcome, " + echo + ".").encode("latin-1"))
                    else:
                        self.send("530 Login incorrect.")
                elif verb == "QUIT":
                    self.send("221 Bye.")
                    break
                elif not self.logged_in:
                    self.send("530 Log in first.")
                elif verb in SIMPLE:
                    self.send(SIMPLE[verb])
                elif verb == "EPSV":
                    self.send("229 Entering Extended Passive Mode (|||%d|)" % self.open_passive())
                elif verb == "PASV":
                    port = self.open_passive()
                    self.send("227 Entering Passive Mode (127,0,0,1,%d,%d)." % (port >> 8, port & 255))
                elif verb == "OPTS":
                    self.send("200 " + arg + " selected.")
                elif verb == "REST":
                    self.rest = int(arg)
                    self.send("350 Restart position accepted (%d)." % self.rest)
                elif verb in ("STOR", "APPE"):
                    self.store(arg, verb == "APPE")
                elif verb == "RNTO" and self.rename_from:
                    os.replace(self.rename_from, self.path(arg))
                    self.rename_from = None
                    self.send("250 Rename successful.")
                elif verb == "MFMT":
                    stamp, _, name = arg.partition(" ")
                    t = calendar.timegm(time.strptime(stamp, "%Y%m%d%H%M%S"))
                    os.utime(self.path(name), (t, t))
                    self.send("213 Modify=%s; %s" % (stamp, name))
                elif verb in ("MDTM", "DELE", "RNFR", "HASH", "XMD5") and os.path.isfile(self.path(arg)):
                    self.file_command(verb, arg)
                elif verb == "SIZE" and os.path.isfile(self.path(arg)):
                    self.send("213 %d" % os.path.getsize(self.path(arg)))
                elif verb == "SIZE":
                    base = arg.replace("\\", "/").split("/")[-1]
                    size = 1000 if base.startswith("stall") else 100 if base.startswith("grow") else len("data:" + arg)
                    self.send("213 %d" % size)
                elif verb in ("NLST", "LIST"):
                    self.listing(arg)
                elif verb == "RETR":
                    self.retr(arg)
                elif verb == "NOOP":
                    self.send(b"200 fine\x1b[2J\x1b]0;owned\x07 \x00hidden\x08\x08 done. \xc2\x9b" b"2J\xc2\x9d" b"0;t \x9b" b"1m")
                else:
                    self.send("500 Unknown command: " + line)
        except OSError:  # a dropped connection too
            pass
        finally:
            self.conn.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", default="zul")
    args = ap.parse_args()
    server = socket.create_server(("127.0.0.1", 0), backlog=16)
    print(server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        Session(conn, args).start()


if __name__ == "__main__":
    sys.exit(main())
