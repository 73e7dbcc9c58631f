#!/usr/bin/env python3
"""Mutation run over portable source files, judged by the native tests alone.

For each FILE it makes N small faults (mutants) chosen with a fixed seed,
rebuilds the native ASan+UBSan build in its own directory (build/mutation
by default, so a developer's build/native is left alone), runs the native
tests that the mutant can reach, and reports per file how many mutants were
killed (a test failed or timed out), survived (every test passed) or did
not build, with the diff of each survivor.

    python3 scripts/mutation.py [-n 32] [--seed 19] src/release/ListRules.cpp ...

The source is restored byte for byte after every mutant, also when the run
is interrupted (Ctrl-C, SIGTERM); a copy of the original lies in the build
directory while a mutant is in place, and the next run puts it back should
the process have been killed outright.

Only the tests whose programs the mutant rebuilt are run: a test program
that ninja did not relink holds none of the mutated code. Only what those
tests need is built.

The mutants lie in the working tree: while a run lasts, build no other
build directory of this tree and edit nothing in it.
"""

import argparse
import difflib
import json
import os
import random
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


# ---- finding the places to mutate ----

def code_mask(text):
    """text with comments, string and character literals and preprocessor
    lines blanked out (same length), so operators are found only in code."""
    out = list(text)
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and text[i:].lstrip(' \t').startswith('#'):
            end = text.find('\n', i)
            end = n if end < 0 else end
            out[i:end] = ' ' * (end - i)
            i = end
            continue
        line_start = c == '\n' or (line_start and c in ' \t')
        if text.startswith('//', i):
            end = text.find('\n', i)
            end = n if end < 0 else end
        elif text.startswith('/*', i):
            end = text.find('*/', i + 2) + 2
        elif c in '"\'':
            end = i + 1
            while end < n and text[end] != c:
                end += 2 if text[end] == '\\' else 1
            end += 1
        else:
            i += 1
            continue
        for k in range(i, end):
            if text[k] != '\n':
                out[k] = ' '
        i = end
    return ''.join(out)


SWAPS = [
    (r'==', '!='), (r'!=', '=='),
    (r' <= ', ' < '), (r' < ', ' <= '), (r' >= ', ' > '), (r' > ', ' >= '),
    (r' \+ ', ' - '), (r' - ', ' + '), (r'\+=', '-='), (r'-=', '+='),
    (r'&&', '||'), (r'\|\|', '&&'),
    (r'\btrue\b', 'false'), (r'\bfalse\b', 'true'),
    (r'\+\+', '--'), (r'(?<![-\s])--(?!\s*>)', '++'),
]


NO_PARENTHESES_WARNING = '#pragma GCC diagnostic ignored "-Wparentheses"\n'


def matching_paren(mask, open_at):
    depth = 0
    for k in range(open_at, len(mask)):
        if mask[k] == '(':
            depth += 1
        elif mask[k] == ')':
            depth -= 1
            if depth == 0:
                return k
    return -1


def find_mutants(text):
    """Every mutant of text as (start, end, replacement, what)."""
    mask = code_mask(text)
    found = []
    for pattern, repl in SWAPS:
        for m in re.finditer(pattern, mask):
            line = text[text.rfind('\n', 0, m.start()) + 1:text.find('\n', m.start())]
            if repl.strip() in '+-' and ('"' in line or 'string' in line):
                continue  # texts joined: a minus would not build
            found.append((m.start(), m.end(), repl, f'{m.group().strip()} -> {repl.strip()}'))
    for m in re.finditer(r'(?<![\w.])(0x[0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])', mask):
        value = int(m.group(1), 0)
        for delta in (1, -1):
            if value + delta >= 0:
                found.append((m.start(1), m.end(1), str(value + delta), f'{m.group(1)} -> {value + delta}'))
    for m in re.finditer(r'\b(if|while) \(', mask):
        close = matching_paren(mask, m.end() - 1)
        cond = text[m.end():close]
        if close > 0 and not re.search(r'[^=!<>]=[^=]', cond):  # no declaration in the condition
            found.append((m.end(), close, f'!({cond})', f'{m.group(1)} condition negated'))
    # Whole expression statements on one line (calls, assignments, steps);
    # declarations are left alone, their deletion would not build.
    statement = re.compile(r'(\+\+|--)?[\w.:\->\[\]*]+\s*(\(|=(?!=)|[-+*|&]=|\+\+|--)')
    previous = ';'
    offset = 0
    for line in mask.splitlines(keepends=True):
        code = line.strip()
        if code.endswith(';') and previous[-1] in ';{}' and statement.match(code):
            start = offset + line.index(code)
            found.append((start, start + len(code), '', 'statement deleted'))
        if code:
            previous = code
        offset += len(line)
    return sorted(set(found))


