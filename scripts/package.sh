#!/usr/bin/env bash
# Release archives, made from `cmake --install` of each build:
#   build/packages/kestrel-VERSION-linux-x86_64.tar.gz     (build/default)
#   build/packages/kestrel-VERSION-windows-i686.zip        (build/mingw-i686)
#   build/packages/kestrel-VERSION-windows-x86_64.zip      (build/mingw-x64)
# Each holds bin/ (the library on Windows, kestrel-host), lib/ (the library on Linux, the
# pkg-config file and the CMake package), include/kestrel/, share/kestrel/lang and examples,
# and share/doc/kestrel (the host guide, the settings reference, README, CHANGELOG, LICENSE).
# A Windows target whose build tree has no kestrel.dll is left out with a line saying so.
#
# --check: unpacks each archive into an empty folder and runs its kestrel-host on the example
# stream and settings (the Windows ones under Wine, scripts/wine-run.sh); the rows must be the
# Linux build tree's. A Windows archive this machine cannot run (no Wine for it, see
# build/wine-stages from scripts/setup-wine.sh) is built but not run, with a line saying why.
#   scripts/package.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
check=0
[[ ${1:-} == --check ]] && check=1
out=$root/build/packages
stages=$root/build/wine-stages
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package: FAILED: $*" >&2; exit 1; }

