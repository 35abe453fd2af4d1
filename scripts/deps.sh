#!/usr/bin/env bash
# Install the Debian packages the build, the tests and the demo need, when
# any is missing (needs root or sudo; does nothing when all are present).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libssl-dev zlib1g-dev libdeflate-dev
          libgtest-dev libgmock-dev libbenchmark-dev gnupg python3
          # hardening: fuzzing (clang and its libFuzzer/sanitizer runtimes),
          # the valgrind run of the end-to-end tests, coverage, static analysis,
          # and real-world keys for the key reader's corpus test
          clang-14 libclang-rt-14-dev valgrind gcovr cppcheck clang-tidy-14 debian-keyring)
missing=()
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
