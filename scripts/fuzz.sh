#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs
# each one for ORU_FUZZ_SECONDS (default 30). A crash, leak or sanitizer
# finding fails the run and leaves the input in build-fuzz/findings/.
#   ORU_FUZZ_SECONDS=600 scripts/fuzz.sh            # a longer campaign
#   scripts/fuzz.sh fuzz_replay                     # one target
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-fuzz"
seconds=${ORU_FUZZ_SECONDS:-30}
ORU_WITH_FUZZ=1 "$top/scripts/install-deps.sh"
"$top/scripts/build.sh" fuzz
mkdir -p "$build/findings"
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || mapfile -t targets < <(cd "$build/fuzz" && ls fuzz_* 2>/dev/null)
status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  seeds="$top/fuzz/seeds/$t"
  dirs=("$corpus")
  [[ -d $seeds ]] && dirs+=("$seeds")
  log="$build/findings/$t.log"
  if ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$build/findings/$t-" "${dirs[@]}" >"$log" 2>&1; then
    runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "$t: ${runs:-?} executions in ${seconds}s, no finding"
  else
    echo "$t: FINDING (see $log)"; tail -30 "$log"; status=1
  fi
done
exit $status
