#!/usr/bin/env python3
"""A plain TCP client for the remote-control tests, run as a child process.

    rcclient.py <host> <port> [bind-address]

Commands on stdin, one per line:
    send <hex>   write these bytes to the server
    pause        stop reading from the socket (the server's output backs up)
    resume       read again
    close        close the connection and end

Reports on stdout, one per line, flushed at once:
    CONNECTED            the connection is made
    REFUSED <reason>     it could not be made (the program ends)
    DATA <hex>           bytes received, as they came
    CLOSED               the server closed the connection (the program ends)
"""
import os
import selectors
import socket
import sys


def report(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def main():
    host, port = sys.argv[1], int(sys.argv[2])
    try:
        sock = socket.create_connection((host, port), timeout=10)
    except OSError as error:
        report("REFUSED " + str(error))
        return 1
    sock.setblocking(False)
    report("CONNECTED")

    selector = selectors.DefaultSelector()
    stdin = sys.stdin.fileno()
    selector.register(stdin, selectors.EVENT_READ, "stdin")
    selector.register(sock, selectors.EVENT_READ, "socket")
    reading = True
    pending = b""
    while True:
        for key, _ in selector.select():
            if key.data == "socket":
                try:
                    data = sock.recv(65536)
                except (BlockingIOError, InterruptedError):
                    continue
                except OSError:
                    data = b""
                if not data:
                    report("CLOSED")
                    return 0
                report("DATA " + data.hex())
                continue
            chunk = os.read(stdin, 65536)
            if not chunk:
                sock.close()
                return 0
            pending += chunk
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                words = line.decode("ascii").split(" ", 1)
                if words[0] == "send":
                    payload = bytes.fromhex(words[1] if len(words) > 1 else "")
                    sock.setblocking(True)
                    try:
                        sock.sendall(payload)
                    except OSError:
                        report("CLOSED")
                        return 0
                    sock.setblocking(False)
                elif words[0] == "pause" and reading:
                    selector.unregister(sock)
                    reading = False
                elif words[0] == "resume" and not reading:
                    selector.register(sock, selectors.EVENT_READ, "socket")
                    reading = True
                elif words[0] == "close":
                    sock.close()
                    return 0


if __name__ == "__main__":
    sys.exit(main())
