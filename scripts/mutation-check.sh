#!/usr/bin/env bash
# Mutation check: puts the plausible one-line faults of scripts/mutations.list
# into the sources one at a time, rebuilds, and runs the tests named for each
# fault; a fault they miss runs the fast suite as well. Tells which faults the
# tests catch, the caught share, and every fault that survived. A build per
# fault takes long: this is not part of ./test.
#
#   scripts/mutation-check.sh                  every entry
#   scripts/mutation-check.sh --list           the entries, numbered, checked against the sources
#   scripts/mutation-check.sh --only 12        entry 12
#   scripts/mutation-check.sh --only warper    the entries whose name or file holds "warper"
# Options:
#   --build DIR          Linux build folder (default build-mutation/, configured once as scripts/build.sh does)
#   --windows-build DIR  mingw build folder for "windows" entries (default build-mutation-windows/)
#   --linux-only         leave out the "windows" entries (their wine tests take minutes)
#   --no-baseline        don't run the tests once on the unchanged sources first
# The baseline run tells which tests fail without any fault; such failures are
# ignored in the verdicts. Every changed file is put back from a copy taken
# before the change, also on Ctrl+C or an error; a copy left by a killed run
# is put back at the next start. Logs: <build>/mutation/logs/. Builds and
# tests run at nice level ORU_MUTATION_NICE (default 10).
# Exit status: 0 when at least 95 % of the applied faults were caught and no
# entry is broken, 1 otherwise, 2 when the check could not run.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
list=$top/scripts/mutations.list
build=$top/build-mutation
windows_build=$top/build-mutation-windows
only="" list_only=0 linux_only=0 baseline=1
jobs=$(nproc)
nice_level=${ORU_MUTATION_NICE:-10}
# A test without a timeout of its own takes seconds: a fault that makes it hang ends sooner.
test_timeout=60
# The fast release suite: everything but the guest kernel, the desktops, the packages and wine.
linux_suite=(-LE 'kernel|desktops|package|windows')

usage() { sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2; }
while (($#)); do
  case $1 in
    --only) only=${2:?--only needs a number or a text}; shift ;;
    --build) build=$(realpath -m "${2:?}"); shift ;;
    --windows-build) windows_build=$(realpath -m "${2:?}"); shift ;;
    --list) list_only=1 ;;
    --linux-only) linux_only=1 ;;
    --no-baseline) baseline=0 ;;
    -h | --help) usage ;;
    *) echo "mutation-check: unknown option $1" >&2; usage ;;
  esac
  shift
done

