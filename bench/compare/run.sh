#!/usr/bin/env bash
# Builds and runs the side-by-side comparison and prints its tables:
#   bench/compare/run.sh [--quick] [--mb N] [--repeat N] [--no-flat] [--no-reader] [--no-callgrind]
# --quick: 2 MB streams, one run each (a few minutes); the full run: 20 MB streams, best of 3
# (10-15 minutes on a busy 2-core machine).
# Installs the peers a machine lacks (yajl, jq, node, valgrind, the C++ JSON libraries).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"

packages=(libyajl-dev jq nodejs valgrind python3 rapidjson-dev nlohmann-json3-dev libsimdjson-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Tools installed some other way (a node from nodesource or nvm, a pyenv python) count as present.
have() { command -v "$1" >/dev/null 2>&1; }
need=()
for p in "${missing[@]}"; do
  case "$p" in
  nodejs) have node || need+=("$p") ;;
  python3) have python3 || need+=("$p") ;;
  jq | valgrind) have "$p" || need+=("$p") ;;
  *) need+=("$p") ;;
  esac
done
if ((${#need[@]})); then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target kestrel kestrel-host kestrel_compare_driver kestrel_reader_probe \
  kestrel_json_bench
out="$root/build/default/bench/compare"
cc -O2 -o "$out/flat_yajl" "$here/flat_yajl.c" -lyajl
exec python3 "$here/compare.py" --build "$root/build/default" "$@"