# ---- building and testing ----

def run(cmd, timeout=None, **kw):
    """Runs cmd in its own process group, killed whole on timeout."""
    proc = subprocess.Popen(cmd, start_new_session=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, **kw)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return None, out
    except BaseException:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        raise


class Build:
    def __init__(self, directory, test_regex, timeout):
        self.dir = directory
        self.timeout = timeout
        if not (directory / 'build.ninja').exists():
            rc, out = run(['cmake', '-S', str(ROOT), '-B', str(directory), '-G', 'Ninja',
                           '-DCMAKE_BUILD_TYPE=RelWithDebInfo', '-DQM_SANITIZE=ON', '-DQM_BUILD_BENCH=OFF'])
            if rc != 0:
                sys.exit('configure failed:\n' + out)
        # Once whole: ctest names a test's program only when it exists.
        print(f'building {directory}', flush=True)
        rc, out = run(['ninja', '-C', str(directory)])
        if rc != 0:
            sys.exit('the unmutated build fails:\n' + out)
        rc, out = run(['ctest', '--test-dir', str(directory), '--show-only=json-v1'] +
                      (['-R', test_regex] if test_regex else []))
        tests = json.loads(out[out.index('{'):])['tests']
        rc, out = run(['ninja', '-C', str(directory), '-t', 'targets', 'all'])
        outputs = {line.split(':')[0] for line in out.splitlines()}
        # test name -> the build outputs its command runs (programs, also as
        # -DNAME=path arguments)
        self.tests = {}
        for t in tests:
            used = set()
            for arg in t.get('command', []):
                path = arg.split('=', 1)[-1]
                if path.startswith(str(directory) + '/'):
                    rel = os.path.relpath(path, directory)
                    if rel in outputs:
                        used.add(rel)
            self.tests[t['name']] = used
        self.targets = sorted(set().union(*self.tests.values()))

    def stamps(self):
        return {p: (self.dir / p).stat().st_mtime_ns if (self.dir / p).exists() else 0 for p in self.targets}

    def build(self):
        rc, out = run(['ninja', '-C', str(self.dir)] + self.targets)
        return rc == 0, out

    def test(self, names):
        """None when every test passed, else a short reason."""
        if not names:
            return None
        regex = '^(' + '|'.join(re.escape(n) for n in sorted(names)) + ')$'
        rc, out = run(['ctest', '--test-dir', str(self.dir), '-R', regex, '-j2', '--stop-on-failure'],
                      timeout=self.timeout)
        if rc is None:
            return 'timed out'
        if rc != 0:
            failed = re.findall(r'\d+ - (\S+) \(', out)
            return 'failed: ' + (', '.join(failed) or out.strip().splitlines()[-1])
        return None


# ---- one file ----

class Restorer:
    """Keeps the original of the file under mutation and puts it back."""

    def __init__(self, backup_dir):
        self.backup_dir = backup_dir
        self.current = None

    def recover(self):
        """Puts back what a killed run left mutated."""
        for saved in self.backup_dir.rglob('*') if self.backup_dir.exists() else []:
            if saved.is_file():
                target = ROOT / saved.relative_to(self.backup_dir)
                target.write_bytes(saved.read_bytes())
                saved.unlink()
                print(f'restored {target.relative_to(ROOT)} from an interrupted run')

    def mutate(self, path, original, mutated):
        saved = self.backup_dir / path.relative_to(ROOT)
        saved.parent.mkdir(parents=True, exist_ok=True)
        saved.write_bytes(original)
        self.current = (path, original, saved)
        path.write_bytes(mutated)

    def restore(self):
        if self.current:
            path, original, saved = self.current
            path.write_bytes(original)
            saved.unlink(missing_ok=True)
            self.current = None


