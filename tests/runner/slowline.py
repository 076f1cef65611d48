#!/usr/bin/python3
"""A slow line: a TCP proxy on 127.0.0.1 --port to 127.0.0.1 --to that passes
the client's bytes on at --rate bytes a second, a few at a time, and the
server's at once. Its receive buffer is small, so that the client's bytes
wait on the client's side, as they do before a slow link."""
import argparse
import socket
import threading
import time


def pump(source, target, rate):
    try:
        while True:
            data = source.recv(max(rate // 20, 1) if rate else 65536)
            if not data:
                break
            target.sendall(data)
            if rate:
                time.sleep(len(data) / rate)
    except OSError:
        pass
    for s in (source, target):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--to", type=int, required=True)
    parser.add_argument("--rate", type=int, required=True)
    args = parser.parse_args()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    # Set before listening, so that accepted connections take it with their window.
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
    listener.bind(("127.0.0.1", args.port))
    listener.listen()
    while True:
        client, _ = listener.accept()
        server = socket.create_connection(("127.0.0.1", args.to))
        threading.Thread(target=pump, args=(client, server, args.rate), daemon=True).start()
        threading.Thread(target=pump, args=(server, client, 0), daemon=True).start()


main()
