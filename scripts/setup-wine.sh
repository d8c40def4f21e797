#!/usr/bin/env bash
# Prepares this machine to run the Windows test suites: MinGW-w64 cross compilers, 64-bit
# Wine, and 32-bit Wine under QEMU user emulation (the kernel cannot run 32-bit code itself),
# with a Wine prefix for each.
# Idempotent. Exits 0 with a line on stderr naming what could not be set up, and writes the
# stages that can run to build/wine-stages ("x86_64", "i686").
set -uo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
stages=build/wine-stages
: > "$stages"

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# The cross compilers are needed to build at all; Wine only to run the tests. A failure to get
# Wine must not keep the compilers from being installed, so each gets its own install.
for group in "g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 googletest" \
  wine64; do
  need=()
  for p in $group; do
    installed "$p" || need+=("$p")
  done
  if ((${#need[@]})); then
    apt-get update -qq && apt_install "${need[@]}" || echo "setup-wine: could not install ${need[*]}" >&2
  fi
done

# Each target's Wine prefix is made here (about 20 s the first time, seconds after that), so a
# Wine that cannot start shows up as a skipped stage with its reason, not as failing tests.
wine_starts() { scripts/wine-run.sh "$1" wineboot --init >/dev/null 2>&1; }

if [ ! -x /usr/lib/wine/wine64 ]; then
  echo "setup-wine: skipping the x86_64 Windows stage: 64-bit Wine is not available" >&2
elif ! wine_starts x86_64; then
  echo "setup-wine: skipping the x86_64 Windows stage: 64-bit Wine does not start (wineboot failed)" >&2
else
  echo x86_64 >> "$stages"
fi

# 32-bit Wine runs through qemu-i386 registered with binfmt_misc. Bookworm's own QEMU (7.2)
# crashes 32-bit Wine when threads start or end together and needs ~50 s per process; the
# static QEMU 10 from bookworm-backports runs the suite in seconds. Backports get the default
# priority of 100, so nothing else is taken from there.
qemu=/usr/bin/qemu-i386
backports=/etc/apt/sources.list.d/kestrel-backports.sources
qemu_usable() { "$qemu" --version 2>/dev/null | grep -qE "version (9\.[1-9]|[1-9][0-9])"; }
if ! qemu_usable; then
  if [ ! -f "$backports" ]; then
    printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' > "$backports"
  fi
  apt-get update -qq && apt_install -t bookworm-backports qemu-user ||
    echo "setup-wine: could not install QEMU from bookworm-backports" >&2
fi
if ! installed wine32:i386 || ! installed wine; then
  dpkg --add-architecture i386 && apt-get update -qq && apt_install wine32:i386 wine ||
    echo "setup-wine: could not install 32-bit Wine" >&2
fi
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
fi
# An older registration (another interpreter) is replaced by one for this QEMU.
if [ -e "$binfmt/qemu-i386" ] && ! grep -qx "interpreter $qemu" "$binfmt/qemu-i386"; then
  echo -1 > "$binfmt/qemu-i386" 2>/dev/null || true
fi
if [ -e "$binfmt/register" ] && [ ! -e "$binfmt/qemu-i386" ] && [ -x "$qemu" ]; then
  echo ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu:F" \
    > "$binfmt/register" 2>/dev/null || true
fi
if ! qemu_usable; then
  echo "setup-wine: skipping the i686 Windows stage: no QEMU 9.1 or later at $qemu" >&2
elif ! [ -e "$binfmt/qemu-i386" ] || ! grep -qx "interpreter $qemu" "$binfmt/qemu-i386" ||
  ! installed wine32:i386; then
  echo "setup-wine: skipping the i686 Windows stage: no binfmt_misc registration for $qemu or no 32-bit Wine" >&2
elif ! wine_starts i686; then
  echo "setup-wine: skipping the i686 Windows stage: 32-bit Wine does not start under QEMU (wineboot failed)" >&2
else
  echo i686 >> "$stages"
fi
exit 0
