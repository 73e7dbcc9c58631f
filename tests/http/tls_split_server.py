"""tls_split_server.py PORT CERT KEY FILE: a TLS 1.2 server on 127.0.0.1
that writes everything, handshake included, in pieces of 1 to 50 bytes, so
the client sees records cut anywhere and spread over many reads. Paths:
  /split       FILE with its Content-Length, then close_notify
  /short       the same Content-Length but 1000 bytes, then a close without
               close_notify
  /twoway      FILE with its Content-Length, close_notify, then the close
               waits for the client's close_notify (a two-way shutdown)
  /twoway-nolength   the same without Content-Length
  /cut-nolength      FILE without Content-Length, then a close without
                     close_notify
  /empty-record      FILE with its Content-Length, an empty application
                     record in its middle (records written here, as OpenSSL
                     writes none), then close_notify
  /trickle     16384 bytes of FILE in one record, 160 bytes every 16 ms
  /trickle-slow  600 bytes of FILE in one record, a byte every 8 ms
  /relative    302 to "/split?from=http://elsewhere" (a relative Location)
A query after the path is ignored."""
import hashlib
import hmac
import os
import random
import socket
import ssl
import sys
import time

from cryptography.hazmat.primitives.ciphers.aead import AESGCM


def send_pieces(conn, tls_out, pieces, sent=None):
    data = tls_out.read()
    if sent is not None:
        sent += data
    while data:
        n = pieces.randint(1, 50)
        conn.sendall(data[:n])
        data = data[n:]
        if pieces.random() < 0.02:
            time.sleep(0.001)  # let the client read what came so far


def pump(conn, tls_in, tls_out, step, pieces, sent=None):
    while True:
        try:
            return step()
        except ssl.SSLWantReadError:
            send_pieces(conn, tls_out, pieces, sent)
            chunk = conn.recv(65536)
            if not chunk:
                raise EOFError("the client closed")
            tls_in.write(chunk)


def prf(secret, label, seed, size):
    """The TLS 1.2 pseudo-random function with SHA-256."""
    out, a = b"", label + seed
    while len(out) < size:
        a = hmac.digest(secret, a, hashlib.sha256)
        out += hmac.digest(secret, a + label + seed, hashlib.sha256)
    return out[:size]


class RecordWriter:
    """Writes the server's AES-128-GCM records after the handshake, from the
    master secret that OpenSSL logged; its own next record is number 1."""

    def __init__(self, keylog, sent):
        line = open(keylog).read().split()
        client_random, master = bytes.fromhex(line[-2]), bytes.fromhex(line[-1])
        server_random = bytes(sent[11:43])  # record, handshake header, version
        block = prf(master, b"key expansion", server_random + client_random, 40)
        self.key, self.salt, self.seq = AESGCM(block[16:32]), block[36:40], 1

    def record(self, kind, data):
        seq = self.seq.to_bytes(8, "big")
        self.seq += 1
        aad = seq + bytes([kind, 3, 3]) + len(data).to_bytes(2, "big")
        sealed = seq + self.key.encrypt(self.salt + seq, data, aad)
        return bytes([kind, 3, 3]) + len(sealed).to_bytes(2, "big") + sealed


def answer(conn, context, keylog, body, pieces):
    tls_in, tls_out = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = context.wrap_bio(tls_in, tls_out, server_side=True)
    sent = bytearray()
    pump(conn, tls_in, tls_out, tls.do_handshake, pieces, sent)
    request = b""
    while b"\r\n\r\n" not in request:
        request += pump(conn, tls_in, tls_out, lambda: tls.read(65536), pieces)
    path = request.split(b" ")[1].split(b"?")[0].decode()
    length = b"Content-Length: %d\r\n" % len(body)
    if path == "/empty-record":
        writer = RecordWriter(keylog, sent)
        head = b"HTTP/1.0 200 OK\r\n" + length + b"\r\n" + body[:5000]
        rest = [(23, body[at:at + 16384]) for at in range(5000, len(body), 16384)]
        for kind, data in [(23, head), (23, b"")] + rest + [(21, b"\x01\x00")]:
            conn.sendall(writer.record(kind, data))
        conn.recv(65536)  # the client's close_notify or its close
        return
    if path.startswith("/trickle"):
        size, piece, pause = (600, 1, 0.008) if path == "/trickle-slow" else (16384, 160, 0.016)
        tls.write(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % size)
        send_pieces(conn, tls_out, pieces)
        tls.write(body[:size])
        record = tls_out.read()
        for at in range(0, len(record), piece):
            conn.sendall(record[at:at + piece])
            time.sleep(pause)
        return
    if path == "/relative":
        tls.write(b"HTTP/1.0 302 Found\r\nLocation: /split?from=http://elsewhere\r\n\r\n")
        send_pieces(conn, tls_out, pieces)
        return
    short = path == "/short"
    tls.write(b"HTTP/1.0 200 OK\r\n" + (b"" if "nolength" in path else length) + b"\r\n" +
              (body[:1000] if short else body))
    if short or path == "/cut-nolength":
        send_pieces(conn, tls_out, pieces)
        return
    try:
        tls.unwrap()
    except ssl.SSLWantReadError:
        pass
    if path.startswith("/twoway"):
        pump(conn, tls_in, tls_out, tls.unwrap, pieces)  # wait for the client's close_notify
    send_pieces(conn, tls_out, pieces)


def main():
    port, cert, key, path = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    body = open(path, "rb").read()

    keylog = "%s/tls_split_server.%d.keys" % (os.environ.get("TMPDIR", "/tmp"), os.getpid())
    pieces = random.Random(port)
    server = socket.create_server(("127.0.0.1", port))
    while True:
        conn, _ = server.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # A context per connection: its key log then holds this one's alone.
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.maximum_version = ssl.TLSVersion.TLSv1_2
        context.set_ciphers("ECDHE-RSA-AES128-GCM-SHA256")
        context.load_cert_chain(cert, key)
        if os.path.exists(keylog):
            os.unlink(keylog)
        context.keylog_filename = keylog
        try:
            answer(conn, context, keylog, body, pieces)
        except (EOFError, OSError, ssl.SSLError) as e:
            print("tls_split_server:", e, flush=True)
        conn.close()


main()
