#!/usr/bin/env python3
"""Times the current qmlzh against qmlzh built at an earlier revision.

    bench/compare-lzh.py [--ref REV] [--rounds N] [--mixed-mb MB] [FILE...]

Builds the current tree (native-release preset, in build/compare-lzh/cur)
and REV in a temporary git worktree (build/compare-lzh/ref-REV, kept for the
next run), writes the benchmark corpus (bench/lzh_corpus: text, binary,
random, runs and a mixed file of 64 KiB pieces) plus any FILE given, checks
that both tools write identical compressed bytes and restore every file,
then runs `qmlzh c` and `qmlzh t` of both tools alternately for N rounds.

Printed per file and for the whole corpus: the median over the rounds of
(reference time / current time), i.e. how many times faster the current
tool is, for compression and decompression, by CPU time (user + system of
the child; steadier than wall time on a shared machine) and by wall time.
"""
import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The last revision before the codec's speed work; its encoder output is
# pinned in tests/lzh/CodecVectorsTest.cpp.
DEFAULT_REF = "6d79908"


def run(cmd, **kw):
    subprocess.run(cmd, check=True, **kw)


def build(source, build_dir, targets):
    if not os.path.exists(os.path.join(build_dir, "build.ninja")):
        run(["cmake", "--preset", "native-release", "-S", source, "-B", build_dir],
            cwd=source, stdout=subprocess.DEVNULL)
    run(["cmake", "--build", build_dir, "-j2", "--target"] + targets, stdout=subprocess.DEVNULL)


def build_reference(rev, out_dir):
    tool = os.path.join(out_dir, "qmlzh")
    if os.path.exists(tool):
        return tool
    sha = subprocess.check_output(["git", "-C", ROOT, "rev-parse", "--verify", rev + "^{commit}"], text=True).strip()
    tree = tempfile.mkdtemp(prefix="qmlzh-ref-")
    try:
        run(["git", "-C", ROOT, "worktree", "add", "--detach", tree, sha], stdout=subprocess.DEVNULL)
        build(tree, os.path.join(tree, "build", "ref"), ["qmlzh"])
        os.makedirs(out_dir, exist_ok=True)
        shutil.copy2(os.path.join(tree, "build", "ref", "tools", "qmlzh"), tool)
    finally:
        subprocess.run(["git", "-C", ROOT, "worktree", "remove", "--force", tree])
        shutil.rmtree(tree, ignore_errors=True)
    return tool


def timed(cmd):
    """Runs cmd, returns (cpu seconds of the child, wall seconds)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit("failed: " + " ".join(cmd))
    return usage.ru_utime + usage.ru_stime, wall


def check_identical(ref, cur, files, work):
    for f in files:
        name = os.path.basename(f)
        packed = {}
        for label, tool in (("ref", ref), ("cur", cur)):
            packed[label] = os.path.join(work, f"{name}.{label}.lzh")
            run([tool, "c", f, packed[label]], stdout=subprocess.DEVNULL)
        if not filecmp.cmp(packed["ref"], packed["cur"], shallow=False):
            sys.exit(f"{name}: the two tools wrote different compressed bytes")
        for label, tool in (("ref", ref), ("cur", cur)):
            restored = os.path.join(work, f"{name}.{label}.out")
            run([tool, "d", packed["ref"], restored], stdout=subprocess.DEVNULL)
            if not filecmp.cmp(restored, f, shallow=False):
                sys.exit(f"{name}: {label} did not restore the original")
            os.remove(restored)
        os.remove(packed["cur"])
        os.rename(packed["ref"], os.path.join(work, name + ".lzh"))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--ref", default=DEFAULT_REF, help="revision to compare with (default %(default)s)")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--mixed-mb", type=int, default=60)
    ap.add_argument("files", nargs="*")
    args = ap.parse_args()

    base = os.path.join(ROOT, "build", "compare-lzh")
    build(ROOT, os.path.join(base, "cur"), ["qmlzh", "lzh_corpus"])
    cur = os.path.join(base, "cur", "tools", "qmlzh")
    ref = build_reference(args.ref, os.path.join(base, "ref-" + args.ref))

    with tempfile.TemporaryDirectory(prefix="compare-lzh-") as work:
        run([os.path.join(base, "cur", "bench", "lzh_corpus"), work, str(args.mixed_mb)], stdout=subprocess.DEVNULL)
        files = [os.path.join(work, n) for n in ("text", "binary", "random", "runs", "mixed")]
        for f in args.files:
            shutil.copy(f, work)
            files.append(os.path.join(work, os.path.basename(f)))
        check_identical(ref, cur, files, work)
        print(f"reference {args.ref}, {args.rounds} rounds, load average before: {os.getloadavg()[0]:.2f}")

        # times[op][label][file] = list of (cpu, wall), one per round
        times = {op: {"ref": {}, "cur": {}} for op in ("c", "t")}
        sink = os.path.join(work, "sink.lzh")
        for rnd in range(args.rounds):
            order = [("ref", ref), ("cur", cur)] if rnd % 2 == 0 else [("cur", cur), ("ref", ref)]
            for f in files:
                for op in ("c", "t"):
                    for label, tool in order:
                        cmd = [tool, "c", f, sink] if op == "c" else [tool, "t", f + ".lzh"]
                        times[op][label].setdefault(f, []).append(timed(cmd))
        print(f"load average after: {os.getloadavg()[0]:.2f}")

        def ratio(op, fs, rnd, k):
            return sum(times[op]["ref"][f][rnd][k] for f in fs) / sum(times[op]["cur"][f][rnd][k] for f in fs)

        def median_ratio(op, fs, k):
            return statistics.median(ratio(op, fs, r, k) for r in range(args.rounds))

        def ms(op, label, fs):
            return statistics.median(sum(times[op][label][f][r][0] for f in fs) for r in range(args.rounds)) * 1000

        header = f"{'file':<10}{'MB':>8}{'c ref ms':>10}{'c cur ms':>10}{'c x cpu':>9}{'c x wall':>9}" \
                 f"{'d ref ms':>10}{'d cur ms':>10}{'d x cpu':>9}{'d x wall':>9}"
        print(header)
        rows = [(os.path.basename(f), [f]) for f in files] + [("corpus", files)]
        for name, fs in rows:
            mb = sum(os.path.getsize(f) for f in fs) / 1e6
            print(f"{name:<10}{mb:>8.1f}"
                  f"{ms('c', 'ref', fs):>10.0f}{ms('c', 'cur', fs):>10.0f}"
                  f"{median_ratio('c', fs, 0):>9.2f}{median_ratio('c', fs, 1):>9.2f}"
                  f"{ms('t', 'ref', fs):>10.0f}{ms('t', 'cur', fs):>10.0f}"
                  f"{median_ratio('t', fs, 0):>9.2f}{median_ratio('t', fs, 1):>9.2f}")
        print("ms: median CPU time; x: median of reference time / current time (above 1: current faster)")


if __name__ == "__main__":
    main()
