#!/usr/bin/env bash
# Build the libFuzzer targets with clang in a build directory of their own and
# run each one for SECONDS seconds (default 30), one after the other, starting
# from the checked-in seed corpus (tests/fuzz/corpus/<target>/, never written
# to). New inputs go to <build>/corpus/<target>/, crashes to
# <build>/artifacts/<target>/. Exits non-zero when a target finds anything.
# ctest replays the checked-in corpus in every build (replay_<target>); to keep
# what a longer run found, merge it in, minimised:
#   <build>/<target> -merge=1 tests/fuzz/corpus/<target> <build>/corpus/<target>
#
#   tests/fuzz/run.sh [SECONDS] [TARGET...]
#   FUZZ_BUILD_DIR=dir  build directory (default: build-fuzz in the tree)
#   FUZZ_ARGS="..."     extra libFuzzer options
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-30}
shift || true
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
cc=${FUZZ_CC:-clang-14}
cxx=${FUZZ_CXX:-clang++-14}
command -v "$cxx" >/dev/null || { cc=clang; cxx=clang++; }

targets=("$@")
[ $# -gt 0 ] || for f in "$here"/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done

CC=$cc CXX=$cxx cmake -S "$root" -B "$build" -G Ninja -DFUZZ=ON -DBUILD_TESTS=OFF -DBUILD_BENCH=OFF \
	-DWERROR=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target "${targets[@]}" -j "$(nproc 2>/dev/null || echo 2)"

# Leaks count as findings; the library's OpenSSL providers are given back at
# exit, so nothing is expected to stay behind.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for t in "${targets[@]}"; do
	work="$build/corpus/$t" art="$build/artifacts/$t"
	mkdir -p "$work" "$art" "$here/corpus/$t"
	echo "== fuzz $t for ${seconds}s"
	# shellcheck disable=SC2086
	if ! "$build/$t" "$work" "$here/corpus/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
		-max_len=65536 -print_final_stats=1 -artifact_prefix="$art/" ${FUZZ_ARGS:-} >"$build/$t.log" 2>&1; then
		tail -n 60 "$build/$t.log"
		failed+=("$t")
	else
		grep -E "^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)" "$build/$t.log" || true
	fi
done
if [ ${#failed[@]} -gt 0 ]; then
	echo "fuzz findings in: ${failed[*]} (inputs under $build/artifacts/)"
	exit 1
fi
echo "fuzz: ${#targets[@]} targets ran ${seconds}s each without findings"
