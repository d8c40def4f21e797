#!/usr/bin/env bash
# Installs the build into an empty prefix and uses it as an integrator would:
#   - the installed files, the exports (nm -D) and the run paths (no build-tree path);
#   - the prefix moved elsewhere (pkg-config file and CMake package are relocatable);
#   - the installed kestrel-host on the example stream gives the build tree's rows;
#   - examples/minimal_host.c built with `pkg-config --cflags --libs kestrel` gives them too;
#   - a CMake project with find_package(Kestrel 5) and Kestrel::kestrel builds and runs;
#   - a library that cannot be opened is exit 3 with the system's reason.
# usage: scripts/check-install.sh [BUILD-DIR]   (default build/default, configured and built)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build/default}" && pwd)
cc=${CC:-cc}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: FAILED: $*" >&2; exit 1; }

cmake --build "$build" --target kestrel kestrel-host >/dev/null
cmake --install "$build" --prefix "$work/first" >/dev/null
# Everything below uses the tree at a place it was not installed to.
mv "$work/first" "$work/prefix"
prefix=$work/prefix

for file in lib/libkestrel.so.5 lib/libkestrel.so lib/libkestrel_platform.so.5 bin/kestrel-host \
            include/kestrel/kestrel.h include/kestrel/kestrel_platform.h \
            include/kestrel/kestrel_version.h lib/pkgconfig/kestrel.pc \
            lib/cmake/Kestrel/KestrelConfig.cmake lib/cmake/Kestrel/KestrelConfigVersion.cmake \
            share/kestrel/lang/de/kestrel.lng share/kestrel/lang/ru/kestrel.lng \
            share/kestrel/examples/sensors.ini share/kestrel/examples/sensors.jsonl \
            share/kestrel/examples/minimal_host.c share/doc/kestrel/host-guide.md \
            share/doc/kestrel/LICENSE; do
  [ -e "$prefix/$file" ] || fail "$file is not installed"
done

# Exports: the eight functions; the platform library its C API and kestrel::platform only.
exports=$(nm -D --defined-only "$prefix/lib/libkestrel.so.5" | awk '{print $3}' | sort | tr '\n' ' ')
expected="CreatePluginInstance ExecutePluginCommand FreePluginInstance GetLogEx GetModuleInfo \
GetOptionsDialog ProcessData ShowOptionsDialog "
[ "$exports" = "$expected" ] || fail "libkestrel.so.5 exports: $exports"
stray=$(nm -D --defined-only "$prefix/lib/libkestrel_platform.so.5" | awk '{print $3}' | c++filt |
        grep -Ev '^(Kestrel|Sys|Variant|SafeArray)[A-Za-z]*$|^kestrel::platform::' || true)
[ -z "$stray" ] || fail "libkestrel_platform.so.5 exports more than its API: $stray"
[ "$(readelf -d "$prefix/lib/libkestrel.so.5" | grep -o 'soname: \[[^]]*\]')" = \
  "soname: [libkestrel.so.5]" ] || fail "libkestrel.so.5 has another SONAME"
for file in lib/libkestrel.so.5 lib/libkestrel_platform.so.5 bin/kestrel-host; do
  if readelf -d "$prefix/$file" | grep -E 'R(UN)?PATH' | grep -q "$root"; then
    fail "$file keeps a run path into the source or build tree"
  fi
done
readelf -d "$prefix/lib/libkestrel.so.5" | grep -q 'RUNPATH.*\[\$ORIGIN\]' ||
  fail "libkestrel.so.5 does not look for the platform library beside itself"

# The rows: the build tree's host, the installed host, the minimal host, all from one folder.
export KESTREL_REGISTRY=$work/registry
cp examples/sensors.jsonl examples/sensors.ini "$work/"
cd "$work"
run_host() { "$1" --format json --hide DATE_TIME_STAMP --ini sensors.ini sensors.jsonl 2>/dev/null; }
run_host "$build/tools/kestrel-host/kestrel-host" > built.jsonl
run_host "$prefix/bin/kestrel-host" > installed.jsonl
[ -s built.jsonl ] || fail "the build tree's kestrel-host printed no rows"
cmp -s built.jsonl installed.jsonl || fail "the installed kestrel-host gives other rows"
echo "check-install: installed kestrel-host: $(wc -l < installed.jsonl) rows, as the build tree's"

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046 # the flags are words
"$cc" -std=c11 -Wall -Wextra -Wpedantic -Werror "$prefix/share/kestrel/examples/minimal_host.c" \
  $(pkg-config --cflags --libs kestrel) -o minimal_host
./minimal_host sensors.jsonl "$work/sensors.ini" > minimal.txt
"$prefix/bin/kestrel-host" --format json --ini sensors.ini sensors.jsonl 2>/dev/null > stamped.jsonl
python3 "$root/scripts/compare_rows.py" stamped.jsonl minimal.txt --ignore DATE_TIME_STAMP ||
  fail "the minimal host built with pkg-config gives other rows"

mkdir consumer
cat > consumer/CMakeLists.txt <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(KestrelConsumer C)
find_package(Kestrel 5 REQUIRED)
add_executable(consumer consumer.c)
target_link_libraries(consumer PRIVATE Kestrel::kestrel)
CMAKE
cat > consumer/consumer.c <<'C'
/* Linked against the library: creates an instance and prints its module version. */
#include <kestrel/kestrel.h>
#include <kestrel/kestrel_version.h>
#include <stdio.h>
#include <string.h>
int main(void) {
  TPluginCallRec rec;
  memset(&rec, 0, sizeof rec);
  rec.RecSize = sizeof rec;
  if (CreatePluginInstance(&rec) != 0)
    return 1;
  unsigned char buffer[4096];
  TPluginModuleInfo* info = (TPluginModuleInfo*)buffer;
  uint32_t needed = 0;
  info->BufferSize = sizeof buffer;
  const int ok = GetModuleInfo(&rec, info, &needed) == 1;
  printf("%s %.1f %s\n", ok ? "module" : "no-info", ok ? (double)info->Version : 0.0,
         KESTREL_VERSION_TEXT);
  FreePluginInstance(&rec);
  return ok && info->Version == KESTREL_MODULE_VERSION ? 0 : 1;
}
C
cmake -S consumer -B consumer/build -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build consumer/build >/dev/null
version=$(consumer/build/consumer) || fail "the CMake consumer failed: $version"
echo "check-install: find_package(Kestrel 5) consumer: $version"

# A library that cannot be opened: exit 3 and the system's reason.
status=0
"$prefix/bin/kestrel-host" --library "$work/missing/libkestrel.so.5" sensors.jsonl 2> open.txt ||
  status=$?
[ "$status" = 3 ] && grep -q "No such file" open.txt ||
  fail "a missing library gave exit $status: $(cat open.txt)"
echo "check-install: passed ($prefix moved after install)"
