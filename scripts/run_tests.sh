#!/usr/bin/env bash
# Build everything and run every test twice: the Release build users make
# (-O3, link-time optimisation, where GCC warns differently; warnings are
# errors), then a build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

run() {
	local dir=$1
	shift
	cmake -S . -B "$dir" -G Ninja "$@"
	cmake --build "$dir" -j "$jobs"
	ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 900
}

echo "== Release build"
# Tests and benchmarks on explicitly: the demo configures the same folder
# (Release too, so neither run rebuilds the other's objects) without them.
run build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTS=ON -DBUILD_BENCH=ON
echo "== sanitizer build (ASan + UBSan)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	run build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON -DBUILD_TESTS=ON -DBUILD_BENCH=OFF
