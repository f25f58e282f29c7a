#!/usr/bin/env python3
"""Loopback HTTP server for the update tests: the files of one folder behind
HTTP Basic authentication, the way an update server's web folder is kept.

    catalogserver.py --root DIR --user NAME --password PASSWORD [--user ... --password ...]

Listens on 127.0.0.1 at a free port and prints "PORT <n>" once it does; then
one line per request, printed before the answer is sent:

    REQ <path> auth=<Authorization header, or -> status=<status>

Every request without the right credentials gets 401 with a Basic challenge.
A path holding one of these folder names serves the file named by the path
without it, in a way of its own ("/updates/stall/big.bin" stalls on
"/updates/big.bin"):

    /open/     needs no login
    /short/    announces 100 bytes more than it sends, then closes
    /chunked/  sends the body in chunks (no length announced)
    /gzip/     sends the body gzip-compressed (Content-Encoding: gzip)
    /stall/    sends the headers and half the body, then waits until the
               client goes away
    /status/N  answers with status N (302 carries a Location header)

It ends when its standard input closes or reads "QUIT".
"""
import argparse
import base64
import gzip
import http.server
import os
import socket
import sys
import threading
import time
import urllib.parse


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", action="append", required=True)
    parser.add_argument("--password", action="append", required=True)
    args = parser.parse_args()
    root = os.path.realpath(args.root)
    accepted = set(
        "Basic " + base64.b64encode((u + ":" + p).encode("utf-8")).decode("ascii")
        for u, p in zip(args.user, args.password))
    log_lock = threading.Lock()

    def log(line):
        with log_lock:
            sys.stdout.write(line + "\n")
            sys.stdout.flush()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *fmt_args):
            pass

        def answer(self, status, body=b"", headers=()):
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def file_bytes(self, relative):
            # The request path is percent-encoded; the files are named as
            # the decoded text reads.
            relative = urllib.parse.unquote(relative)
            path = os.path.realpath(os.path.join(root, relative.lstrip("/")))
            if not path.startswith(root + os.sep) or not os.path.isfile(path):
                return None
            with open(path, "rb") as f:
                return f.read()

        def do_GET(self):
            auth = self.headers.get("Authorization")
            path = self.path
            is_open = "/open/" in path
            path = path.replace("/open/", "/", 1)
            mode = ""
            status_code = 0
            if "/status/" in path:
                mode = "status"
                status_code = int(path.rsplit("/status/", 1)[1].strip("/"))
            for name in ("short", "chunked", "gzip", "stall"):
                folder = "/" + name + "/"
                if folder in path:
                    mode, path = name, path.replace(folder, "/", 1)
                    break
            if auth not in accepted and not is_open:
                status = 401
            elif mode == "status":
                status = status_code
            else:
                body = self.file_bytes(path)
                status = 200 if body is not None else 404
            log("REQ %s auth=%s status=%d" % (self.path, auth or "-", status))

            if status == 401:
                self.answer(401, b"login required",
                            [("WWW-Authenticate", 'Basic realm="updates"')])
            elif status != 200:
                headers = [("Location", "/elsewhere")] if status == 302 else []
                self.answer(status, b"status %d" % status, headers)
            elif mode == "short":
                self.send_response(200)
                self.send_header("Content-Length", str(len(body) + 100))
                self.end_headers()
                self.wfile.write(body)
                self.wfile.flush()
                self.close_connection = True
            elif mode == "chunked":
                self.send_response(200)
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                # Small bodies in tiny chunks, so that chunk boundaries fall
                # everywhere; big ones in page-sized chunks, one send each.
                step = 7 if len(body) < 4096 else 4096
                for i in range(0, len(body), step):
                    chunk = body[i:i + step]
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                self.wfile.write(b"0\r\n\r\n")
            elif mode == "gzip":
                packed = gzip.compress(body)
                self.answer(200, packed, [("Content-Encoding", "gzip")])
            elif mode == "stall":
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body[:len(body) // 2])
                self.wfile.flush()
                self.connection.settimeout(0.2)
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline:
                    try:
                        if not self.connection.recv(1024):
                            break
                    except socket.timeout:
                        continue
                    except OSError:
                        break
                self.close_connection = True
            else:
                self.answer(200, body)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    log("PORT %d" % server.server_address[1])
    for line in sys.stdin:
        if line.strip() == "QUIT":
            break
    os._exit(0)


if __name__ == "__main__":
    main()
