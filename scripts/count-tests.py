#!/usr/bin/env python3
"""Adds up the results of CTest JUnit reports into one closing line.

A GoogleTest executable counts its own cases (from its summary lines); any
other test, or a test executable that died before its summary, counts as one.
Prints per suite and then: "N passed, N failed".
"""
import re
import sys
import xml.etree.ElementTree as ET

PASSED = re.compile(r"\[  PASSED  \] (\d+) tests?")
FAILED = re.compile(r"\[  FAILED  \] (\d+) tests?, listed below")


def count(report):
    passed = failed = 0
    for case in ET.parse(report).getroot().iter("testcase"):
        out = "".join(e.text or "" for e in case.iter("system-out"))
        ok = case.get("status", "run") not in ("fail",) and case.find("failure") is None
        p = PASSED.findall(out)
        f = FAILED.findall(out)
        if p or f:
            passed += sum(int(n) for n in p)
            failed += sum(int(n) for n in f)
            if not ok and not f:
                failed += 1  # summary said all passed but the process failed
        elif ok:
            passed += 1
        else:
            failed += 1
    return passed, failed


def main(args):
    total_p = total_f = 0
    for arg in args:
        name, _, path = arg.partition("=")
        try:
            p, f = count(path)
        except (OSError, ET.ParseError) as e:
            print(f"{name}: no report ({e})")
            p, f = 0, 1
        print(f"{name}: {p} passed, {f} failed")
        total_p += p
        total_f += f
    print(f"{total_p} passed, {total_f} failed")
    return 1 if total_f else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
