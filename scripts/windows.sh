#!/usr/bin/env bash
# Build everything for Windows x86-64 (mingw-w64, the posix thread model)
# into build-windows/, run every unit test and the end-to-end tests under
# Wine, and make the release, build-windows/quorvel_tokenexp-1.4-win64.zip:
#
#   bash scripts/windows.sh [--update]
#
# --update goes to `scripts/deps.sh windows` (newer library sources from
# Debian's mirror); JOBS=N limits the compile and test jobs (default: the
# processor count), here and in the library builds.
#
# The program is build-windows/quorvel_tokenexp.exe. The libraries come from
# `scripts/deps.sh windows` (built once into a cache outside the repository).
# Wine runs with a prefix of this build folder's own (build-windows/wine; a
# prefix shared by two checkouts would have one run stop the other's
# server), headless (no DISPLAY) and quiet (WINEDEBUG=-all). One persistent
# wineserver is started and warmed before ctest, its output sent to a file:
# a cold server costs seconds for every test program, and one started from
# inside a test makes that test wait on it forever.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh windows "$@"
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
cache="${XDG_CACHE_HOME:-$HOME/.cache}/quorvel-tokenexp/windows"
deps=$(cat "$cache/deps.txt")

echo "== Windows build (build-windows)"
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQTE_WINDOWS_DEPS="$deps" -DCMAKE_PREFIX_PATH="$deps" \
	-DBUILD_TESTS=ON -DBUILD_BENCH=OFF
cmake --build build-windows -j "$jobs"

echo "== unit and end-to-end tests under Wine"
export WINEPREFIX="$PWD/build-windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
mkdir -p build-windows "$WINEPREFIX"
"$wineserver" -k 2>/dev/null || true
"$wineserver" -p >build-windows/wineserver.log 2>&1 || { cat build-windows/wineserver.log; exit 1; }
trap '"$wineserver" -k 2>/dev/null || true' EXIT
# The first start creates (or updates) the prefix; later ones take ~0.05 s.
/usr/lib/wine/wine64 wineboot -u >build-windows/wineboot.log 2>&1
ctest --test-dir build-windows -j "$jobs" --output-on-failure --timeout 900

echo "== the release"
cmake --build build-windows --target package
