#!/usr/bin/python3
"""An SFTP server with the limits some servers have.

Run in place of the SFTP server (sshd's ForceCommand): it starts OpenSSH's
sftp-server with the arguments it was given and passes the client's packets
on, with the length of every read request cut to --cap bytes, and ends the
session on a packet longer than --max-packet bytes, as a server with a smaller
packet limit does. The answers go to the client unchanged.
"""
import argparse
import struct
import subprocess
import sys

SSH_FXP_READ = 5


def read_exactly(stream, size):
    data = b""
    while len(data) < size:
        piece = stream.read(size - len(data))
        if not piece:
            return None
        data += piece
    return data


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cap", type=int, default=1 << 32)
    parser.add_argument("--max-packet", type=int, default=1 << 32)
    parser.add_argument("server", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    server = subprocess.Popen(args.server, stdin=subprocess.PIPE, stdout=sys.stdout.buffer)
    source = sys.stdin.buffer
    while True:
        head = read_exactly(source, 4)
        if head is None:
            break
        length = struct.unpack(">I", head)[0]
        if length > args.max_packet:
            break
        body = read_exactly(source, length)
        if body is None:
            break
        if body[0] == SSH_FXP_READ:
            # type, id, handle (a string), offset, length
            handle = struct.unpack(">I", body[5:9])[0]
            at = 9 + handle + 8
            asked = struct.unpack(">I", body[at:at + 4])[0]
            body = body[:at] + struct.pack(">I", min(asked, args.cap)) + body[at + 4:]
        server.stdin.write(head + body)
        server.stdin.flush()
    server.stdin.close()
    return server.wait()


if __name__ == "__main__":
    sys.exit(main())
