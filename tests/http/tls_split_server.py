"""tls_split_server.py PORT CERT KEY FILE: a TLS server on 127.0.0.1 that
writes everything, handshake included, in pieces of 1 to 50 bytes, so the
client sees records cut anywhere and spread over many reads. GET /split gets
FILE (with its Content-Length) and close_notify; GET /short gets the same
Content-Length but 1000 bytes, then a close without close_notify."""
import random
import socket
import ssl
import sys
import time


def send_pieces(conn, tls_out, pieces):
    data = tls_out.read()
    while data:
        n = pieces.randint(1, 50)
        conn.sendall(data[:n])
        data = data[n:]
        if pieces.random() < 0.02:
            time.sleep(0.001)  # let the client read what came so far


def pump(conn, tls_in, tls_out, step, pieces):
    while True:
        try:
            return step()
        except ssl.SSLWantReadError:
            send_pieces(conn, tls_out, pieces)
            chunk = conn.recv(65536)
            if not chunk:
                raise EOFError("the client closed")
            tls_in.write(chunk)


def answer(conn, context, body, pieces):
    tls_in, tls_out = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = context.wrap_bio(tls_in, tls_out, server_side=True)
    pump(conn, tls_in, tls_out, tls.do_handshake, pieces)
    request = b""
    while b"\r\n\r\n" not in request:
        request += pump(conn, tls_in, tls_out, lambda: tls.read(65536), pieces)
    short = request.startswith(b"GET /short ")
    tls.write(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + (body[:1000] if short else body))
    if not short:
        try:
            tls.unwrap()
        except ssl.SSLWantReadError:
            pass
    send_pieces(conn, tls_out, pieces)


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
