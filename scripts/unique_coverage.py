#!/usr/bin/env python3
"""What each test alone reaches: per-test coverage with clang's source-based
coverage, for deciding which tests earn their lines.

Every ctest entry (each unit test case, end-to-end script, fuzz replay and the
NULL sweep) runs on its own with a profile folder of its own; the program a
test starts writes into the same folder. A test's *unique* lines and branches
are those of lib/, pgp/ and app/ that it reaches and no other test does: what
the suite's coverage loses if that test goes. Tests reached only in a child
that dies (death tests) show less than they check.

  scripts/unique_coverage.py [--build DIR] [--slack POINTS] [--keep REGEX]

  --build DIR     clang build folder (default build-unique-coverage); configured
                  and built if missing; profiles are cached under DIR/per-test,
                  delete that folder after changing a test
  --slack POINTS  also pick, greedily by test lines saved per line or branch
                  lost, whole test cases whose removal together costs each of
                  lib/, pgp/ and app/ at most POINTS of line and of branch
                  coverage; tests matching --keep are never picked
  --keep REGEX    test names to keep out of the pick (default: end-to-end
                  scripts, fuzz replays and the generated checks)

Prints one line per test: unique lines, unique branches, test source lines,
name. Needs clang-14, llvm-profdata-14 and llvm-cov-14.
"""
import argparse
import collections
import glob
import os
import re
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
FOLDERS = ("lib/", "pgp/", "app/")
TEST_MACRO = re.compile(r"\s*TEST(?:_F|_P)?\((\w+),\s*(\w+)\)")


