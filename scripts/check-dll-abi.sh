#!/usr/bin/env bash
# Checks the binary interface of the shipped 32-bit kestrel.dll without running it:
#   - a PE32 DLL for i386,
#   - its export table holds exactly the eight entry points, by undecorated name,
#   - it imports no MinGW run-time DLL (the run-time is linked in statically),
#   - it imports the OLE value functions from OLEAUT32.dll.
# Usage: scripts/check-dll-abi.sh path/to/kestrel.dll   (exit 0 when all holds)
set -euo pipefail
dll=${1:?usage: check-dll-abi.sh kestrel.dll}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
command -v "$objdump" >/dev/null || objdump=objdump
failed=0
fail() {
  echo "check-dll-abi: $*" >&2
  failed=1
}

header=$("$objdump" -f "$dll")
grep -q "file format pei-i386" <<<"$header" || fail "not a PE32 i386 image: $(grep -o 'file format .*' <<<"$header")"
grep -q "architecture: i386" <<<"$header" || fail "architecture is not i386"
if command -v file >/dev/null; then
  kind=$(file -b "$dll")
  [[ $kind == PE32\ executable*DLL*Intel*80386* ]] || fail "file says: $kind"
fi

private=$("$objdump" -p "$dll")
# The names of the export name table: the lines after "[Ordinal/Name Pointer] Table".
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
               on && /^[[:space:]]*\[[[:space:]]*[0-9]+\]/ {print $NF; next}
               on && NF == 0 {on = 0}' <<<"$private" | sort)
expected=$(printf '%s\n' CreatePluginInstance ExecutePluginCommand FreePluginInstance \
  GetLogEx GetModuleInfo GetOptionsDialog ProcessData ShowOptionsDialog | sort)
if [[ $exports != "$expected" ]]; then
  fail "exports differ from the eight entry points:"
  diff <(echo "$expected") <(echo "$exports") >&2 || true
fi
grep -q '[@]' <<<"$exports" && fail "decorated export names"

imports=$(awk '/DLL Name:/ {print $3}' <<<"$private")
runtime=$(grep -iE '^(libgcc|libstdc|libwinpthread|libssp|libgomp|libatomic)' <<<"$imports" || true)
[[ -z $runtime ]] || fail "imports MinGW run-time DLLs: $(echo $runtime)"
# The OLE values are oleaut32's own (the library declares them itself, as stdcall imports).
grep -qix 'oleaut32.dll' <<<"$imports" || fail "does not import OLEAUT32.dll"

if ((failed)); then
  exit 1
fi
echo "check-dll-abi: $dll: PE32 i386, exports $(echo $exports), imports $(echo $imports)"
