#!/usr/bin/env bash
# What the Windows build needs (run through `scripts/deps.sh windows`):
# the mingw-w64 cross compilers (posix thread model), zlib for mingw and
# Wine from Debian's packages, then OpenSSL's libcrypto, libdeflate and
# GoogleTest built for x86_64-w64-mingw32 from Debian's sources into a cache
# outside the repository:
#
#   ${XDG_CACHE_HOME:-$HOME/.cache}/quorvel-tokenexp/windows/
#     apt/                      a deb-src list of our own (the system's apt
#                               lists are never touched) and its indexes
#     <lib>-<source version>-<compiler key>/   one prefix per library
#     deps.txt                  the prefixes of the last run, ;-separated
#
# A prefix is complete once its .done file exists; its name holds the source
# version and the cross compiler's package versions. A run whose cache holds
# a complete prefix of each library for the installed cross compiler uses
# them and makes no network request; only the first run, a new compiler, or
# `--update` asks Debian's mirror for sources (the first run takes about two
# minutes on two cores, OpenSSL most of it).
#
#   scripts/deps.sh windows [--update]
#     --update     refresh the deb-src indexes and build a newer source
#                  version of OpenSSL or libdeflate when the mirror has one
#   JOBS=N         compile with N jobs (default: the processor count)
set -euo pipefail
cd "$(dirname "$0")/.."
update=0
for arg in "$@"; do
	case $arg in
		--update) update=1 ;;
		*) echo "usage: scripts/deps.sh windows [--update]" >&2; exit 2 ;;
	esac
done

# groff renders the manual page for the release zip, which also carries the
# licence texts of libssl3 and libdeflate0 (the libraries linked into the
# .exe come from the same sources).
packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 dpkg-dev googletest
          cmake ninja-build make perl xz-utils groff-base libssl3 libdeflate0)
missing=()
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -ne 0 ]; then
	echo "installing: ${missing[*]}"
	export DEBIAN_FRONTEND=noninteractive
	$sudo apt-get update -qq
	$sudo apt-get install -y -qq "${missing[@]}"
fi

triple=x86_64-w64-mingw32
cache="${XDG_CACHE_HOME:-$HOME/.cache}/quorvel-tokenexp/windows"
mkdir -p "$cache"
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
[[ $jobs =~ ^[1-9][0-9]*$ ]] || { echo "JOBS must be a positive number, not '$jobs'" >&2; exit 2; }
log() { echo "deps windows: $*" >&2; }

# The cross compiler's identity: a change of either package rebuilds all.
pkgver() { dpkg-query -W -f='${Version}' "$1"; }
compiler_key="gcc$(pkgver g++-mingw-w64-x86-64-posix)-mingw$(pkgver mingw-w64-x86-64-dev)"
compiler_key=$(printf '%s' "$compiler_key" | tr -c 'A-Za-z0-9.+_-' '_')

# --- Debian's source packages through a deb-src list of our own -----------
apt_dir="$cache/apt"
apt_opts=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
          -o "APT::Sandbox::User=root" -o "Debug::NoLocking=1")

