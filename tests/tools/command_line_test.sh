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
done
check "nothing made in the user's folders" test -z "$(ls -A "$work" | grep -v -e '^out$' -e '^err$')"
echo "$# programs checked, $failures failures"
((failures == 0))
