#!/usr/bin/env python3
"""A slow, literal model of the LZH bit stream, kept apart from the C++ code.

It is used to derive the known-answer vectors and digests pinned in
CodecVectorsTest.cpp: the output routine keeps a 16-bit accumulator, trees and
scans are the plain loops, nothing is shared with the C++ sources.

  lzh_model.py encode FILE      prints the coded stream in hex
  lzh_model.py digest NAME      prints size and FNV-1a 64 of a named test input
  lzh_model.py paths            codes the deep-tree symbol sequence of
                                SymbolTreeTest.cpp and prints its digest
"""
import sys

N, F, THRESHOLD, NIL = 4096, 60, 2, 4096
N_CHAR = 256 - THRESHOLD + F      # 314
T = 2 * N_CHAR - 1                # 627
R = T - 1                         # 626
MAX_FREQ = 0x8000

P_LEN = [3] + [4] * 3 + [5] * 8 + [6] * 12 + [7] * 24 + [8] * 16
P_CODE = ([0x00, 0x20, 0x30, 0x40] + list(range(0x50, 0x89, 8)) + list(range(0x90, 0xBD, 4))
          + list(range(0xC0, 0xEF, 2)) + list(range(0xF0, 0x100)))
assert len(P_LEN) == 64 and len(P_CODE) == 64


class Huff:
    def __init__(self):
        self.freq = [0] * (T + 1)
        self.prnt = [0] * (T + N_CHAR)
        self.son = [0] * T
        for i in range(N_CHAR):
            self.freq[i] = 1
            self.son[i] = i + T
            self.prnt[i + T] = i
        i, j = 0, N_CHAR
        while j <= R:
            self.freq[j] = self.freq[i] + self.freq[i + 1]
            self.son[j] = i
            self.prnt[i] = self.prnt[i + 1] = j
            i += 2
            j += 1
        self.freq[T] = 0xFFFF
        self.prnt[R] = 0
        self.rebuilds = 0

    def reconst(self):
        self.rebuilds += 1
        freq, son, prnt = self.freq, self.son, self.prnt
        j = 0
        for i in range(T):
            if son[i] >= T:
                freq[j] = (freq[i] + 1) // 2
                son[j] = son[i]
                j += 1
        i, j = 0, N_CHAR
        while j < T:
            f = freq[i] + freq[i + 1]
            k = j - 1
            while f < freq[k]:
                k -= 1
            k += 1
            freq[k + 1:j + 1] = freq[k:j]
            son[k + 1:j + 1] = son[k:j]
            freq[k] = f
            son[k] = i
            i += 2
            j += 1
        for i in range(T):
            k = son[i]
            if k >= T:
                prnt[k] = i
            else:
                prnt[k] = prnt[k + 1] = i

    def update(self, c):
        freq, son, prnt = self.freq, self.son, self.prnt
        if freq[R] == MAX_FREQ:
            self.reconst()
        c = prnt[c + T]
        while True:
            freq[c] += 1
            k = freq[c]
            if k > freq[c + 1]:
                l = c + 1
                while k > freq[l + 1]:
                    l += 1
                freq[c] = freq[l]
                freq[l] = k
                i = son[c]
                prnt[i] = l
                if i < T:
                    prnt[i + 1] = l
                j = son[l]
                son[l] = i
                prnt[j] = c
                if j < T:
                    prnt[j + 1] = c
                son[c] = j
                c = l
            c = prnt[c]
            if c == 0:
                break

    def path(self, c):
        bits = []
        k = self.prnt[c + T]
        while True:
            bits.append(k & 1)
            k = self.prnt[k]
            if k == R:
                break
        return bits[::-1]


class BitOut:
    """The 16-bit accumulator routine; longer codes go in 16-bit pieces."""

    def __init__(self):
        self.buf, self.len, self.out, self.longest = 0, 0, bytearray(), 0

    def putcode(self, l, c):
        self.buf |= c >> self.len
        self.len += l
        if self.len >= 8:
            self.out.append((self.buf >> 8) & 0xFF)
            self.len -= 8
            if self.len >= 8:
                self.out.append(self.buf & 0xFF)
                self.len -= 8
                self.buf = (c << (l - self.len)) & 0xFFFF
            else:
                self.buf = (self.buf << 8) & 0xFFFF

    def putbits(self, bits):
        self.longest = max(self.longest, len(bits))
        for at in range(0, len(bits), 16):
            piece = bits[at:at + 16]
            v = 0
            for b in piece:
                v = (v << 1) | b
            self.putcode(len(piece), (v << (16 - len(piece))) & 0xFFFF)

    def end(self):
        if self.len:
            self.out.append((self.buf >> 8) & 0xFF)
        return bytes(self.out)


