#!/usr/bin/env bash
# Coverage: build with gcc --coverage (the COVERAGE option) in a build
# directory of its own, run every test (unit and end-to-end; the program
# writes its counts too), and report line and branch coverage with gcovr:
# a summary per folder (lib/, pgp/, app/) and a per-file table.
#
#   scripts/coverage.sh              build, test, report
#   COV_BUILD_DIR=dir                build directory (default: build-coverage)
#   COV_HTML=1                       also write <build>/coverage/index.html
set -euo pipefail
cd "$(dirname "$0")/.."
build=${COV_BUILD_DIR:-build-coverage}
jobs=$(nproc 2>/dev/null || echo 2)
command -v gcovr >/dev/null || { echo "gcovr is missing (Debian package gcovr)"; exit 1; }

cmake -S . -B "$build" -G Ninja -DCOVERAGE=ON -DCMAKE_BUILD_TYPE=Debug -DBUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"
find "$build" -name '*.gcda' -delete
# The safety test runs the program under a file-size limit of a few
# kilobytes, where its counts cannot be written whole: torn count files would
# spoil the report. Its counts go to a scratch folder instead.
ctest --test-dir "$build" -j "$jobs" -E '^e2e_test_safety$' --timeout 1800 --output-on-failure ||
	echo "(some tests failed; coverage still reported)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
GCOV_PREFIX=$scratch ctest --test-dir "$build" -R '^e2e_test_safety$' --timeout 1800 >/dev/null ||
	echo "(the safety test failed; its counts are not reported anyway)"

# Branches the compiler adds for exception unwinding are not the code's own.
common=(--root . --object-directory "$build" --exclude-throw-branches --exclude-unreachable-branches
        --exclude 'tests/' --exclude 'bench/' --exclude "$build/")
# The summary's table goes to a scratch file: gcovr replaces its output
# file, which must never be a device such as /dev/null.
summary="$scratch/summary"
for folder in lib pgp app; do
	echo "== $folder/"
	gcovr "${common[@]}" --filter "$folder/" --print-summary --output "$summary" | grep -E "^(lines|branches):"
done
echo "== per file"
gcovr "${common[@]}" --filter 'lib/' --filter 'pgp/' --filter 'app/' --branches --sort-percentage
gcovr "${common[@]}" --filter 'lib/' --filter 'pgp/' --filter 'app/' --sort-percentage
if [ "${COV_HTML:-0}" = 1 ]; then
	mkdir -p "$build/coverage"
	gcovr "${common[@]}" --filter 'lib/' --filter 'pgp/' --filter 'app/' --html-details "$build/coverage/index.html"
	echo "HTML report: $build/coverage/index.html"
fi
