#!/usr/bin/env bash
# Install the Debian packages the build, the tests and the demo need, when
# any is missing (needs root or sudo; does nothing when all are present).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libssl-dev zlib1g-dev libdeflate-dev
          libgtest-dev libgmock-dev libbenchmark-dev gnupg python3
          # hardening: fuzzing (clang and its libFuzzer/sanitizer runtimes),
          # the valgrind run of the end-to-end tests, coverage, static analysis,
          # and real-world keys for the key reader's corpus test
          clang-14 libclang-rt-14-dev valgrind gcovr cppcheck clang-tidy-14 debian-keyring
          # the install test: man --warnings on the manual page, dpkg-shlibdeps
          man-db groff-base dpkg-dev
          # OpenPGP peers that must open the integrity-protected output
          sq rnp)
missing=()
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js runs the OpenPGP.js peer; any installed node and npm will do.
command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)
if [ ${#missing[@]} -ne 0 ]; then
	echo "installing: ${missing[*]}"
	sudo=""
	[ "$(id -u)" -eq 0 ] || sudo="sudo"
	export DEBIAN_FRONTEND=noninteractive
	$sudo apt-get update -qq
	$sudo apt-get install -y -qq "${missing[@]}"
fi

# OpenPGP.js from the npm registry, exactly as its lock file pins it; done
# again only when the lock file changed.
js="$(cd "$(dirname "$0")/.." && pwd)/tests/e2e/openpgpjs"
if ! cmp -s "$js/package-lock.json" "$js/node_modules/.installed-lock.json"; then
	echo "installing OpenPGP.js (npm ci in tests/e2e/openpgpjs)"
	(cd "$js" && npm ci --no-audit --no-fund --loglevel=error)
	cp "$js/package-lock.json" "$js/node_modules/.installed-lock.json"
fi
