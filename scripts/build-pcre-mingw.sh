#!/usr/bin/env bash
# Builds a static PCRE 8 for a MinGW target from Debian's pcre3 source package.
# Usage: scripts/build-pcre-mingw.sh i686|x86_64 PREFIX
# Idempotent: does nothing when PREFIX/lib/libpcre.a exists.
set -euo pipefail
arch=$1
prefix=$(realpath -m "$2")
[ -f "$prefix/lib/libpcre.a" ] && exit 0

host=$arch-w64-mingw32
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# apt-get source needs a deb-src entry for the mirror the machine already uses.
if ! apt-get source --download-only --print-uris pcre3 >/dev/null 2>&1; then
  src=/etc/apt/sources.list.d/kestrel-deb-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$src"
  else
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > /etc/apt/sources.list.d/kestrel-deb-src.list
  fi
  apt-get update -qq
fi

cd "$work"
apt-get source --download-only pcre3 >/dev/null
tar xjf pcre3_*.orig.tar.bz2
cd pcre-*/
./configure --host="$host" --prefix="$prefix" --disable-shared --enable-static --disable-cpp \
  --enable-utf8 --enable-unicode-properties >/dev/null
make -j2 libpcre.la >/dev/null
mkdir -p "$prefix/lib" "$prefix/include"
cp .libs/libpcre.a "$prefix/lib/"
cp pcre.h "$prefix/include/"
echo "PCRE for $host in $prefix"