# --- The list: one entry a line, fields separated by " ||| " (see mutations.list).
names=() files=() patterns=() replacements=() tests=() wheres=() reasons=() problems=()
trim() { local s=$1; s=${s#"${s%%[![:space:]]*}"}; printf '%s' "${s%"${s##*[![:space:]]}"}"; }
while IFS= read -r line || [[ -n $line ]]; do
  [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
  fields=()
  while [[ $line == *" ||| "* ]]; do fields+=("$(trim "${line%%" ||| "*}")"); line=${line#*" ||| "}; done
  fields+=("$(trim "$line")")
  names+=("${fields[0]}") files+=("${fields[1]:-}") patterns+=("${fields[2]:-}") replacements+=("${fields[3]:-}")
  tests+=("${fields[4]:-}") wheres+=("${fields[5]:-linux}") reasons+=("${fields[6]:-}") problems+=("")
  n=$((${#names[@]} - 1))
  if ((${#fields[@]} < 5 || ${#fields[@]} > 7)); then problems[n]="${#fields[@]} fields, 5 to 7 expected"
  elif [[ ${wheres[n]} != linux && ${wheres[n]} != windows ]]; then problems[n]="where is '${wheres[n]}', not linux or windows"
  elif [[ -z ${patterns[n]} || ${patterns[n]} == "${replacements[n]}" ]]; then problems[n]="the replacement changes nothing"
  elif [[ -z ${tests[n]} ]]; then problems[n]="no tests named"
  elif [[ ! -f $top/${files[n]} ]]; then problems[n]="no file ${files[n]}"; fi
done <"$list"

# fixed_text count: reads "file NUL pattern NUL" pairs, prints how often each
# pattern occurs in its file. fixed_text apply FILE PATTERN REPLACEMENT:
# replaces the pattern's one occurrence. Byte for byte, no escapes.
fixed_text() {
  MUT_OLD=${3:-} MUT_NEW=${4:-} python3 -c '
import os, sys
if sys.argv[1] == "count":
    parts = sys.stdin.buffer.read().split(b"\0")
    for path, old in zip(parts[0::2], parts[1::2]):
        print(open(path, "rb").read().count(old))
    sys.exit(0)
old, new = os.environb[b"MUT_OLD"], os.environb[b"MUT_NEW"]
data = open(sys.argv[2], "rb").read()
if data.count(old) != 1:
    sys.exit(1)
open(sys.argv[2], "wb").write(data.replace(old, new))
' "$@"
}
checked=()
for i in "${!names[@]}"; do [[ -z ${problems[i]} ]] && checked+=("$i"); done
mapfile -t counts < <(for i in "${checked[@]}"; do printf '%s\0%s\0' "$top/${files[i]}" "${patterns[i]}"; done |
  fixed_text count)
for k in "${!checked[@]}"; do
  ((${counts[k]:-0} == 1)) || problems[${checked[k]}]="the pattern occurs ${counts[k]:-0} times in ${files[${checked[k]}]}, not once"
done

selected=()
for i in "${!names[@]}"; do
  if [[ -z $only ]] || { [[ $only =~ ^[0-9]+$ ]] && ((only == i + 1)); } ||
    { [[ ! $only =~ ^[0-9]+$ ]] && [[ ${names[i]} == *"$only"* || ${files[i]} == *"$only"* ]]; }; then
    [[ ${wheres[i]} == windows && $linux_only == 1 ]] || selected+=("$i")
  fi
done
if ((list_only)); then
  for i in "${selected[@]}"; do
    status=${problems[i]:+BROKEN: ${problems[i]}}
    [[ -z $status && -n ${reasons[i]} ]] && status="excluded: ${reasons[i]}"
    printf '%3d %-7s %-38s %s  [%s]%s\n' $((i + 1)) "${wheres[i]}" "${names[i]}" "${files[i]}" "${tests[i]}" \
      "${status:+  $status}"
  done
  exit 0
fi
((${#selected[@]})) || { echo "mutation-check: no entry matches '$only'" >&2; exit 2; }

# --- Putting the sources back. The copy lives in the build folder, so that a
# run that was killed is undone by the next one.
state=$build/mutation
mkdir -p "$state/logs"
changed=""  # the file (relative to top) that holds a fault right now
restore() {
  [[ -n $changed ]] || return 0
  cp "$state/original" "$top/$changed"  # a new mtime: the next build compiles it again
  changed=""
  rm -f "$state/pending"
}
# Builds and tests run in a process group of their own (setsid): an
# interrupted check ends them with all they started, instead of leaving a
# ctest behind that meets the next run in the same build folder.
child=""
run_child() {
  local log=$1 status; shift
  setsid -w nice -n "$nice_level" "$@" >"$log" 2>&1 &
  child=$!
  wait "$child"; status=$?
  child=""
  return "$status"
}
trap restore EXIT
trap '[[ -n $child ]] && kill -TERM -- "-$child" 2>/dev/null; restore; echo
      echo "mutation-check: interrupted, sources restored" >&2; exit 130' INT TERM HUP
if [[ -f $state/pending ]]; then
  left=$(cat "$state/pending")
  if cmp -s "$state/mutated" "$top/$left"; then
    cp "$state/original" "$top/$left" && echo "put back $left, left changed by an earlier run that was ended"
  elif ! cmp -s "$state/original" "$top/$left"; then
    echo "mutation-check: $left was left changed by an earlier run and has been edited since; compare it" \
      "with $state/original, then remove $state/pending" >&2
    exit 2
  fi
  rm -f "$state/pending"
fi

build_dir() { if [[ $1 == windows ]]; then echo "$windows_build"; else echo "$build"; fi; }
# Builds one tree incrementally (configured at the first build); the log goes to $2.
build_tree() {
  if [[ $1 == windows ]]; then
    run_child "$2" env ORU_WINDOWS_BUILD_DIR="$windows_build" ORU_CMAKE_ARGS="-DORU_LINUX_BUILD_DIR=$build" \
      "$top/scripts/build-windows.sh"
  else
    run_child "$2" env ORU_BUILD_DIR="$build" ORU_CMAKE_ARGS="-DORU_BUILD_BENCH=OFF" "$top/scripts/build.sh"
  fi
}
# Runs ctest in a tree (log $2, then ctest's arguments); new_failures gets the
# failed tests that passed in the baseline. Status 0 when there are none.
declare -A known_failures=()
new_failures=() failures_text=""
run_tests() {
  local dir log=$2 status failed; dir=$(build_dir "$1"); shift 2
  rm -f "$dir/Testing/Temporary/LastTestsFailed.log"
  run_child "$log" ctest --test-dir "$dir" --timeout "$test_timeout" -j "$jobs" --output-on-failure "$@"
  status=$?
  new_failures=()
  if [[ -f $dir/Testing/Temporary/LastTestsFailed.log ]]; then
    while IFS= read -r failed; do
      failed=${failed#*:}  # "<number>:<name>"
      [[ -n ${known_failures[$failed]:-} ]] || new_failures+=("$failed")
    done <"$dir/Testing/Temporary/LastTestsFailed.log"
  elif ((status != 0)); then
    new_failures=("ctest failed without naming a test (see $log)")
  fi
  failures_text=$(printf '%s; ' "${new_failures[@]}"); failures_text=${failures_text%; }
  ((${#new_failures[@]} == 0))
}
count_tests() { ctest --test-dir "$(build_dir "$1")" -N "${@:2}" 2>/dev/null | sed -n 's/^Total Tests: //p'; }

# --- The unchanged trees: built, and their tests run once (the baseline).
# Linux is built also for Windows entries alone: replay_windows_test compares with its oru-replay.
declare -A entries_of=()
for i in "${selected[@]}"; do entries_of[${wheres[i]}]=1; done
wheres_used=(linux)
[[ -n ${entries_of[windows]:-} ]] && wheres_used+=(windows)
start=$SECONDS
for where in "${wheres_used[@]}"; do
  echo "== $where: building the unchanged sources in $(build_dir "$where")"
  build_tree "$where" "$state/logs/$where-build.log" || {
    tail -20 "$state/logs/$where-build.log"; echo "mutation-check: the unchanged sources don't build" >&2; exit 2; }
  ((baseline)) && [[ -n ${entries_of[$where]:-} ]] || continue
  echo "== $where: the baseline (the tests on the unchanged sources)"
  union="" suite=("${linux_suite[@]}") where_args=()
  [[ $where == windows ]] && suite=(-L windows) where_args=(-L windows)
  for i in "${selected[@]}"; do
    [[ ${wheres[i]} == "$where" && -n ${tests[i]} ]] && union+="${union:+|}(${tests[i]})"
  done
  for run in suite named; do
    if [[ $run == suite ]]; then args=("${suite[@]}"); else args=("${where_args[@]}" -R "$union"); fi
    run_tests "$where" "$state/logs/$where-baseline-$run.log" "${args[@]}" && continue
    echo "   failing without any fault, left out of the verdicts: $failures_text"
    for failed in "${new_failures[@]}"; do known_failures[$failed]=1; done
  done
done

# --- The faults, one at a time: Linux first, then the Windows ones.
applied=0 by_tests=0 by_suite=0 by_compiler=0 excluded=0 broken=0
survivors=() suite_only=() broken_list=() excluded_list=()
rebuilt_linux=0
for where in linux windows; do
  for i in "${selected[@]}"; do
    [[ ${wheres[i]} == "$where" ]] || continue
    entry_start=$SECONDS
    label=$(printf '%3d %-38s' $((i + 1)) "${names[i]}")
    where_args=() suite=("${linux_suite[@]}")
    [[ $where == windows ]] && where_args=(-L windows) suite=(-L windows)
    if [[ -z ${problems[i]} && "$(count_tests "$where" "${where_args[@]}" -R "${tests[i]}")" == 0 ]]; then
      problems[i]="no test matches '${tests[i]}'"
    fi
    if [[ -n ${problems[i]} ]]; then
      broken=$((broken + 1)); broken_list+=("$label ${problems[i]}")
      echo "$label BROKEN ENTRY: ${problems[i]}"; continue
    fi
    if [[ -n ${reasons[i]} ]]; then
      excluded=$((excluded + 1)); excluded_list+=("$label ${reasons[i]}")
      echo "$label excluded: ${reasons[i]}"; continue
    fi
    # replay_windows_test compares with the Linux build's oru-replay: rebuilt unchanged first.
    if [[ $where == windows && $rebuilt_linux == 0 ]]; then
      build_tree linux "$state/logs/linux-rebuild.log"; rebuilt_linux=1
    fi
    # The changed file is made aside first: whenever "pending" exists, both copies are whole.
    log=$state/logs/$(printf '%03d' $((i + 1)))-${names[i]}
    cp "$top/${files[i]}" "$state/original" && cp "$top/${files[i]}" "$state/mutated" &&
      fixed_text apply "$state/mutated" "${patterns[i]}" "${replacements[i]}" || {
      echo "mutation-check: cannot change ${files[i]} (copies in $state)" >&2; exit 2; }
    echo "${files[i]}" >"$state/pending"
    changed=${files[i]}
    cp "$state/mutated" "$top/${files[i]}"
    applied=$((applied + 1))
    if ! build_tree "$where" "$log.build.log"; then
      verdict="caught by the compiler (better: a fault that compiles)"; by_compiler=$((by_compiler + 1))
    elif ! run_tests "$where" "$log.tests.log" "${where_args[@]}" -R "${tests[i]}"; then
      verdict="caught by named tests: $failures_text"; by_tests=$((by_tests + 1))
    elif ! run_tests "$where" "$log.suite.log" "${suite[@]}"; then
      verdict="caught by suite only: $failures_text"; by_suite=$((by_suite + 1)); suite_only+=("$label $failures_text")
    else
      verdict="SURVIVED"
      survivors+=("$label ${files[i]}: '${patterns[i]}' -> '${replacements[i]}' [${tests[i]}]")
    fi
    restore
    ((${#verdict} > 200)) && verdict="${verdict:0:200}..."
    echo "$label $verdict ($((SECONDS - entry_start)) s)"
  done
done
# Leaves the trees built from the unchanged sources.
if ((applied)); then
  for where in "${wheres_used[@]}"; do build_tree "$where" "$state/logs/$where-final-build.log"; done
fi

# --- The summary.
caught=$((by_tests + by_suite + by_compiler))
echo
echo "== ${#selected[@]} entries: $applied applied, $excluded excluded, $broken broken ($(((SECONDS - start) / 60)) min)"
ok=1
if ((applied)); then
  permille=$((caught * 1000 / applied))
  echo "caught $caught of $applied: $((permille / 10)).$((permille % 10)) % (named tests $by_tests, suite only" \
    "$by_suite, compiler $by_compiler); at least 95 % wanted"
  ((caught * 100 >= 95 * applied)) || ok=0
fi
((${#suite_only[@]})) && { echo "caught by the suite only (name these tests in the entry):"; printf '  %s\n' "${suite_only[@]}"; }
((${#survivors[@]})) && { echo "survivors:"; printf '  %s\n' "${survivors[@]}"; }
((${#excluded_list[@]})) && { echo "excluded:"; printf '  %s\n' "${excluded_list[@]}"; }
((${#broken_list[@]})) && { echo "broken entries (fix them in $list):"; printf '  %s\n' "${broken_list[@]}"; ok=0; }
((ok))
