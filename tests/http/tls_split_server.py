"""A TLS server on 127.0.0.1 that writes everything it sends, handshake
included, in pieces of 1 to 50 bytes, so a client sees records cut at any
point and spread over many reads.

    tls_split_server.py PORT CERT KEY FILE

GET /split answers 200 with FILE (Content-Length given) and ends with
close_notify; GET /short promises FILE's length but sends 1000 bytes and
closes the connection without close_notify. One connection at a time.
"""
import random
import socket
import ssl
import sys
import time


def serve(conn, tls_out, pieces):
    data = tls_out.read()
    while data:
        n = pieces.randint(1, 50)
        conn.sendall(data[:n])
        data = data[n:]
        if pieces.random() < 0.02:
            time.sleep(0.001)  # let the client read what came so far


def pump(conn, obj, tls_in, tls_out, step, pieces):
    while True:
        try:
            return step()
        except ssl.SSLWantReadError:
            serve(conn, tls_out, pieces)
            chunk = conn.recv(65536)
            if not chunk:
                raise EOFError
            tls_in.write(chunk)


def answer(conn, context, body, pieces):
    tls_in, tls_out = ssl.MemoryBIO(), ssl.MemoryBIO()
    obj = context.wrap_bio(tls_in, tls_out, server_side=True)
    pump(conn, obj, tls_in, tls_out, obj.do_handshake, pieces)
    request = b""
    while b"\r\n\r\n" not in request:
        request += pump(conn, obj, tls_in, tls_out, lambda: obj.read(65536), pieces)
    short = request.startswith(b"GET /short ")
    head = b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body)
    obj.write(head + (body[:1000] if short else body))
    if not short:
        try:
            obj.unwrap()
        except ssl.SSLWantReadError:
            pass
    serve(conn, tls_out, pieces)


def main():
    port, cert, key, path = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    body = open(path, "rb").read()
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    pieces = random.Random(port)
    server = socket.create_server(("127.0.0.1", port))
    while True:
        conn, _ = server.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            answer(conn, context, body, pieces)
        except (EOFError, OSError, ssl.SSLError) as e:
            print("tls_split_server:", e, flush=True)
        conn.close()


main()
