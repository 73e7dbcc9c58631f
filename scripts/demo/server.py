"""The demo's server: Python's static file server (HTTP/1.0) on 127.0.0.1,
behind TLS with --tls, logging each request to stderr as http.server does.
With --busy-once NAME the first request for a path ending in NAME is
answered "503 Service Unavailable" with "Retry-After: 1", as a busy server
would, so that the demo shows the loader trying it again. With --missing
NAME every request for a path ending in NAME is answered "404 Not Found", as
a server that lost the file would, so that the loader takes it from a mirror.

    server.py PORT DIRECTORY [--tls CERT KEY] [--busy-once NAME] [--missing NAME]
"""
import argparse
import functools
import http.server
import ssl
import threading

parser = argparse.ArgumentParser()
parser.add_argument("port", type=int)
parser.add_argument("directory")
parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
parser.add_argument("--busy-once")
parser.add_argument("--missing")
args = parser.parse_args()

busy = {"name": args.busy_once}
lock = threading.Lock()


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        if args.missing and self.path.endswith("/" + args.missing):
            self.send_error(404)
            return
        with lock:
            answer_busy = busy["name"] and self.path.endswith("/" + busy["name"])
            if answer_busy:
                busy["name"] = None
        if answer_busy:
            self.send_response(503)
            self.send_header("Retry-After", "1")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        super().do_GET()


handler = functools.partial(Handler, directory=args.directory)
server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), handler)
if args.tls:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(*args.tls)
    server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
