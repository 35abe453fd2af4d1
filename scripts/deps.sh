#!/usr/bin/env bash
# Install the Debian packages that are missing (needs root or sudo; does
# nothing when all are present).
#
#   scripts/deps.sh program   what building and running the program needs
#                             (the demo: compiler, build tools, libraries,
#                             and gpg to open the output)
#   scripts/deps.sh           that, plus what the tests and the hardening
#                             checks need (the CI set)
set -euo pipefail
program=(build-essential cmake ninja-build pkg-config libssl-dev zlib1g-dev libdeflate-dev gnupg)
checks=(libgtest-dev libbenchmark-dev python3
        # hardening: fuzzing (clang and its libFuzzer/sanitizer runtimes),
        # the valgrind run of the end-to-end tests, coverage, static analysis
        clang-14 libclang-rt-14-dev valgrind gcovr cppcheck clang-tidy-14 clang-format-14)
case "${1:-all}" in
	program) packages=("${program[@]}") ;;
	all) packages=("${program[@]}" "${checks[@]}") ;;
	*) echo "usage: scripts/deps.sh [program]" >&2; exit 2 ;;
esac
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
