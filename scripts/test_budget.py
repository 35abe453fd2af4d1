#!/usr/bin/env python3
"""The test suite's size against the code's: non-blank lines of tests/ (C, C++,
Python, shell and JavaScript sources; the fixtures under tests/data and
installed node modules left out) as a share of the non-blank lines of lib/,
pgp/, app/ and tools/ counted the same way. Tests should catch faults, not
restate the code; the share is held at 35 % of the code at most.

usage: scripts/test_budget.py [--max PERCENT]   (default 35; exit 1 above it)
"""
import argparse
import os
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
SUFFIXES = (".c", ".cc", ".cpp", ".h", ".hpp", ".py", ".sh", ".js", ".mjs")
SKIP = {os.path.join("tests", "data"), "node_modules"}


def non_blank_lines(folder):
    total = 0
    for top, dirs, files in os.walk(os.path.join(ROOT, folder)):
        rel = os.path.relpath(top, ROOT)
        dirs[:] = [d for d in dirs if os.path.join(rel, d) not in SKIP and d not in SKIP]
        for name in files:
            if name.endswith(SUFFIXES):
                with open(os.path.join(top, name), encoding="utf-8", errors="replace") as f:
                    total += sum(1 for line in f if line.strip())
    return total


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--max", type=float, default=35.0)
    a = ap.parse_args()
    code = sum(non_blank_lines(d) for d in ("lib", "pgp", "app", "tools"))
    tests = non_blank_lines("tests")
    share = 100.0 * tests / code
    print("tests %d lines, code %d lines: %.1f%% (limit %.0f%%)" % (tests, code, share, a.max))
    return 1 if share > a.max else 0


if __name__ == "__main__":
    sys.exit(main())
