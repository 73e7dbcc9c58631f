"""The demo's HTTPS server: Python's static file server (HTTP/1.0) behind
TLS, on 127.0.0.1, logging each request to stderr as http.server does.

    https-server.py PORT DIRECTORY CERT KEY
"""
import functools
import http.server
import ssl
import sys

port, directory, cert, key = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=directory)
server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.minimum_version = ssl.TLSVersion.TLSv1_2
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