def build(folder):
    flags = "-fprofile-instr-generate -fcoverage-mapping"
    if not os.path.exists(os.path.join(folder, "build.ninja")):
        subprocess.run(["cmake", "-S", ROOT, "-B", folder, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                        "-DBUILD_BENCH=OFF", "-DWERROR=OFF", "-DCMAKE_C_COMPILER=clang-14",
                        "-DCMAKE_CXX_COMPILER=clang++-14", "-DCMAKE_C_FLAGS=" + flags,
                        "-DCMAKE_CXX_FLAGS=" + flags, "-DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate"],
                       check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", folder], check=True, stdout=subprocess.DEVNULL)


def executables(folder):
    found = []
    for path in glob.glob(folder + "/**/*", recursive=True):
        if "/CMakeFiles/" in path or not os.path.isfile(path) or not os.access(path, os.X_OK):
            continue
        with open(path, "rb") as f:
            if f.read(4) == b"\x7fELF":
                found.append(path)
    return found


INSTRUMENTED = (set(), set())


def covered(lcov_path):
    """(lines, branches) reached, as sets of (file, line[, block, branch]);
    every line and branch seen goes to INSTRUMENTED."""
    lines, branches, name = set(), set(), None
    with open(lcov_path) as f:
        for row in f:
            if row.startswith("SF:"):
                name = os.path.relpath(os.path.normpath(row[3:].strip()), ROOT)
            elif row.startswith("DA:"):
                line, count = row[3:].split(",")[:2]
                INSTRUMENTED[0].add((name, int(line)))
                if int(count) > 0:
                    lines.add((name, int(line)))
            elif row.startswith("BRDA:"):
                line, block, branch, taken = row[5:].strip().split(",")
                INSTRUMENTED[1].add((name, int(line), block, branch))
                if taken not in ("-", "0"):
                    branches.add((name, int(line), block, branch))
    return lines, branches


def profile(folder, objects, index):
    """Run ctest entry index alone; its lcov file (cached)."""
    cache = os.path.join(folder, "per-test")
    lcov = os.path.join(cache, index + ".lcov")
    if os.path.exists(lcov):
        return lcov
    raw_dir = os.path.join(cache, index)
    os.makedirs(raw_dir, exist_ok=True)
    env = dict(os.environ, LLVM_PROFILE_FILE=raw_dir + "/%p.profraw")
    subprocess.run(["ctest", "--test-dir", folder, "-I", index + "," + index], env=env, capture_output=True)
    raws = glob.glob(raw_dir + "/*.profraw")
    data = raw_dir + ".profdata"
    # A child killed on purpose leaves a cut profile; the others still count.
    subprocess.run(["llvm-profdata-14", "merge", "-sparse", "-failure-mode=all", "-o", data] + raws,
                   capture_output=True)
    args = ["llvm-cov-14", "export", "-format=lcov", "-instr-profile", data, objects[0]]
    for obj in objects[1:]:
        args += ["-object", obj]
    with open(lcov + ".part", "w") as out:
        if raws:
            subprocess.run(args + ["-ignore-filename-regex", r"(/tests/|^/usr/)"], stdout=out,
                           stderr=subprocess.DEVNULL)
    os.replace(lcov + ".part", lcov)
    for raw in raws:
        os.remove(raw)
    return lcov


def test_sizes():
    """Non-blank lines of each gtest case, with the comment block above it."""
    sizes = {}
    for path in glob.glob(os.path.join(ROOT, "tests", "**", "test_*.cpp"), recursive=True):
        with open(path) as f:
            text = f.read().split("\n")
        starts = [(i, m.group(1) + "." + m.group(2)) for i, l in enumerate(text) for m in [TEST_MACRO.match(l)] if m]
        for n, (i, name) in enumerate(starts):
            end = starts[n + 1][0] if n + 1 < len(starts) else len(text)
            while i > 0 and text[i - 1].strip().startswith(("/*", "*", "//")):
                i -= 1
            sizes[name] = sum(1 for l in text[i:end] if l.strip())
    return sizes


def reach_counts(cov):
    """How many tests reach each line and each branch."""
    count = [collections.Counter(), collections.Counter()]
    for lines, branches in cov.values():
        count[0].update(lines)
        count[1].update(branches)
    return count


def folder_of(item):
    return next((f for f in FOLDERS if item[0].startswith(f)), None)


def greedy(cov, sizes, slack, keep):
    """Whole tests that can go together within slack points per folder."""
    count = reach_counts(cov)
    budget = {}
    for kind in (0, 1):
        for f in FOLDERS:
            total = sum(1 for item in INSTRUMENTED[kind] if folder_of(item) == f)
            budget[(f, kind)] = int(total * slack / 100)
    used, picked = collections.Counter(), []
    candidates = [t for t in cov if sizes.get(t, 0) > 0 and not keep.search(t)]
    while True:
        best = None
        for t in candidates:
            loss = collections.Counter()
            for kind in (0, 1):
                for item in cov[t][kind]:
                    if count[kind][item] == 1 and folder_of(item):
                        loss[(folder_of(item), kind)] += 1
            if any(used[k] + v > budget[k] for k, v in loss.items()):
                continue
            score = sizes[t] / (1 + sum(loss.values()))
            if best is None or score > best[0]:
                best = (score, t, loss)
        if best is None:
            return picked, used, budget
        _, t, loss = best
        candidates.remove(t)
        picked.append(t)
        used.update(loss)
        for kind in (0, 1):
            for item in cov[t][kind]:
                count[kind][item] -= 1


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-unique-coverage"))
    ap.add_argument("--slack", type=float)
    ap.add_argument("--keep", default=r"^(e2e_|replay_)|null_sweep|c_headers|layer_includes")
    a = ap.parse_args()
    folder = os.path.abspath(a.build)
    build(folder)
    objects = executables(folder)
    listing = subprocess.run(["ctest", "--test-dir", folder, "-N"], capture_output=True, text=True).stdout
    cov = {}
    for index, name in re.findall(r"Test\s+#(\d+): (\S+)", listing):
        cov[name] = covered(profile(folder, objects, index))
        print("profiled", name, file=sys.stderr, flush=True)
    count = reach_counts(cov)
    sizes = test_sizes()
    rows = []
    for name, (lines, branches) in cov.items():
        ul = sum(1 for i in lines if count[0][i] == 1 and folder_of(i))
        ub = sum(1 for i in branches if count[1][i] == 1 and folder_of(i))
        rows.append((ul + ub, ul, ub, sizes.get(name, 0), name))
    print("unique lines  unique branches  test lines  test")
    for _, ul, ub, size, name in sorted(rows):
        print("%12d %16d %11d  %s" % (ul, ub, size, name))
    if a.slack is not None:
        picked, used, budget = greedy(cov, sizes, a.slack, re.compile(a.keep))
        print("\nwithin %.2f points per folder, these %d tests (%d lines) could go together:" %
              (a.slack, len(picked), sum(sizes[t] for t in picked)))
        for t in picked:
            print("  %5d  %s" % (sizes[t], t))
        for (f, kind), n in sorted(budget.items()):
            print("  %s %s: %d of %d allowed" % (f, ("lines", "branches")[kind], used[(f, kind)], n))
    return 0


if __name__ == "__main__":
    sys.exit(main())