class Tree:
    def __init__(self):
        self.text = bytearray(b' ' * (N + F - 1))
        self.lson = [0] * (N + 1)
        self.rson = [0] * (N + 257)
        self.dad = [NIL] * (N + 1)
        for i in range(N + 1, N + 257):
            self.rson[i] = NIL
        self.mlen = self.mpos = 0

    def insert(self, r):
        text, lson, rson, dad = self.text, self.lson, self.rson, self.dad
        cmp = 1
        p = N + 1 + text[r]
        rson[r] = lson[r] = NIL
        self.mlen = 0
        while True:
            if cmp >= 0:
                if rson[p] != NIL:
                    p = rson[p]
                else:
                    rson[p] = r
                    dad[r] = p
                    return
            else:
                if lson[p] != NIL:
                    p = lson[p]
                else:
                    lson[p] = r
                    dad[r] = p
                    return
            i = 1
            cmp = 0
            while i < F:
                cmp = text[r + i] - text[p + i]
                if cmp != 0:
                    break
                i += 1
            if i > THRESHOLD:
                d = ((r - p) & (N - 1)) - 1
                if i > self.mlen:
                    self.mpos = d
                    self.mlen = i
                    if i >= F:
                        break
                if i == self.mlen and d < self.mpos:
                    self.mpos = d
        dad[r] = dad[p]
        lson[r] = lson[p]
        rson[r] = rson[p]
        dad[lson[p]] = r
        dad[rson[p]] = r
        if rson[dad[p]] == p:
            rson[dad[p]] = r
        else:
            lson[dad[p]] = r
        dad[p] = NIL

    def delete(self, p):
        lson, rson, dad = self.lson, self.rson, self.dad
        if dad[p] == NIL:
            return
        if rson[p] == NIL:
            q = lson[p]
        elif lson[p] == NIL:
            q = rson[p]
        else:
            q = lson[p]
            if rson[q] != NIL:
                while rson[q] != NIL:
                    q = rson[q]
                rson[dad[q]] = lson[q]
                dad[lson[q]] = dad[q]
                lson[q] = lson[p]
                dad[lson[p]] = q
            rson[q] = rson[p]
            dad[rson[p]] = q
        dad[q] = dad[p]
        if rson[dad[p]] == p:
            rson[dad[p]] = q
        else:
            lson[dad[p]] = q
        dad[p] = NIL


def encode(data):
    huff, tree, out = Huff(), Tree(), BitOut()
    src = iter(data)

    def getc():
        return next(src, None)

    def emit(c):
        out.putbits(huff.path(c))
        huff.update(c)

    s, r = 0, N - F
    length = 0
    while length < F:
        c = getc()
        if c is None:
            break
        tree.text[r + length] = c
        length += 1
    for i in range(1, F + 1):
        tree.insert(r - i)
    tree.insert(r)
    while True:
        if tree.mlen > length:
            tree.mlen = length
        if tree.mlen <= THRESHOLD:
            tree.mlen = 1
            emit(tree.text[r])
        else:
            emit(255 - THRESHOLD + tree.mlen)
            u = tree.mpos >> 6
            out.putcode(P_LEN[u], P_CODE[u] << 8)
            out.putcode(6, (tree.mpos & 0x3F) << 10)
        last = tree.mlen
        i = 0
        while i < last:
            c = getc()
            if c is None:
                break
            tree.delete(s)
            tree.text[s] = c
            if s < F - 1:
                tree.text[s + N] = c
            s = (s + 1) & (N - 1)
            r = (r + 1) & (N - 1)
            tree.insert(r)
            i += 1
        while i < last:
            i += 1
            tree.delete(s)
            s = (s + 1) & (N - 1)
            r = (r + 1) & (N - 1)
            length -= 1
            if length:
                tree.insert(r)
        if length <= 0:
            break
    return out.end(), huff.rebuilds, out.longest


def fnv1a64(data):
    h = 0xcbf29ce484222325
    for b in data:
        h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return h


def named_input(name):
    """The generated inputs of the C++ tests (tests/lzh/TestData.cpp)."""
    if name == "rebuild":
        # 48000 bytes from a 32-bit LCG, mostly literals, well past the limit.
        x, out = 12345, bytearray()
        for _ in range(48000):
            x = (x * 1103515245 + 12345) & 0xFFFFFFFF
            out.append((x >> 16) & 0xFF)
        return bytes(out)
    if name == "text":
        words = [b"alpha", b"beta", b"gamma", b"delta", b"lorem", b"ipsum", b"window", b"tree",
                 b"symbol", b"match", b"the", b"of", b"and", b"a", b"to", b"in"]
        x, out = 7, bytearray()
        while len(out) < 100000:
            x = (x * 1103515245 + 12345) & 0xFFFFFFFF
            out += words[(x >> 16) % len(words)]
            out += b"\n" if ((x >> 8) & 15) == 0 else b" "
        return bytes(out[:100000])
    raise SystemExit("unknown input " + name)


def deep_paths():
    """Symbols 302..310 with Fibonacci counts 233..10946, then every symbol
    once: the rare leaves end up 18 levels deep."""
    fib = [1, 1]
    while len(fib) < 21:
        fib.append(fib[-1] + fib[-2])
    huff, out = Huff(), BitOut()
    seq = [290 + k for k in range(12, 21) for _ in range(fib[k])] + list(range(N_CHAR))
    for c in seq:
        out.putbits(huff.path(c))
        huff.update(c)
    coded = out.end()
    print("symbols", len(seq), "coded", len(coded), "fnv1a64 %016x" % fnv1a64(coded),
          "longest path", out.longest)


def main():
    if sys.argv[1:] == ["paths"]:
        deep_paths()
        return
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    if sys.argv[1] == "encode":
        data = open(sys.argv[2], "rb").read()
        coded, rebuilds, longest = encode(data)
        print(coded.hex(), file=sys.stdout)
        print("rebuilds", rebuilds, "longest path", longest, file=sys.stderr)
    elif sys.argv[1] == "digest":
        data = named_input(sys.argv[2])
        coded, rebuilds, longest = encode(data)
        print("input", len(data), "coded", len(coded), "fnv1a64 %016x" % fnv1a64(coded),
              "rebuilds", rebuilds, "longest path", longest)
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
