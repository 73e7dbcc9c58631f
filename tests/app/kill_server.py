#!/usr/bin/env python3
"""The kill test's HTTP/1.0 server on 127.0.0.1 (tests/app/kill_test.sh).

    kill_server.py PORT DIR LOG STALL LIFETIME

Serves the files of DIR under /veldra/. The first request for the file
STALL gets its header and half its body, then nothing more until the client
goes away: the loader is caught in the middle of that download. Every later
request is served whole. Each event is one line of LOG, written at once:
"GET name", "stalled name at N of M", "sent name M". The process ends by
itself after LIFETIME seconds.
"""
import os
import signal
import socket
import socketserver
import sys
import threading

port, root, log_path, stall, lifetime = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
signal.alarm(lifetime)
log_lock = threading.Lock()
stalled = threading.Event()


def log(line):
    with log_lock, open(log_path, "a") as out:
        out.write(line + "\n")


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        request = b""
        while b"\r\n\r\n" not in request:
            chunk = self.request.recv(65536)
            if not chunk:
                return
            request += chunk
        words = request.split(b"\r\n", 1)[0].decode("latin-1").split()
        path = words[1] if len(words) > 1 else ""
        name = path[len("/veldra/"):] if path.startswith("/veldra/") else ""
        log("GET " + name)
        file = os.path.join(root, name)
        if not name or "/" in name or not os.path.isfile(file):
            self.request.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
            return
        with open(file, "rb") as f:
            body = f.read()
        self.request.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body))
        if name == stall and not stalled.is_set():
            stalled.set()
            self.request.sendall(body[: len(body) // 2])
            log("stalled %s at %d of %d" % (name, len(body) // 2, len(body)))
            self.request.settimeout(lifetime)
            try:
                while self.request.recv(4096):  # until the client is gone
                    pass
            except OSError:
                pass
            return
        self.request.sendall(body)
        log("sent %s %d" % (name, len(body)))


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


with Server(("127.0.0.1", port), Handler) as server:
    server.serve_forever()
