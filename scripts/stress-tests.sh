#!/usr/bin/env bash
# Repeats the tests that run threads, message windows and timers while two CPU burners keep the
# processors busy, so that a test which passes only when another thread happens to run fast
# fails here rather than by chance in CI. Not part of CI.
#
#   scripts/stress-tests.sh [--repeat N] [--wine-repeat N] [--stages native,tsan,wine]
#                           [--wine-arches x86_64,i686] [-R REGEX]
#
# The tests are those the tsan-concurrency test preset names, plus the threaded tests of
# programs that its stage does not build (REGEX replaces the lot). Stages:
#   native  the default preset, each test repeated until it fails, at most N times (30)
#   tsan    the same tests of the tsan preset (all of its programs are built), N times
#   wine    the MinGW presets whose targets build/wine-stages lists (scripts/setup-wine.sh
#           writes it): the same tests in their one test program under Wine, --wine-repeat
#           times (5); skipped with a line saying why when the file is missing.
#           --wine-arches narrows them (32-bit Wine runs on QEMU and is far slower)
# The burners run at the priority of this script: niced burners would hardly take the
# processors from the tests. Builds run niced. Logs go to build/stress/.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

repeat=30
wine_repeat=5
stages=native,tsan,wine
wine_arches=x86_64,i686
regex=""
jobs=${KESTREL_JOBS:-2}
while (($#)); do
  case $1 in
    --repeat) repeat=$2; shift 2 ;;
    --wine-repeat) wine_repeat=$2; shift 2 ;;
    --stages) stages=$2; shift 2 ;;
    --wine-arches) wine_arches=$2; shift 2 ;;
    -R) regex=$2; shift 2 ;;
    *) echo "usage: stress-tests.sh [--repeat N] [--wine-repeat N] [--stages native,tsan,wine]" \
            "[--wine-arches x86_64,i686] [-R REGEX]" >&2
       exit 2 ;;
  esac
done
wants() { [[ ,$stages, == *,$1,* ]]; }

if [[ -z $regex ]]; then
  if command -v jq >/dev/null; then
    preset_filter=$(jq -r '.testPresets[] | select(.name == "tsan-concurrency")
                           | .filter.include.name' CMakePresets.json)
  else
    preset_filter=$(python3 -c 'import json, sys
for p in json.load(open(sys.argv[1]))["testPresets"]:
    if p["name"] == "tsan-concurrency": print(p["filter"]["include"]["name"])' CMakePresets.json)
  fi
  [[ -n ${preset_filter:-} && $preset_filter != null ]] ||
    { echo "stress-tests: cannot read the tsan-concurrency filter of CMakePresets.json" >&2; exit 1; }
  regex="$preset_filter"
fi

mkdir -p build/stress
burners=()
stop_burners() {
  local pid
  for pid in "${burners[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  burners=()
}
trap stop_burners EXIT
start_burners() {
  if command -v stress-ng >/dev/null; then
    stress-ng --cpu 2 --quiet &
    burners+=($!)
  else
    (while :; do :; done) &
    burners+=($!)
    (while :; do :; done) &
    burners+=($!)
  fi
}

export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
command -v ccache >/dev/null || unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER

status=0
summary=()
# Runs a command under load; `name` labels its log and its summary line, made of the log's last
# line that matches `pattern`.
loaded_run() {
  local name=$1 pattern=$2
  shift 2
  local log=build/stress/$name.log start=$SECONDS
  start_burners
  "$@" >"$log" 2>&1
  local result=$?
  stop_burners
  local line
  line=$(grep -E "$pattern" "$log" | tail -1)
  summary+=("$name: ${line:-no summary line (see $log)} in $((SECONDS - start)) s")
  if ((result != 0)); then
    status=1
    echo "stress-tests: $name failed ($log):" >&2
    grep -E -A25 '\*\*\*(Failed|Exception|Timeout)|Failure$' "$log" | head -80 >&2
  fi
}
ctest_summary='tests passed|tests failed'

# Runs a configure or build step niced; `name` labels its log.
build() {
  local log=build/stress/$1.log
  shift
  if ! nice "$@" >"$log" 2>&1; then
    echo "stress-tests: the build failed ($log)" >&2
    tail -20 "$log" >&2
    return 1
  fi
}

if wants native; then
  if build default-configure cmake --preset default &&
     build default-build cmake --build --preset default -j"$jobs"; then
    loaded_run native "$ctest_summary" ctest --preset default -j"$jobs" -R "$regex" \
      --repeat until-fail:"$repeat" --output-on-failure
  else
    status=1
  fi
fi

if wants tsan; then
  run=()
  if setarch "$(uname -m)" -R true 2>/dev/null; then
    run=(setarch "$(uname -m)" -R) # see scripts/ci-tsan.sh
  fi
  if build tsan-configure cmake --preset tsan &&
     build tsan-build "${run[@]}" cmake --build --preset tsan -j"$jobs"; then
    loaded_run tsan "$ctest_summary" "${run[@]}" ctest --preset tsan -j"$jobs" -R "$regex" \
      --repeat until-fail:"$repeat" --output-on-failure
  else
    status=1
  fi
fi

if wants wine; then
  if [[ ! -f build/wine-stages ]]; then
    summary+=("wine: skipped, build/wine-stages is missing (run scripts/setup-wine.sh)")
  fi
  for arch in x86_64 i686; do
    [[ ,$wine_arches, == *,$arch,* ]] || continue
    case $arch in
      x86_64) preset=mingw-x64 ;;
      i686) preset=mingw-i686 ;;
    esac
    [[ -f build/wine-stages ]] || continue
    if ! grep -qx "$arch" build/wine-stages; then
      summary+=("$preset: skipped, build/wine-stages does not list $arch")
      continue
    fi
    if [[ ! -f build/deps/pcre-$arch/lib/libpcre.a ]] &&
       ! build "pcre-$arch" scripts/build-pcre-mingw.sh "$arch" "build/deps/pcre-$arch"; then
      status=1
      continue
    fi
    # A cross build links all tests into one program (one Wine start costs seconds, under QEMU
    # nearly a minute); its tests that the pattern names run in it --wine-repeat times.
    if build "$preset-configure" cmake --preset "$preset" &&
       build "$preset-build" cmake --build --preset "$preset" -j"$jobs"; then
      tests=build/$preset/tests
      filter=$(cd "$tests" && ../../../scripts/wine-run.sh "$arch" kestrel_tests.exe \
                 --gtest_list_tests | tr -d '\r' |
               awk '/^[^ ]/ {suite = $1; next} /^  / {print suite $1}' | grep -E "$regex" |
               paste -sd:)
      if [[ -z $filter ]]; then
        echo "stress-tests: $preset: no test of kestrel_tests.exe matches the pattern" >&2
        status=1
        continue
      fi
      # A hung test ends the run after the time the preset gives one whole suite, per round.
      loaded_run "$preset" '^\[  PASSED  \] [0-9]+ tests?\.|^\[  FAILED  \] [0-9]+ tests?,' \
        timeout -k 10 $((wine_repeat * 1800)) env -C "$tests" ../../../scripts/wine-run.sh "$arch" \
        kestrel_tests.exe \
        --gtest_filter="$filter" --gtest_repeat="$wine_repeat"
    else
      status=1
    fi
  done
fi

printf '%s\n' "${summary[@]}"
exit $status
