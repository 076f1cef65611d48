#!/usr/bin/python3
"""An FTP server that does not speak TLS: AUTH is refused, everything received
is appended to --log, one line per command. Serves until killed."""
import argparse
import socketserver


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        self.wfile.write(b"220 plain FTP only\r\n")
        for raw in self.rfile:
            with open(self.server.log, "ab") as log:
                log.write(raw)
            verb = raw.split(b" ", 1)[0].strip().upper()
            if verb == b"QUIT":
                self.wfile.write(b"221 bye\r\n")
                return
            if verb in (b"AUTH", b"PBSZ", b"PROT"):
                self.wfile.write(b"502 TLS is not offered here\r\n")
            elif verb == b"USER":
                self.wfile.write(b"331 password please\r\n")
            elif verb == b"PASS":
                self.wfile.write(b"230 logged in\r\n")
            else:
                self.wfile.write(b"502 not implemented\r\n")


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--log", required=True)
    ap.add_argument("--port", type=int, default=0)
    args = ap.parse_args()
    with Server(("127.0.0.1", args.port), Handler) as server:
        server.log = args.log
        server.serve_forever()


if __name__ == "__main__":
    main()
