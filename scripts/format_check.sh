#!/usr/bin/env bash
# Report every C and C++ source (lib/, pgp/, app/, tools/, tests/, bench/)
# that does not follow .clang-format; exits non-zero when there is any.
#
#   scripts/format_check.sh          check (changes nothing)
#   scripts/format_check.sh --fix    rewrite the files in place
set -uo pipefail
cd "$(dirname "$0")/.."
fmt=$(command -v clang-format-14 || command -v clang-format) || { echo "clang-format is missing (Debian package clang-format-14)"; exit 1; }
jobs=$(nproc 2>/dev/null || echo 2)
mapfile -t files < <(git ls-files 'lib/*.h' 'lib/*.cpp' 'pgp/*.h' 'pgp/*.cpp' 'app/*.h' 'app/*.cpp' \
	'tools/*.cpp' 'tests/*.h' 'tests/*.cpp' 'bench/*.cpp')
if [ "${1:-}" = --fix ]; then
	"$fmt" -i "${files[@]}"
	exit $?
fi
# Fifty files to a process, one process per processor: starting clang-format
# costs more than checking a file. Each file out of layout is named once; a
# failure of clang-format itself (an unreadable file) fails the check too.
out=$(printf '%s\0' "${files[@]}" | xargs -0 -P "$jobs" -n 50 "$fmt" --dry-run --Werror 2>&1)
status=$?
bad=$(printf '%s\n' "$out" | sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u)
[ -z "$bad" ] || printf '%s\n' "$bad"
n=$(printf '%s' "$bad" | grep -c .)
echo "-- files not following .clang-format: $n of ${#files[@]}"
if [ "$n" -eq 0 ] && [ "$status" -ne 0 ]; then
	printf '%s\n' "$out"
	echo "-- clang-format failed (status $status)"
fi
[ "$n" -eq 0 ] && [ "$status" -eq 0 ]
