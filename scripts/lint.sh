#!/usr/bin/env bash
# Static analysis: clang-tidy with the checked-in .clang-tidy, and cppcheck,
# over the library (lib/, pgp/), the program (app/) and the tools (tools/),
# the Windows halves of lib/ included (analysed for the mingw-w64 target).
# Prints every finding and a count per module (top-level folder and file
# stem), and exits non-zero when there is any finding.
#
#   scripts/lint.sh            both analysers
#   LINT_BUILD_DIR=dir         where compile_commands.json lives (default:
#                              build-lint, configured here each time and
#                              never built; not the Release build's folder:
#                              clang refuses GCC's link-time flags)
#   LINT_ONLY=tidy|cppcheck    one analyser only
set -uo pipefail
cd "$(dirname "$0")/.."
build=${LINT_BUILD_DIR:-build-lint}
jobs=$(nproc 2>/dev/null || echo 2)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0

if [ -z "${LINT_BUILD_DIR:-}" ]; then
	cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_BENCH=OFF >/dev/null || exit 1
elif [ ! -f "$build/compile_commands.json" ]; then
	echo "lint: $build/compile_commands.json is missing"
	exit 1
fi

# The Windows halves (X_win.cpp) are compiled
# only by the Windows build: this host's compiler database has no entry for
# them. They are analysed apart, as the Windows build compiles them: for the
# x86_64-w64-mingw32 target against the cross compiler's headers (C++ and
# Windows; its own compiler headers are clang's), so no Windows build folder
# is needed.
files=$(ls lib/*/*.cpp pgp/*.cpp app/*.cpp tools/*.cpp 2>/dev/null | grep -v '_win\.cpp$')
win_files=$(ls lib/*/*_win.cpp)
win_cxx=x86_64-w64-mingw32-g++-posix
command -v "$win_cxx" >/dev/null || { echo "lint: $win_cxx is missing (scripts/deps.sh windows installs it)"; exit 1; }
win_flags="--target=x86_64-w64-mingw32 -std=c++20 -fno-exceptions -fno-rtti -nostdlibinc -I lib -I ."
for d in $("$win_cxx" -xc++ -E -v - </dev/null 2>&1 | sed -n '/<\.\.\.> search starts/,/^End of/p' |
	grep -E '/c\+\+|mingw32/include$'); do
	win_flags="$win_flags -isystem $d"
done

if [ "${LINT_ONLY:-tidy}" != cppcheck ]; then
	tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
	echo "== clang-tidy ($tidy)"
	# One process per file, two at a time; the findings go to one file each.
	printf '%s\n' $files | xargs -P "$jobs" -I{} sh -c \
		'"$0" -p "$1" --quiet "$2" > "$3/tidy.$(echo "$2" | tr / _).txt" 2>/dev/null' "$tidy" "$build" {} "$out"
	printf '%s\n' $win_files | xargs -P "$jobs" -I{} sh -c \
		'"$0" --quiet "$2" -- $1 > "$3/tidy.$(echo "$2" | tr / _).txt" 2>/dev/null' "$tidy" "$win_flags" {} "$out"
	cat "$out"/tidy.*.txt | grep -E "^([^ ].*: )?(warning|error): " | sort -u > "$out/tidy.all"
	cat "$out/tidy.all"
	n=$(wc -l < "$out/tidy.all")
	echo "-- clang-tidy findings: $n"
	sed -E "s#^$PWD/##; s#^([^:]*)\.(cpp|h):.*#\1#" "$out/tidy.all" | sort | uniq -c | sort -rn
	[ "$n" -eq 0 ] || status=1
fi

if [ "${LINT_ONLY:-cppcheck}" != tidy ]; then
	echo "== cppcheck ($(cppcheck --version))"
	cppcheck --quiet --std=c++20 --language=c++ -I lib -I . -D__GNUC__ -DM_API= \
		--enable=warning,performance,portability --inline-suppr \
		--suppress=missingIncludeSystem --suppress=unmatchedSuppression \
		--template='{file}:{line}: {severity}: {message} [{id}]' -j "$jobs" \
		$files 2> "$out/cppcheck.all"
	cppcheck --quiet --std=c++20 --language=c++ -I lib -I . -D_WIN32 -D_WIN64 -D__MINGW32__ -DM_API= --platform=win64 \
		--enable=warning,performance,portability --inline-suppr \
		--suppress=missingIncludeSystem --suppress=unmatchedSuppression \
		--template='{file}:{line}: {severity}: {message} [{id}]' -j "$jobs" \
		$win_files 2>> "$out/cppcheck.all"
	cat "$out/cppcheck.all"
	n=$(grep -cE "^[^ ].*:[0-9]+: " "$out/cppcheck.all")
	echo "-- cppcheck findings: $n"
	grep -E "^[^ ].*:[0-9]+: " "$out/cppcheck.all" | sed -E 's#^([^:]*)\.(cpp|h):.*#\1#' | sort | uniq -c | sort -rn
	[ "$n" -eq 0 ] || status=1
fi
exit $status
