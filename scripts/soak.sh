#!/usr/bin/env bash
# Soak run (not part of CI): 1 GB of mixed JSON blocks through ProcessData in random packets,
# eight clients on two threads, settings reloaded every second. Prints the resident memory after
# warm-up and at the end, and fails when it grew beyond the bound.
#
#   scripts/soak.sh [megabytes] [max growth in KiB]     (defaults: 1024 and 8192)
#
# Builds the default preset's soak driver first. Runs under nice: it is meant to run beside
# other work. The registry and settings files live in a scratch folder removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

megabytes=${1:-1024}
max_growth=${2:-8192}

cmake --preset default >/dev/null
cmake --build --preset default --target kestrel_soak kestrel

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export KESTREL_REGISTRY="$scratch/registry"
export XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
mkdir -p "$KESTREL_REGISTRY"

echo "== soak: $megabytes MB, memory growth bound $max_growth KiB"
nice -n 10 build/default/bench/soak/kestrel_soak --megabytes "$megabytes" \
  --max-growth-kib "$max_growth"
