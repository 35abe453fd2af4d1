#!/usr/bin/env bash
# Install what is missing (needs root or sudo; does nothing when all is
# present).
#
#   scripts/deps.sh program   what building and running the program needs
#                             (the demo: compiler, build tools, libraries,
#                             and gpg to open the output)
#   scripts/deps.sh           that, plus what the tests and the hardening
#                             checks need (the CI set), OpenPGP.js included
#   scripts/deps.sh windows [--update]
#                             the Windows cross build: mingw-w64, Wine, and
#                             OpenSSL, libdeflate and GoogleTest built for
#                             Windows into a cache (scripts/deps_windows.sh;
#                             --update asks for newer sources)
set -euo pipefail
[ "${1:-}" = windows ] && exec bash "$(dirname "$0")/deps_windows.sh" "${@:2}"
program=(build-essential cmake ninja-build pkg-config libssl-dev zlib1g-dev libdeflate-dev gnupg)
checks=(libgtest-dev libbenchmark-dev python3
        # hardening: fuzzing (clang and its libFuzzer/sanitizer runtimes),
        # the valgrind run of the end-to-end tests, coverage, static analysis,
        # the formatter check
        clang-14 libclang-rt-14-dev valgrind gcovr cppcheck clang-tidy-14 clang-format-14
        # real-world keys for the key reader's corpus test
        debian-keyring
        # the install test: man --warnings on the manual page, dpkg-shlibdeps
        man-db groff-base dpkg-dev
        # OpenPGP peers that must open the integrity-protected output
        sq rnp
        # signals sent in the middle of the output's write (strace's inject)
        strace)
case "${1:-all}" in
	program) packages=("${program[@]}") ;;
	all) packages=("${program[@]}" "${checks[@]}") ;;
	*) echo "usage: scripts/deps.sh [program|windows]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js runs the OpenPGP.js peer; any installed node and npm will do.
if [ "${1:-all}" = all ]; then
	command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)
fi
if [ ${#missing[@]} -ne 0 ]; then
	echo "installing: ${missing[*]}"
	sudo=""
	[ "$(id -u)" -eq 0 ] || sudo="sudo"
	export DEBIAN_FRONTEND=noninteractive
	$sudo apt-get update -qq
	$sudo apt-get install -y -qq "${missing[@]}"
fi
[ "${1:-all}" = all ] || exit 0

# OpenPGP.js from the npm registry, exactly as its lock file pins it; done
# again only when the lock file changed.
js="$(cd "$(dirname "$0")/.." && pwd)/tests/e2e/openpgpjs"
if ! cmp -s "$js/package-lock.json" "$js/node_modules/.installed-lock.json"; then
	echo "installing OpenPGP.js (npm ci in tests/e2e/openpgpjs)"
	(cd "$js" && npm ci --no-audit --no-fund --loglevel=error)
	cp "$js/package-lock.json" "$js/node_modules/.installed-lock.json"
fi
