#!/usr/bin/env bash
# The Windows stages of CI: for each stage this machine can run (scripts/setup-wine.sh decides
# and writes them to build/wine-stages), build PCRE for the target if missing, configure and
# build the MinGW preset, and run its test suite under Wine, printing ctest's summary.
# A stage the machine cannot run is skipped with one line saying why; any failing test (or
# build) fails the script.
# With --build-only nothing runs under Wine: both DLLs and their tests are built, and the
# shipped 32-bit DLL's header, export table and imports are checked.
#   scripts/ci-windows.sh [--skip-setup | --build-only]
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${KESTREL_JOBS:-2}
mode=${1:-}

if [[ $mode == --build-only ]]; then
  mkdir -p build
  printf 'x86_64\ni686\n' > build/wine-stages
  need=()
  for p in g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 googletest; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
  done
  if ((${#need[@]})); then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
      --no-install-recommends "${need[@]}" >/dev/null || { echo "ci-windows: cannot install ${need[*]}" >&2; exit 1; }
  fi
elif [[ $mode != --skip-setup ]]; then
  scripts/setup-wine.sh
fi
stages=build/wine-stages
[[ -f $stages ]] || { echo "ci-windows: $stages is missing; run scripts/setup-wine.sh" >&2; exit 1; }

status=0
now() { date +%s; }
for arch in x86_64 i686; do
  case $arch in
    x86_64) preset=mingw-x64 ;;
    i686) preset=mingw-i686 ;;
  esac
  if ! grep -qx "$arch" "$stages"; then
    echo "ci-windows: skipped stage $preset: this machine cannot run $arch Windows programs (see scripts/setup-wine.sh)"
    continue
  fi
  started=$(now)
  if [[ ! -f build/deps/pcre-$arch/lib/libpcre.a ]]; then
    if ! scripts/build-pcre-mingw.sh "$arch" "build/deps/pcre-$arch" >"build/pcre-$arch.log" 2>&1; then
      echo "ci-windows: stage $preset failed: PCRE did not build (build/pcre-$arch.log)" >&2
      tail -20 "build/pcre-$arch.log" >&2
      status=1
      continue
    fi
  fi
  if ! cmake --preset "$preset" >"build/$preset-configure.log" 2>&1; then
    echo "ci-windows: stage $preset failed to configure (build/$preset-configure.log)" >&2
    tail -20 "build/$preset-configure.log" >&2
    status=1
    continue
  fi
  if ! cmake --build --preset "$preset" -j"$jobs" >"build/$preset-build.log" 2>&1; then
    echo "ci-windows: stage $preset failed to build (build/$preset-build.log)" >&2
    grep -E "error|FAILED" "build/$preset-build.log" | head -40 >&2
    status=1
    continue
  fi
  built=$(now)
  if [[ $mode == --build-only ]]; then
    echo "ci-windows: $preset built in $((built - started)) s (tests not run: build-only)"
    if [[ $arch == i686 ]] && ! scripts/check-dll-abi.sh build/$preset/src/kestrel.dll; then
      echo "ci-windows: the 32-bit DLL failed its ABI check" >&2
      status=1
    fi
    continue
  fi
  echo "ci-windows: $preset built in $((built - started)) s; running its tests under Wine"
  ctest --preset "$preset" --output-on-failure 2>&1 | tee "build/$preset-test.log" |
    grep -E '^[0-9/ ]+Test +#|tests passed|tests failed|\[  (PASSED|FAILED|SKIPPED) +\]|^Total Test time'
  if [[ ${PIPESTATUS[0]} -ne 0 ]]; then
    echo "ci-windows: stage $preset: tests failed (build/$preset-test.log)" >&2
    status=1
  fi
  echo "ci-windows: $preset tests ran in $(($(now) - built)) s"
done
exit $status
