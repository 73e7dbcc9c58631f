#!/usr/bin/env python3
"""Writes the demo set's generated source files into the folder given:
veldra.txt (about 1.5 MB of course text), words.dat (a word list) and
qmvldr.dll (64 KiB of pseudo-random bytes). The same bytes on every run."""
import random
import sys
from pathlib import Path

out = Path(sys.argv[1])
rng = random.Random(1998)
words = ["lesson", "word", "grammar", "reading", "listening", "verb", "noun", "exercise", "answer",
         "question", "story", "chapter", "practice", "review", "dialogue", "sentence", "meaning"]
lines = []
for n in range(30000):
    lines.append(f"{n:05d} " + " ".join(rng.choice(words) for _ in range(rng.randint(4, 9))))
(out / "veldra.txt").write_bytes(("\r\n".join(lines) + "\r\n").encode())
(out / "words.dat").write_bytes("".join(f"{w}\t{i}\n" for i, w in enumerate(sorted(set(words)) * 200)).encode())
(out / "qmvldr.dll").write_bytes(bytes(rng.getrandbits(8) for _ in range(65536)))
