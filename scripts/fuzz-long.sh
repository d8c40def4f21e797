#!/usr/bin/env bash
# Long fuzzing campaign (not part of CI): runs the libFuzzer targets in slices of equal time, the
# target with the fewest slices so far next, and keeps a running count per target across runs and
# machines in fuzz/campaign.tsv, so a campaign can be stopped and resumed anywhere.
#
#   scripts/fuzz-long.sh [--hours H] [--slice MINUTES] [--jobs N] [--goal EXECUTIONS]
#                        [--work DIR] [--merge] [target ...]
#
# Defaults: 2 hours, 10-minute slices, one job, the work folder build/fuzz-campaign. A target
# stops being picked once it reached its goal: 10^8 executions, 10^7 for fuzz_process_data and
# fuzz_ini_file (each of their inputs is dozens of calls or file writes); --goal sets one goal for
# all. Targets default to every fuzz_* program of the fuzz preset.
# fuzz/campaign.tsv (target, executions, slices, the commit the last slice was built from) is
# part of the repository: commit it with the work, so the totals survive a new machine.
# The work folder holds one corpus per target (seeded from fuzz/corpus/), the logs of the last
# slices and crashes/<target>/ for failing inputs.
# --merge adds the campaign's inputs that reach new coverage to fuzz/corpus/<target>/ and exits.
# Runs under nice: it is meant to run beside other work.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

hours=2 slice=10 jobs=1 goal= work=build/fuzz-campaign merge=0
targets=()
while (($#)); do
  case "$1" in
  --hours) hours=$2; shift ;;
  --slice) slice=$2; shift ;;
  --jobs) jobs=$2; shift ;;
  --goal) goal=$2; shift ;;
  --work) work=$2; shift ;;
  --merge) merge=1 ;;
  -h | --help) sed -n 2,17p "$0"; exit 0 ;;
  -*) echo "unknown option $1" >&2; exit 2 ;;
  *) targets+=("$1") ;;
  esac
  shift
done

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
# The commit the programs were built from; "+" when the tree had changes beside it.
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff --quiet HEAD -- src include fuzz/*/*.cpp 2>/dev/null || commit="$commit+"
bin="$root/build/fuzz/fuzz"
if ((${#targets[@]} == 0)); then
  mapfile -t targets < <(find "$bin" -type f -name 'fuzz_*' -perm -u+x -printf '%f\n' | sort)
fi
program() { find "$bin" -type f -name "$1" -perm -u+x | head -1; }
dictionary() { find "$root/fuzz" -name "$1.dict" | head -1; }

mkdir -p "$work"
work=$(cd "$work" && pwd)
counts="$root/fuzz/campaign.tsv"
header=$'target\texecutions\tslices\tcommit'
[ -s "$counts" ] || echo "$header" >"$counts"

if ((merge)); then
  for t in "${targets[@]}"; do
    [ -d "$work/corpus/$t" ] || continue
    mkdir -p "fuzz/corpus/$t"
    before=$(find "fuzz/corpus/$t" -type f | wc -l)
    "$(program "$t")" -merge=1 "fuzz/corpus/$t" "$work/corpus/$t" >"$work/merge-$t.log" 2>&1
    echo "$t: $before -> $(find "fuzz/corpus/$t" -type f | wc -l) corpus files"
  done
  exit 0
fi

column() { # target column: the target's executions (2) or slices (3) so far
  awk -F'\t' -v t="$1" -v c="$2" 'NR > 1 && $1 == t { print $c; found = 1 } END { if (!found) print 0 }' "$counts"
}
goal_of() { # target
  if [ -n "$goal" ]; then echo "$goal"
  else case $1 in fuzz_process_data | fuzz_ini_file) echo 10000000 ;; *) echo 100000000 ;; esac
  fi
}
add_count() { # target executions
  local lock="$work/campaign.lock"
  (
    flock 9
    awk -F'\t' -v OFS='\t' -v t="$1" -v n="$2" -v c="$commit" '
      NR > 1 && $1 == t { $2 += n; $3 += 1; $4 = c; found = 1 } { print }
      END { if (!found) print t, n, 1, c }' "$counts" >"$counts.new"
    { head -1 "$counts.new"; tail -n +2 "$counts.new" | sort; } >"$counts"
    rm -f "$counts.new"
  ) 9>"$lock"
}

# The target short of the goal with the fewest slices that no job runs now; nothing when every
# target reached the goal. Equal time per target: a slow target does not hold every job.
declare -A running=()
next_target() {
  local best="" best_slices=0 t
  for t in "${targets[@]}"; do
    [ -z "${running[$t]:-}" ] || continue
    (($(column "$t" 2) < $(goal_of "$t"))) || continue
    local slices
    slices=$(column "$t" 3)
    if [ -z "$best" ] || ((slices < best_slices)); then best=$t best_slices=$slices; fi
  done
  echo "$best"
}

run_slice() { # target
  local t=$1 exe dict log
  exe=$(program "$t")
  dict=$(dictionary "$t")
  mkdir -p "$work/corpus/$t" "$work/crashes/$t"
  [ -n "$(ls -A "$work/corpus/$t")" ] || cp fuzz/corpus/"$t"/* "$work/corpus/$t/" 2>/dev/null || true
  log="$work/$t.log"
  nice -n 19 "$exe" -max_total_time=$((slice * 60)) -print_final_stats=1 \
    -artifact_prefix="$work/crashes/$t/" ${dict:+-dict="$dict"} "$work/corpus/$t" >"$log" 2>&1 || true
  # A slice stopped from outside ends with a failing status too: only a report counts.
  if grep -qE 'ERROR: (libFuzzer|[A-Za-z]+Sanitizer)|^SUMMARY: ' "$log"; then
    echo "$t: the slice ended with a finding, see $log and $work/crashes/$t/" >&2
  fi
  # The final statistics count the executions; the last "#N" line when the slice was cut short.
  local n
  n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$n" ] || n=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#' || true)
  add_count "$t" "${n:-0}"
}

deadline=$(($(date +%s) + $(awk -v h="$hours" 'BEGIN { printf "%d", h * 3600 }')))
declare -A pids=()
while (($(date +%s) < deadline)); do
  while ((${#pids[@]} < jobs)); do
    t=$(next_target)
    [ -n "$t" ] || break
    run_slice "$t" &
    pids[$t]=$!
    running[$t]=1
  done
  ((${#pids[@]})) || break
  wait -n || true
  for t in "${!pids[@]}"; do
    if ! kill -0 "${pids[$t]}" 2>/dev/null; then
      unset "pids[$t]" "running[$t]"
    fi
  done
done
wait

printf '%-24s %14s %8s %10s\n' target executions slices goal
tail -n +2 "$counts" | while IFS=$'\t' read -r t n sl c; do
  g=$(goal_of "$t")
  printf '%-24s %14d %8d %10d%s\n' "$t" "$n" "$sl" "$g" "$( ((n >= g)) && echo '  goal reached')"
done