def mutate_file(path, args, build, restorer):
    original = path.read_bytes()
    text = original.decode('utf-8')
    candidates = find_mutants(text)
    rng = random.Random(f'{args.seed}:{path.relative_to(ROOT).as_posix()}')
    chosen = sorted(rng.sample(candidates, min(args.mutants, len(candidates))))
    result = {'killed': 0, 'survived': [], 'unbuilt': 0, 'candidates': len(candidates)}
    for number, (start, end, repl, what) in enumerate(chosen, 1):
        mutated = text[:start] + repl + text[end:]
        line = text.count('\n', 0, start) + 1
        label = f'{path.relative_to(ROOT)}:{line}: {what}'
        try:
            before = build.stamps()
            # An operator swapped may mix && with || unbracketed, which the
            # build's warnings (as errors) would refuse.
            restorer.mutate(path, original, (NO_PARENTHESES_WARNING + mutated).encode('utf-8'))
            built, log = build.build()
            if not built:
                verdict = 'did not build'
                result['unbuilt'] += 1
            else:
                after = build.stamps()
                reached = [n for n, used in build.tests.items() if any(before[p] != after[p] for p in used)]
                reason = build.test(reached)
                if reason:
                    verdict = 'killed (' + reason + ')'
                    result['killed'] += 1
                else:
                    verdict = f'SURVIVED ({len(reached)} tests ran)'
                    diff = ''.join(difflib.unified_diff(text.splitlines(True), mutated.splitlines(True),
                                                        str(path.relative_to(ROOT)), 'mutant', n=1))
                    result['survived'].append((label, diff))
        finally:
            restorer.restore()
        print(f'  [{number}/{len(chosen)}] {label}: {verdict}', flush=True)
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('files', nargs='+', type=Path)
    parser.add_argument('-n', '--mutants', type=int, default=32, help='mutants per file (32)')
    parser.add_argument('--seed', default='19', help='seed of the choice of mutants (19)')
    parser.add_argument('--build-dir', type=Path, default=ROOT / 'build' / 'mutation')
    parser.add_argument('--tests', default='', help='ctest regex limiting the tests considered')
    parser.add_argument('--timeout', type=int, default=120, help='seconds for the tests of one mutant (120)')
    args = parser.parse_args()

    # SIGTERM and SIGHUP end the run like Ctrl-C, through the restoring code.
    def interrupted(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGHUP, interrupted)

    build_dir = args.build_dir.resolve()
    restorer = Restorer(build_dir / 'mutation-originals')
    restorer.recover()
    build = Build(build_dir, args.tests, args.timeout)
    print(f'{len(build.targets)} test programs: {" ".join(build.targets)}', flush=True)
    started = time.time()
    failing = build.test(build.tests.keys())
    if failing:
        sys.exit('the unmutated tests fail: ' + failing)
    print(f'{len(build.tests)} tests pass unmutated in {time.time() - started:.0f} s', flush=True)

    results = {}
    try:
        for f in args.files:
            path = f.resolve()
            print(f'{path.relative_to(ROOT)}:', flush=True)
            results[path] = mutate_file(path, args, build, restorer)
    except KeyboardInterrupt:
        print('interrupted: the source is restored', file=sys.stderr)
        return 130
    print('\nfile: killed / survived / did not build (of N buildable: % killed)')
    for path, r in results.items():
        buildable = r['killed'] + len(r['survived'])
        share = 100.0 * r['killed'] / buildable if buildable else 0.0
        print(f'{path.relative_to(ROOT)}: {r["killed"]} / {len(r["survived"])} / {r["unbuilt"]} '
              f'({buildable}: {share:.0f} %; {r["candidates"]} candidate mutants)')
        for label, diff in r['survived']:
            print(f'  survivor {label}\n' + ''.join('    ' + l for l in diff.splitlines(True)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