version=$(sed -n 's/^project(Kestrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || fail "no project version in CMakeLists.txt"

# The rows every packaged host must print: the Linux build tree's host on the examples.
args=(--format json --items --hide DATE_TIME_STAMP --packet-size 64 --ini sensors.ini
      sensors.jsonl)
reference() {
  [[ -f $work/reference.jsonl ]] && return
  cmake --build build/default --target kestrel kestrel-host >/dev/null
  (cd examples && KESTREL_REGISTRY=$work/registry \
    "$root/build/default/tools/kestrel-host/kestrel-host" "${args[@]}") \
    >"$work/reference.jsonl" 2>/dev/null
  [[ -s $work/reference.jsonl ]] || fail "the Linux build tree's host printed no rows"
}

# run_packaged NAME ARCH HOST: the unpacked host on its own example files.
run_packaged() {
  local name=$1 arch=$2 host=$3 folder=$work/$1/$1
  local examples=$folder/share/kestrel/examples
  [[ -f $examples/sensors.jsonl && -f $examples/sensors.ini ]] ||
    fail "$name holds no example stream and settings"
  reference
  if [[ $arch == linux ]]; then
    (cd "$examples" && KESTREL_REGISTRY=$work/registry-$name "$folder/$host" "${args[@]}") \
      >"$work/$name.jsonl" 2>"$work/$name.err" || fail "$name: kestrel-host failed: $(tail -3 "$work/$name.err")"
  else
    (cd "$examples" && "$root/scripts/wine-run.sh" "$arch" "$folder/$host" "${args[@]}") \
      >"$work/$name.jsonl" 2>"$work/$name.err" || fail "$name: kestrel-host.exe failed: $(tail -3 "$work/$name.err")"
  fi
  tr -d '\r' <"$work/$name.jsonl" >"$work/$name.rows"
  if ! diff -u "$work/reference.jsonl" "$work/$name.rows" >"$work/$name.diff"; then
    head -30 "$work/$name.diff" >&2
    fail "$name: the packaged host prints other rows than the Linux build tree"
  fi
  echo "package: $name: unpacked into an empty folder, its host printed the build tree's $(wc -l <"$work/reference.jsonl") lines"
  [[ $arch == linux ]] || run_minimal_windows "$name" "$arch"
}

# The minimal host built with MinGW against the unpacked zip, run beside its DLL under Wine.
run_minimal_windows() {
  local name=$1 arch=$2 folder=$work/$1/$1 cc=$2-w64-mingw32-gcc-posix
  if ! command -v "$cc" >/dev/null; then
    echo "package: $name: the minimal host not built: no $cc"
    return
  fi
  "$cc" -std=c11 -Wall -Wextra -Wpedantic -Werror -I"$folder/include" \
    "$folder/share/kestrel/examples/minimal_host.c" -loleaut32 -o "$folder/bin/minimal_host.exe"
  (cd "$folder/share/kestrel/examples" && "$root/scripts/wine-run.sh" "$arch" \
    "$folder/bin/minimal_host.exe" sensors.jsonl "$(winepath_of "$folder/share/kestrel/examples/sensors.ini")" \
    "$(winepath_of "$folder/bin/kestrel.dll")") | tr -d '\r' >"$work/$name.minimal" ||
    fail "$name: minimal_host.exe failed"
  (cd examples && KESTREL_REGISTRY=$work/registry \
    "$root/build/default/tools/kestrel-host/kestrel-host" --format json --ini sensors.ini \
    sensors.jsonl) >"$work/stamped.jsonl" 2>/dev/null
  python3 "$root/scripts/compare_rows.py" "$work/stamped.jsonl" "$work/$name.minimal" \
    --ignore DATE_TIME_STAMP >/dev/null ||
    fail "$name: minimal_host.exe prints other rows than the Linux host"
  echo "package: $name: minimal_host.exe built with MinGW against the zip printed the Linux rows"
}

# A Unix path as Wine's Z: drive sees it.
winepath_of() {
  printf 'Z:%s' "${1//\//\\}"
}

made=()
# Linux tarball.
[[ -f build/default/CMakeCache.txt ]] || cmake --preset default >/dev/null
cmake --build build/default --target kestrel kestrel-host >/dev/null
name=kestrel-$version-linux-x86_64
rm -rf "$work/stage"
cmake --install build/default --prefix "$work/stage/$name" >/dev/null
tar -C "$work/stage" -czf "$out/$name.tar.gz" "$name"
echo "package: $out/$name.tar.gz"
made+=("$name linux bin/kestrel-host tar.gz")

# A zip per Windows target that has been built.
for target in i686:mingw-i686 x86_64:mingw-x64; do
  arch=${target%%:*}
  preset=${target#*:}
  name=kestrel-$version-windows-$arch
  if [[ ! -f build/$preset/src/kestrel.dll ]]; then
    echo "package: $name left out: build/$preset has no kestrel.dll (cmake --preset $preset && cmake --build --preset $preset)"
    continue
  fi
  cmake --build "build/$preset" --target kestrel kestrel-host >/dev/null
  rm -rf "$work/stage"
  cmake --install "build/$preset" --prefix "$work/stage/$name" >/dev/null
  for file in bin/kestrel.dll bin/kestrel-host.exe include/kestrel/kestrel.h \
              share/kestrel/lang/de/kestrel.lng share/doc/kestrel/host-guide.md; do
    [[ -f $work/stage/$name/$file ]] || fail "$name lacks $file"
  done
  rm -f "$out/$name.zip"
  (cd "$work/stage" && zip -qr "$out/$name.zip" "$name")
  echo "package: $out/$name.zip"
  made+=("$name $arch bin/kestrel-host.exe zip")
done

((check)) || exit 0
for entry in "${made[@]}"; do
  read -r name arch host kind <<<"$entry"
  mkdir -p "$work/$name"
  if [[ $kind == zip ]]; then
    if ! command -v wine >/dev/null && [[ ! -x /usr/lib/wine/wine64 ]]; then
      echo "package: $name: not run: Wine is not installed (scripts/setup-wine.sh)"
      continue
    fi
    if [[ ! -f $stages ]] || ! grep -qx "$arch" "$stages"; then
      echo "package: $name: not run: this machine cannot run $arch Windows programs (build/wine-stages)"
      continue
    fi
    unzip -q "$out/$name.zip" -d "$work/$name"
  else
    tar -C "$work/$name" -xzf "$out/$name.tar.gz"
  fi
  run_packaged "$name" "$arch" "$host"
done
