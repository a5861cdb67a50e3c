# Sourced by the program tests of this folder once their arguments are read:
# a scratch folder $work, removed at the exit together with every process the
# test put in pids (sent kill_signal: TERM unless the test set another), and
# the failing and polling every test does. A desktop's session bus must not
# lend a test its StatusNotifier host or other services, so none is reachable.

# The whole test runs in a lock world of its own: neither the user's running
# driver nor another test run's makes its drivers end as second instances.
[[ ${ORU_OWN_LOCK_WORLD:-} == "$(id -u)" ]] ||
  exec "${BASH_SOURCE[0]%/*}/../../testing/own-lock-world.sh" "$0" "$@"

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -"${kill_signal:-TERM}" "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # A test may leave folders without write permission behind.
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/oru-test

# held_lock_note: names every process that holds a single-instance lock a
# driver started now would take: such a driver ends at once, silently.
held_lock_note() {
  local f dev ino file holder
  for f in "${XDG_RUNTIME_DIR:-/nonexistent}/oruDriver.lock" "/run/user/$(id -u)/oruDriver.lock"; do
    read -r dev ino < <(stat -c '%d %i' "$f" 2>/dev/null) || continue
    # /proc/locks: "1: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF", major and minor in hex.
    printf -v file '%02x:%02x:%s' $(((dev >> 8 & 0xfff) | (dev >> 32 & ~0xfff))) \
      $(((dev & 0xff) | (dev >> 12 & ~0xff))) "$ino"
    holder=$(awk -v f="$file" '$2 == "FLOCK" && $6 == f { print $5; exit }' /proc/locks)
    [[ -n $holder ]] && echo "  note: process $holder holds the single-instance lock $f; a driver started beside it ends at once, silently, as a second instance" >&2
  done
  return 0
}
# fail MESSAGE: ends the test, with the driver's log ($log) when it has one.
fail() { echo "FAIL: $*" >&2; [[ -f ${log:-} ]] && sed 's/^/  driver: /' "$log" >&2; held_lock_note; exit 1; }
# wait_for SECONDS COMMAND...: polls until the command succeeds, every
# poll_seconds (0.1 unless the test set another).
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep "${poll_seconds:-0.1}"
  done
}
gone() { ! kill -0 "$1" 2>/dev/null; }
# geometry WINDOW: "x y width height map-state" of an X window.
geometry() {
  xwininfo -id "$1" 2>/dev/null |
    awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF}
         /Map State/{m=$NF} END{print x + 0, y + 0, w + 0, h + 0, m}'
}
# The driver's mapped windows: "id x y width height", one per line.
driver_windows() {
  local w x y width height map
  for w in $(xdotool search --classname oru-driver 2>/dev/null); do
    read -r x y width height map < <(geometry "$w")
    [[ $map == IsViewable ]] && echo "$w $x $y $width $height"
  done
  return 0
}
calibration_up() { xdotool search --onlyvisible --name '^CalibrationForm$' >/dev/null 2>&1; }
calibration_gone() { ! calibration_up; }
# An error box: a mapped window of the driver wider than its menu.
box_up() { driver_windows | awk '$4 > 150 && $5 > 60 { found = 1 } END { exit !found }'; }

said() { grep -qs -- "$1" "$log"; }
# fresh_account NAME: a fresh account below $work: private runtime folder,
# empty home, writable settings; the driver's log goes to $log.
fresh_account() {
  local dir=$work/$1
  mkdir -p "$dir/run" "$dir/home" "$dir/config"
  chmod 700 "$dir/run"
  export XDG_RUNTIME_DIR=$dir/run HOME=$dir/home XDG_CONFIG_HOME=$dir/config
  unset XDG_CACHE_HOME
  log=$dir/driver.log
}
# run_cases NAME: runs each entry of cases ("function|title") in its own
# shell, so that its environment and processes go with it; fails the test
# when any case failed.
run_cases() {
  local entry case title failed=0
  for entry in "${cases[@]}"; do
    IFS='|' read -r case title <<<"$entry"
    echo "-- $title"
    (
      pids=()
      trap 'for p in "${pids[@]}"; do kill -"${kill_signal:-TERM}" "$p" 2>/dev/null || true; done
            { wait; } 2>/dev/null' EXIT
      "$case"
    ) || failed=$((failed + 1))
  done
  ((failed == 0)) || { echo "$failed of ${#cases[@]} cases failed" >&2; exit 1; }
  echo "$1 passed"
}
