#!/usr/bin/python3
"""An SFTP server with the limits some servers have.

Run in place of the SFTP server (sshd's ForceCommand): it starts OpenSSH's
sftp-server with the arguments it was given and passes the client's packets
on, with the length of every read request cut to --cap bytes, and ends the
session on a packet longer than --max-packet bytes, as a server with a smaller
packet limit does. With --refuse-writes-from, a write at that offset or later
never reaches the server: the client gets a failure at once, as from a full
disk, ahead of the server's answers to the writes before it; --refuse-once-at
refuses the first write at exactly that offset and lets the later ones through.
The server's answers go to the client unchanged.
"""
import argparse
import os
import struct
import subprocess
import sys
import threading

SSH_FXP_READ = 5
SSH_FXP_WRITE = 6
SSH_FXP_STATUS = 101
SSH_FX_FAILURE = 4


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
    parser.add_argument("--refuse-writes-from", type=int, default=1 << 64)
    parser.add_argument("--refuse-once-at", type=int, default=-1)
    parser.add_argument("server", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    # Once in the whole test, across the sessions of the runner's retries.
    once = os.path.join(os.path.dirname(os.path.abspath(__file__)), "refused-once")
    server = subprocess.Popen(args.server, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    source, client = sys.stdin.buffer, sys.stdout.buffer
    # Whole packets only, from either side: the server's answers and our own.
    lock = threading.Lock()
    closed = []

    def answer(packet):
        with lock:
            if closed:
                return
            try:
                client.write(packet)
                client.flush()
            except (BrokenPipeError, ValueError):
                closed.append(True)

    def relay():
        while True:
            head = read_exactly(server.stdout, 4)
            body = head and read_exactly(server.stdout, struct.unpack(">I", head)[0])
            if body is None:
                with lock:
                    closed.append(True)
                    client.close()
                return
            answer(head + body)

    relaying = threading.Thread(target=relay, daemon=True)
    relaying.start()
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
        if body[0] == SSH_FXP_WRITE:
            handle = struct.unpack(">I", body[5:9])[0]
            offset = struct.unpack(">Q", body[9 + handle:17 + handle])[0]
            if offset >= args.refuse_writes_from or (offset == args.refuse_once_at and not os.path.exists(once)):
                if offset == args.refuse_once_at:
                    open(once, "w").close()
                said = b"No space left on device"
                status = struct.pack(">BIII", SSH_FXP_STATUS, struct.unpack(">I", body[1:5])[0], SSH_FX_FAILURE,
                                     len(said)) + said + struct.pack(">I", 0)
                answer(struct.pack(">I", len(status)) + status)
                continue
        server.stdin.write(head + body)
        server.stdin.flush()
    server.stdin.close()
    status = server.wait()
    relaying.join(10)
    return status


if __name__ == "__main__":
    sys.exit(main())