# The system's Debian sources (one-line and deb822 forms) with their type
# turned into deb-src. Other vendors' lists have no sources to offer.
write_src_lists() {
	mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial"
	: >"$apt_dir/sources.list"
	if [ -f /etc/apt/sources.list ]; then
		grep -E '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list | grep -i debian |
			sed -E 's/^[[:space:]]*deb[[:space:]]/deb-src /' >>"$apt_dir/sources.list" || true
	fi
	rm -f "$apt_dir/sources.list.d/"*.sources
	local f
	for f in /etc/apt/sources.list.d/*.sources; do
		[ -f "$f" ] || continue
		grep -qiE '^URIs:.*debian' "$f" || continue
		sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
	done
	for f in /etc/apt/sources.list.d/*.list; do
		[ -f "$f" ] || continue
		grep -E '^[[:space:]]*deb[[:space:]]' "$f" | grep -i debian |
			sed -E 's/^[[:space:]]*deb[[:space:]]/deb-src /' >>"$apt_dir/sources.list" || true
	done
}

# Refresh the source indexes: with --update always, else at most once a day
# (a first build, or one for a new compiler).
src_lists_ready=0
update_src_lists() {
	[ "$src_lists_ready" -eq 0 ] || return 0
	src_lists_ready=1
	local stamp="$apt_dir/updated"
	if [ "$update" -eq 0 ] && [ -f "$stamp" ] && [ -n "$(find "$stamp" -mmin -1440 2>/dev/null)" ]; then
		return 0
	fi
	write_src_lists
	log "updating the deb-src indexes in $apt_dir"
	apt-get "${apt_opts[@]}" -qq update
	touch "$stamp"
}

# Source versions of a package known to the indexes, newest first.
src_versions() {
	apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null | awk '/^Version:/ {print $2}' | sort -u -r -V
}

# Unpack the source package $1 of version $2 into directory $3. False when
# its files cannot be fetched (a mirror may lack the newest version's files
# for a while, answering 404).
fetch_source() {
	local pkg=$1 ver=$2 dest=$3 dl
	dl=$(mktemp -d)
	if ! (cd "$dl" && apt-get "${apt_opts[@]}" -qq source --download-only "$pkg=$ver" >/dev/null 2>&1); then
		rm -rf "$dl"
		return 1
	fi
	rm -rf "$dest"
	# apt checked the files against the signed index; dpkg-source may still
	# complain that it cannot check the .dsc signature itself.
	dpkg-source -x "$dl/${pkg}_${ver#*:}.dsc" "$dest" >"$dl.log" 2>&1 || { cat "$dl.log" >&2; rm -rf "$dl" "$dl.log"; return 1; }
	rm -f "$dl.log"
	rm -rf "$dl"
}

# Build library $1 from Debian's source package $1 with the function $2
# (called with the source directory and the prefix). Without --update, the
# newest complete prefix for this compiler is taken as it is, without asking
# the mirror. Otherwise (none yet, or --update) the newest version whose
# files can be fetched is built, unless its prefix is complete. The chosen
# prefix goes into the global prefix.
prefix=""
build_from_source() {
	local pkg=$1 builder=$2 ver dir
	if [ "$update" -eq 0 ]; then
		prefix=$(for dir in "$cache/$pkg"-*-"$compiler_key"; do
			if [ -f "$dir/.done" ]; then echo "$dir"; fi
		done | sort -V | tail -n 1)
		[ -z "$prefix" ] || return 0
	fi
	update_src_lists
	local versions
	versions=$(src_versions "$pkg")
	[ -n "$versions" ] || { log "no source package $pkg in $apt_dir"; return 1; }
	for ver in $versions; do
		dir="$cache/$pkg-$(printf '%s' "$ver" | tr -c 'A-Za-z0-9.+_-' '_')-$compiler_key"
		if [ -f "$dir/.done" ]; then
			prefix=$dir
			return 0
		fi
		local src
		src=$(mktemp -d)
		log "fetching $pkg $ver"
		if ! fetch_source "$pkg" "$ver" "$src/s"; then
			log "$pkg $ver: source files not available, trying the previous version"
			rm -rf "$src"
			continue
		fi
		local t0=$SECONDS
		rm -rf "$dir"
		mkdir -p "$dir"
		"$builder" "$src/s" "$dir"
		rm -rf "$src"
		touch "$dir/.done"
		log "built $pkg $ver in $((SECONDS - t0)) s"
		prefix=$dir
		return 0
	done
	log "no version of $pkg could be fetched"
	return 1
}

# OpenSSL: libcrypto (and libssl, which comes with it) as static libraries.
# no-module puts the legacy provider (CAST5, Blowfish) into libcrypto.a.
# Each build's output goes to <prefix>.log; its tail is shown on failure.
build_openssl() {
	local src=$1 dest=$2
	(
		cd "$src"
		./Configure mingw64 --cross-compile-prefix=$triple- CC=gcc-posix CXX=g++-posix \
			no-shared no-tests no-module --prefix="$dest" --libdir=lib
		make -j "$jobs" build_libs
		make install_dev
	) >"$dest.log" 2>&1 || { tail -30 "$dest.log" >&2; return 1; }
}

# libdeflate: its own Makefile knows the Windows library names.
build_libdeflate() {
	local src=$1 dest=$2
	(
		cd "$src"
		make -j "$jobs" CC=$triple-gcc-posix AR=$triple-ar DISABLE_SHARED=1 libdeflatestatic.lib
		mkdir -p "$dest/include" "$dest/lib"
		cp libdeflate.h "$dest/include/"
		cp libdeflatestatic.lib "$dest/lib/libdeflate.a"
	) >"$dest.log" 2>&1 || { tail -30 "$dest.log" >&2; return 1; }
}

# --- OpenSSL and libdeflate from their source packages ---------------------
build_from_source openssl build_openssl
openssl_prefix=$prefix
build_from_source libdeflate build_libdeflate
libdeflate_prefix=$prefix

# --- GoogleTest from the googletest package's sources ----------------------
gtest_ver=$(pkgver googletest | tr -c 'A-Za-z0-9.+_-' '_')
gtest_prefix="$cache/googletest-$gtest_ver-$compiler_key"
if [ ! -f "$gtest_prefix/.done" ]; then
	t0=$SECONDS
	gbuild=$(mktemp -d)
	rm -rf "$gtest_prefix"
	cmake -S /usr/src/googletest -B "$gbuild" -G Ninja -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DCMAKE_INSTALL_PREFIX="$gtest_prefix" \
		-DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON >/dev/null
	cmake --build "$gbuild" -j "$jobs" >/dev/null
	cmake --install "$gbuild" >/dev/null
	rm -rf "$gbuild"
	touch "$gtest_prefix/.done"
	log "built googletest in $((SECONDS - t0)) s"
fi

printf '%s;%s;%s\n' "$openssl_prefix" "$libdeflate_prefix" "$gtest_prefix" >"$cache/deps.txt"
log "prefixes in $cache/deps.txt"
