#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: every step checks first and skips what is already there.
# Usage: tools/setup.sh            (as root, or through sudo)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cache="$here/.cache"
zstd_src="$cache/zstd-src"

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

need_packages=(
    cmake make python3 g++ pkg-config
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine64 libzstd-dev zstd googletest libgtest-dev dpkg-dev bsdutils
    clang libclang-rt-14-dev
    libstb-dev libssl-dev openssl osslsigncode
)

missing=()
for p in "${need_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

apt_updated=0
apt_update_once() {
    if [ "$apt_updated" = 0 ]; then
        as_root apt-get update -qq
        apt_updated=1
    fi
}

if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    apt_update_once
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# zstd's sources for the Windows image come from Debian's source package.
# The deb-src entries are derived from the machine's own apt sources, so no
# host name is ever written into this repository.
if [ ! -f "$zstd_src/lib/decompress/zstd_decompress.c" ]; then
    srcdir=/etc/apt/sources.list.d
    if ! grep -rqs '^Types:.*deb-src' "$srcdir"/*.sources && ! grep -qs '^deb-src' /etc/apt/sources.list "$srcdir"/*.list; then
        for f in "$srcdir"/*.sources; do
            [ -f "$f" ] || continue
            case "$f" in *-src.sources) continue ;; esac
            sed 's/^Types:.*/Types: deb-src/' "$f" | as_root tee "${f%.sources}-src.sources" >/dev/null
        done
        if [ -f /etc/apt/sources.list ]; then
            sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | as_root tee "$srcdir/onefile-src.list" >/dev/null
        fi
        apt_updated=0
    fi
    apt_update_once
    rm -rf "$cache/zstd-fetch"
    mkdir -p "$cache/zstd-fetch"
    # A version may be listed by a suite that no longer serves its files:
    # try every listed version, newest first, until one downloads.
    fetched=0
    for v in $(apt-cache showsrc libzstd | sed -n 's/^Version: //p' | sort -rV | uniq); do
        if (cd "$cache/zstd-fetch" && apt-get source -qq --download-only "libzstd=$v" >/dev/null 2>&1); then
            fetched=1
            break
        fi
        rm -rf "${cache:?}/zstd-fetch"/*
    done
    [ "$fetched" = 1 ] || { echo "setup: could not fetch the zstd source package" >&2; exit 1; }
    (cd "$cache/zstd-fetch" && dpkg-source -x ./*.dsc unpacked >/dev/null 2>&1)
    rm -rf "$zstd_src"
    mv "$cache/zstd-fetch/unpacked" "$zstd_src"
    rm -rf "$cache/zstd-fetch"
fi

# A Wine prefix private to the build is made by the test driver itself.
echo "setup: ready (zstd sources in $zstd_src)"
