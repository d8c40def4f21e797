#!/usr/bin/env bash
# The Windows stages of CI. For both targets: build PCRE for the target if missing, configure
# and build the MinGW preset, then run its test suite under Wine (ctest, which goes through
# scripts/wine-run.sh) and print the summary lines. The shipped 32-bit DLL's header, export
# table and imports are checked as well, without running it.
# scripts/setup-wine.sh prepares the machine and writes the targets it can run to
# build/wine-stages; a target the machine cannot run is still built and checked, and one line
# says why its tests were skipped. Any failing build, check or test fails the script.
#   scripts/ci-windows.sh [--skip-setup | --build-only]
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${KESTREL_JOBS:-2}
mode=${1:-}
stages=build/wine-stages
mkdir -p build

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

case $mode in
  --build-only)
    : > "$stages"
    need=()
    for p in g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 googletest; do
      installed "$p" || need+=("$p")
    done
    if ((${#need[@]})); then
      apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${need[@]}" >/dev/null ||
        { echo "ci-windows: cannot install ${need[*]}" >&2; exit 1; }
    fi
    ;;
  --skip-setup) ;;
  "") scripts/setup-wine.sh ;;
  *) echo "usage: ci-windows.sh [--skip-setup | --build-only]" >&2; exit 2 ;;
esac
[[ -f $stages ]] || { echo "ci-windows: $stages is missing; run scripts/setup-wine.sh" >&2; exit 1; }

status=0
now() { date +%s; }

# The Windows host with this preset's DLL must print the same records for the shipped examples
# as the Linux host with the Linux library (built here when missing).
compare_host() {
  local arch=$1 preset=$2 linux=build/default/tools/kestrel-host/kestrel-host
  local exe=build/$preset/src/kestrel-host.exe out=build/$preset-host-compare
  if [[ ! -x $linux ]]; then
    { cmake --preset default && cmake --build --preset default -j"$jobs" --target kestrel-host; } \
      >"build/default-host-build.log" 2>&1 ||
      { echo "ci-windows: the Linux host did not build (build/default-host-build.log)" >&2; return 1; }
  fi
  mkdir -p "$out"
  local args=(--format json --items --hide DATE_TIME_STAMP --packet-size 64 sensors.jsonl)
  (cd examples && "../$linux" "${args[@]}") >"$out/linux.jsonl" 2>"$out/linux.err" &&
    (cd examples && ../scripts/wine-run.sh "$arch" "../$exe" "${args[@]}") \
      >"$out/windows.jsonl" 2>"$out/windows.err" ||
    { echo "ci-windows: $preset: the host run failed ($out)" >&2; return 1; }
  if ! diff -u "$out/linux.jsonl" "$out/windows.jsonl" >"$out/diff.txt"; then
    echo "ci-windows: $preset: kestrel-host.exe prints other records than the Linux host:" >&2
    head -40 "$out/diff.txt" >&2
    return 1
  fi
  echo "ci-windows: $preset: kestrel-host.exe printed the same $(wc -l <"$out/linux.jsonl") lines as the Linux host"
}
for arch in x86_64 i686; do
  case $arch in
    x86_64) preset=mingw-x64 ;;
    i686) preset=mingw-i686 ;;
  esac
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
  echo "ci-windows: $preset built in $((built - started)) s"
  skip=""
  if [[ $mode == --build-only ]]; then
    skip="build only"
  elif ! grep -qx "$arch" "$stages"; then
    skip="this machine cannot run $arch Windows programs (see the setup-wine lines above)"
  fi
  if [[ -n $skip ]]; then
    # ctest checks the DLL's interface with the tests; without them it is checked here.
    if [[ $arch == i686 ]] && ! scripts/check-dll-abi.sh "build/$preset/src/kestrel.dll"; then
      echo "ci-windows: the 32-bit DLL failed its ABI check" >&2
      status=1
    fi
    echo "ci-windows: skipped the tests of $preset: $skip"
    continue
  fi
  echo "ci-windows: running the tests of $preset under Wine"
  ctest --preset "$preset" --verbose >"build/$preset-test.log" 2>&1
  result=$?
  # The summary of each GoogleTest run, then ctest's own.
  grep -E '^([0-9]+: )?(\[==========\] [0-9]+ tests? from .* ran|\[  (PASSED|FAILED|SKIPPED) +\]|kestrel_abi_host:|check-dll-abi:)|tests passed|tests failed|^Total Test time' \
    "build/$preset-test.log"
  if ((result != 0)); then
    echo "ci-windows: stage $preset: tests failed (build/$preset-test.log); the failures:" >&2
    grep -E -B2 -A12 'Failure$|\*\*\*(Failed|Exception|Timeout)|wine: Unhandled' "build/$preset-test.log" | head -120 >&2
    status=1
  fi
  echo "ci-windows: $preset tests ran in $(($(now) - built)) s"
  compare_host "$arch" "$preset" || status=1
done

# The release archives, each unpacked into an empty folder where its host runs the example (the
# Windows ones under Wine) and must print the Linux rows.
if [[ $mode == --build-only ]]; then
  echo "ci-windows: skipped the package check: build only"
elif ! command -v wine >/dev/null && [[ ! -x /usr/lib/wine/wine64 ]]; then
  echo "ci-windows: skipped the package check: Wine is not installed (scripts/setup-wine.sh)"
else
  scripts/package.sh --check || status=1
fi
exit $status
