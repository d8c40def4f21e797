#!/usr/bin/env bash
# Runs a Windows program under Wine: `scripts/wine-run.sh i686|x86_64 prog.exe args...`.
# The x86_64 build runs under 64-bit Wine; the i686 build under 32-bit Wine on QEMU user
# emulation (the kernel here cannot execute 32-bit code). Each architecture has its own
# prefix, created on first use.
set -euo pipefail
arch=$1
shift
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
cache=${KESTREL_WINE_HOME:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrel}
case "$arch" in
  x86_64)
    export WINEPREFIX=$cache/wine64
    mkdir -p "$cache"
    exec /usr/lib/wine/wine64 "$@"
    ;;
  i686)
    export WINEPREFIX=$cache/wine32
    mkdir -p "$cache"
    export QEMU_RESERVED_VA=0xf7000000
    exec wine "$@"
    ;;
  *)
    echo "wine-run.sh: unknown architecture $arch" >&2
    exit 2
    ;;
esac
