#!/usr/bin/env bash
# Every program answers --help and --version without starting anything, and
# refuses an unknown option with its usage on stderr and status 2.
# usage: command_line_test.sh VERSION PROGRAM...
set -uo pipefail
version=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Nothing may be made in the user's folders, nor a display or tracker touched.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/run
unset DISPLAY WAYLAND_DISPLAY
failures=0
check() {  # check WHAT CONDITION...
  local what=$1; shift
  if ! "$@"; then echo "FAIL: $what"; failures=$((failures + 1)); fi
}
for program in "$@"; do
  name=$(basename "$program")
  for args in "--help" "-h" "--version" "--bogus" "--help --bogus" "--version extra"; do
    # shellcheck disable=SC2086
    "$program" $args >"$work/out" 2>"$work/err" </dev/null
    status=$?
    case $args in
      --help* | -h)
        check "$name $args: status $status" test "$status" -eq 0
        check "$name $args: usage on stdout" grep -q "^usage: $name" "$work/out"
        check "$name $args: stderr empty" test ! -s "$work/err" ;;
      --version*)
        check "$name $args: status $status" test "$status" -eq 0
        check "$name $args: version" test "$(cat "$work/out")" = "$name $version" ;;
      *)
        check "$name $args: status $status" test "$status" -eq 2
        check "$name $args: usage on stderr" grep -q "^usage: $name" "$work/err"
        check "$name $args: stdout empty" test ! -s "$work/out" ;;
    esac
  done
  # An answer that can't be written is a failure, said on stderr: a full
  # device, and a closed stdout (which no file the program opens may take).
  for args in "--help" "--version"; do
    for sink in full closed; do
      if [[ $sink == full ]]; then "$program" $args >/dev/full 2>"$work/err" </dev/null
      else "$program" $args >&- 2>"$work/err" </dev/null; fi
      status=$?
      check "$name $args to a $sink stdout: status $status, expected 1" test "$status" -eq 1
      check "$name $args to a $sink stdout: says why on stderr" grep -q "^$name: cannot write .* standard output" "$work/err"
    done
  done
done
check "nothing made in the user's folders" test -z "$(ls -A "$work" | grep -v -e '^out$' -e '^err$')"
echo "$# programs checked, $failures failures"
((failures == 0))
