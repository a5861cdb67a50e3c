#!/usr/bin/env bash
# Runs the acceptance test N times in a row (default 20) while a second build
# keeps every core busy: a clone of this repository's HEAD in a temporary
# folder, built again and again (clean, then cmake --build -j CORES). Stops at
# the first failure and keeps its log; prints "N passed, M failed".
#
#   scripts/stress-acceptance.sh [RUNS]
#
# Needs the built driver and demo (scripts/build.sh), copied at the start.
# ORU_BUILD_DIR picks the build (default build/), ORU_STRESS_JOBS the load's parallel jobs (default:
# the number of cores). Logs land in $ORU_BUILD_DIR/stress-acceptance-<time>/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ORU_BUILD_DIR:-$top/build}
runs=${1:-20}
jobs=${ORU_STRESS_JOBS:-$(nproc)}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS] (a positive number, default 20)" >&2; exit 2; }
for program in "$build/bin/oru-driver" "$build/bin/oru-demo"; do
  [[ -x $program ]] || { echo "$program is missing: build first (scripts/build.sh)" >&2; exit 1; }
done

out=$build/stress-acceptance-$(date +%Y%m%d-%H%M%S)
mkdir -p "$out/programs"
# Every run tests the same programs, also when the build changes meanwhile.
cp "$build/bin/oru-driver" "$build/bin/oru-demo" "$out/programs/"
driver=$out/programs/oru-driver
demo=$out/programs/oru-demo
load_dir=$(mktemp -d "${TMPDIR:-/tmp}/oru-stress-load.XXXXXX")
load_pid=
stop_load() {
  if [[ -n $load_pid ]]; then
    # The load runs in a process group of its own: end the build with it.
    kill -TERM -- "-$load_pid" 2>/dev/null || true
    wait "$load_pid" 2>/dev/null || true
    load_pid=
  fi
  rm -rf "$load_dir"
}
trap stop_load EXIT
trap 'exit 130' INT TERM HUP

echo "load: a clone of HEAD built over and over with $jobs jobs ($load_dir, log $out/load.log)"
git clone -q "$top" "$load_dir/src"
setsid bash -c '
  cmake -S "$1/src" -B "$1/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
  while true; do
    cmake --build "$1/build" --target clean >/dev/null
    cmake --build "$1/build" -j "$2" || exit 1
  done' load "$load_dir" "$jobs" >"$out/load.log" 2>&1 &
load_pid=$!
# Measure only once the load compiles.
deadline=$((SECONDS + 300))
until grep -q 'Building CXX' "$out/load.log"; do
  if ! kill -0 "$load_pid" 2>/dev/null || ((SECONDS >= deadline)); then
    echo "the load build did not start; its log:" >&2
    tail -n 20 "$out/load.log" >&2
    exit 1
  fi
  sleep 0.5
done

passed=0
failed=0
for ((i = 1; i <= runs; i++)); do
  log=$out/run-$i.log
  start=$SECONDS
  if "$top/tests/acceptance/acceptance_test.sh" "$top" "$driver" "$demo" "$out/run-$i" >"$log" 2>&1; then
    passed=$((passed + 1))
    # Screenshots of a passing run aren't needed; its log stays.
    rm -rf "$out/run-$i"
    read -r load _ </proc/loadavg
    echo "run $i/$runs passed ($((SECONDS - start)) s, load average $load)"
  else
    failed=$((failed + 1))
    echo "run $i/$runs FAILED after $((SECONDS - start)) s: log $log, screenshots and driver output in $out/run-$i"
    grep -E 'FAILED|^FAIL|oru-demo:' "$log" || tail -n 20 "$log"
    break
  fi
done
kill -0 "$load_pid" 2>/dev/null || echo "note: the load build ended early (see $out/load.log)"
echo "$passed passed, $failed failed"
((failed == 0))
