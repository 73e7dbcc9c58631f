#!/usr/bin/env python3
"""Signed release sets made by three independent makers verify in the others.

  sign_crosscheck.py WINE_RUN QMPACK_EXE [NATIVE_QMPACK]

- Python's `cryptography` package makes a key pair, a list with SHA-256
  hashes and its signature of format 2 (DER turned into r || s by the
  package itself); qmpack.exe (CNG) must accept the set with the public key
  and report its sequence and expiry, and refuse it once one byte of the
  list, the sequence or the expiry is changed.
- The native qmpack (OpenSSL) makes a key and a signed set; qmpack.exe must
  accept it.
- qmpack.exe makes a key and a signed set with --sequence and --expires;
  Python must verify the signature over those lines and the list, and the
  hashes, and the native qmpack must accept the set.
Every run is under a fresh temporary folder; exit status 0 when all hold.
"""
import hashlib
import os
import subprocess
import sys
import tempfile

from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature, encode_dss_signature

wine_run, qmpack_exe = sys.argv[1], sys.argv[2]
native = sys.argv[3] if len(sys.argv) > 3 and sys.argv[3] else None
failures = []


def run(cmd, cwd, expect, says=None):
    r = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=120)
    if r.returncode != expect or (says and says not in r.stdout):
        failures.append(f"{' '.join(cmd)} -> {r.returncode}, wanted {expect} and {says!r}\n{r.stdout}{r.stderr}")


def exe(*args):
    return ["bash", wine_run, qmpack_exe, *args]


def two_lines(header, data):
    return f"{header}\n{data.hex()}\n"


def read_hex(path, header):
    lines = open(path).read().splitlines()
    assert lines[0] == header, lines
    return bytes.fromhex(lines[-1])


SIG_HEADER = "QMSIG 2 ecdsa-p256-sha256"


def signed_lines(sequence, expires):
    """The signature file's first three lines, which the signature covers before the list."""
    return f"{SIG_HEADER}\nsequence {sequence}\nexpires {expires}\n"


def manifest(work):
    os.makedirs(os.path.join(work, "src"))
    with open(os.path.join(work, "src", "a.txt"), "wb") as f:
        f.write(b"cross-checked " * 500)
    with open(os.path.join(work, "m.txt"), "w") as f:
        f.write("A | src/a.txt | a.tx_ | {prog}\\a.txt | yes\n")


def python_signs(work):
    key = ec.generate_private_key(ec.SECP256R1())
    numbers = key.public_key().public_numbers()
    point = numbers.x.to_bytes(32, "big") + numbers.y.to_bytes(32, "big")
    with open(os.path.join(work, "py.pub"), "w") as f:
        f.write(two_lines("QMKEY 1 ecdsa-p256-public", point))
    out = os.path.join(work, "set")
    os.makedirs(out)
    body = b"plain file served as it is\r\n" * 40
    with open(os.path.join(out, "a.txt"), "wb") as f:
        f.write(body)
    n = len(body)
    lst = f"A\t{n}\t{n}\ta.txt\t{{sys}}\\a.txt\tno\t{hashlib.sha256(body).hexdigest().upper()}\r\n".encode()
    with open(os.path.join(out, "list.txt"), "wb") as f:
        f.write(lst)
    lines = signed_lines(9223372036854775807, 253402300800)
    r, s = decode_dss_signature(key.sign(lines.encode() + lst, ec.ECDSA(hashes.SHA256())))
    sig = lines + (r.to_bytes(32, "big") + s.to_bytes(32, "big")).hex() + "\n"
    altered = [("list", lst.replace(b"{sys}", b"{prog}"), sig),
               ("sequence", lst, sig.replace("sequence 9223372036854775807", "sequence 9223372036854775806")),
               ("expiry", lst, sig.replace("expires 253402300800", "expires never"))]
    for name, text, signature in [("as made", lst, sig)] + altered:
        with open(os.path.join(out, "list.txt"), "wb") as f:
            f.write(text)
        with open(os.path.join(out, "list.txt.sig"), "w") as f:
            f.write(signature)
        run(exe("verify", "--key", "py.pub", "set"), work, 0 if name == "as made" else 1,
            "sequence 9223372036854775807, valid until 253402300800 seconds" if name == "as made" else None)


def native_signs(work):
    manifest(work)
    run([native, "keygen", "n.priv", "n.pub"], work, 0)
    run([native, "build", "m.txt", "set", "--sign", "n.priv"], work, 0)
    run(exe("verify", "--key", "n.pub", "set"), work, 0)


def exe_signs(work):
    manifest(work)
    run(exe("keygen", "w.priv", "w.pub"), work, 0)
    run(exe("build", "m.txt", "set", "--sign", "w.priv", "--sequence", "42", "--expires", "2099-12-31"), work, 0)
    point = read_hex(os.path.join(work, "w.pub"), "QMKEY 1 ecdsa-p256-public")
    public = ec.EllipticCurvePublicNumbers(int.from_bytes(point[:32], "big"), int.from_bytes(point[32:], "big"),
                                           ec.SECP256R1()).public_key()
    rs = read_hex(os.path.join(work, "set", "list.txt.sig"), SIG_HEADER)
    lst = open(os.path.join(work, "set", "list.txt"), "rb").read()
    covered = signed_lines(42, 4102444800).encode() + lst  # 2100-01-01 00:00 UTC
    try:
        public.verify(encode_dss_signature(int.from_bytes(rs[:32], "big"), int.from_bytes(rs[32:], "big")), covered,
                      ec.ECDSA(hashes.SHA256()))
    except InvalidSignature:
        failures.append("Python does not verify the signature qmpack.exe made")
    for line in lst.decode().splitlines():
        f = line.split("\t")
        if hashlib.sha256(open(os.path.join(work, "set", f[3]), "rb").read()).hexdigest() != f[6]:
            failures.append(f"field 6 of {f[3]} is not its SHA-256: {line}")
    if native:
        run([native, "verify", "--key", "w.pub", "set"], work, 0, "sequence 42, valid until 2100-01-01 00:00:00 UTC")


makers = [python_signs, exe_signs] + ([native_signs] if native else [])
for maker in makers:
    with tempfile.TemporaryDirectory(prefix="qm-cross-") as work:
        maker(work)
if not native:
    failures.append("no native qmpack given: the OpenSSL side was not checked")
for f in failures:
    print("FAIL:", f)
print(f"{len(makers)} makers checked, {len(failures)} failures")
sys.exit(1 if failures else 0)
