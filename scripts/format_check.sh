#!/usr/bin/env bash
# Report every C and C++ source (lib/, pgp/, app/, tools/, tests/, bench/)
# that does not follow .clang-format; exits non-zero when there is any.
#
#   scripts/format_check.sh          check (changes nothing)
#   scripts/format_check.sh --fix    rewrite the files in place
set -uo pipefail
cd "$(dirname "$0")/.."
fmt=$(command -v clang-format-14 || command -v clang-format) || { echo "clang-format is missing (Debian package clang-format-14)"; exit 1; }
mapfile -t files < <(git ls-files 'lib/*.h' 'lib/*.cpp' 'pgp/*.h' 'pgp/*.cpp' 'app/*.h' 'app/*.cpp' \
	'tools/*.cpp' 'tests/*.h' 'tests/*.cpp' 'bench/*.cpp')
if [ "${1:-}" = --fix ]; then
	"$fmt" -i "${files[@]}"
	exit $?
fi
bad=0
for f in "${files[@]}"; do
	"$fmt" --dry-run --Werror "$f" >/dev/null 2>&1 || { echo "$f"; bad=$((bad + 1)); }
done
echo "-- files not following .clang-format: $bad of ${#files[@]}"
[ "$bad" -eq 0 ]
