#!/usr/bin/env bash
# The driver's start and end as a careless user and a hostile environment
# bring them about, one process per row: no display, root with a user's HOME,
# a broken XDG_RUNTIME_DIR with two instances, another user's folder planted
# where the lock's shared folder goes, a driver of the same user already
# running, and ends whose save fails (signals, "Çıkış" with its error box,
# then a signal). Run under xvfb-run.
set -euo pipefail

driver=${1:?usage: program_start_end_test.sh DRIVER}
kill_signal=KILL
source "${BASH_SOURCE[0]%/*}/program_test_common.sh"
export QT_QPA_PLATFORM=xcb

# status PID: the exit status of an ended driver (128 + n when signal n ended it).
status() { local s=0; wait "$1" || s=$?; echo "$s"; }
start_driver() {
  "$driver" 2>>"$log" &
  pid=$!
  pids+=("$pid")
}
# Past the lock and the application's start (the offscreen platform says it has no pointer).
started() { said "has no pointer injection"; }

ended_or_box() { gone "$pid" || box_up; }
# A first start: the calibration comes up at once; Escape ends it.
escape_first_calibration() {
  wait_for 15 calibration_up || fail "no calibration window at the first start"
  until calibration_gone; do
    xdotool key Escape
    wait_for 1 calibration_gone || true
  done
}

no_display() {
  fresh_account display
  local row name environment message s
  local rows=("no display|env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM|graphical session"
              "unreachable display|env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:31999|cannot open the X display")
  for row in "${rows[@]}"; do
    IFS='|' read -r name environment message <<<"$row"
    : >"$log"
    s=0; $environment "$driver" 2>>"$log" || s=$?
    ((s == 1)) || fail "$name: exit status $s, expected 1"
    said "$message" || fail "$name: stderr does not say '$message'"
  done
  : >"$log"
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$driver" 2>>"$log" &
  pid=$!; pids+=("$pid")
  wait_for 15 started || fail "offscreen without DISPLAY did not start"
  kill -TERM "$pid"
  wait_for 10 gone "$pid" || fail "offscreen driver did not end on SIGTERM"
  s=$(status "$pid"); ((s == 0)) || fail "offscreen driver exit status $s"
}

root_with_users_home() {
  ((EUID == 0)) || { echo "   (skipped: needs root)"; return 0; }
  fresh_account root
  chown 65534:65534 "$HOME"
  export XDG_CONFIG_HOME=$HOME/.config
  start_driver
  wait_for 10 gone "$pid" || fail "root with another user's HOME started"
  local s made
  s=$(status "$pid"); ((s == 1)) || fail "exit status $s, expected 1"
  said "refusing to run as root" || fail "no reason given on stderr"
  made=$(find "$HOME" "$XDG_RUNTIME_DIR" -mindepth 1)
  [[ -z $made ]] || fail "made before refusing: $made"
}

broken_runtime_dir() {
  export QT_QPA_PLATFORM=offscreen
  local row name runtime first second s
  local rows=("a regular file|file" "unwritable|/proc" "relative|run")
  for row in "${rows[@]}"; do
    IFS='|' read -r name runtime <<<"$row"
    fresh_account "runtime-${runtime//\//}"
    touch "$work/runtime-${runtime//\//}/file"
    [[ $runtime == file ]] && runtime=$work/runtime-file/file
    export XDG_RUNTIME_DIR=$runtime
    start_driver; first=$pid
    wait_for 15 started || fail "$name: the first instance did not start"
    start_driver; second=$pid
    wait_for 10 gone "$second" || fail "$name: a second instance runs beside the first"
    s=$(status "$second"); ((s == 0)) || fail "$name: second instance exit status $s"
    kill -0 "$first" || fail "$name: the first instance died"
    kill -TERM "$first"
    wait_for 10 gone "$first" || fail "$name: the first instance did not end on SIGTERM"
    s=$(status "$first"); ((s == 0)) || fail "$name: first instance exit status $s"
  done
}

# Another user's folder at /tmp/oruDriver-<uid> (as root: a tmpfs of uid
# 65534 mounted there in this test's namespace) neither stops a start nor
# lets a start without XDG_RUNTIME_DIR run beside one with it; the driver
# names the folder on stderr.
planted_tmp_folder() {
  ((EUID == 0)) || { echo "   needs root to plant another user's folder: skipped"; return 0; }
  export QT_QPA_PLATFORM=offscreen
  local folder=/tmp/oruDriver-$EUID made= first firstLog s
  [[ -e $folder ]] || { mkdir -m 0700 "$folder"; made=1; }
  mount -t tmpfs -o uid=65534,gid=65534,mode=0755,size=64k planted "$folder"
  trap 'umount "$folder"; [[ -z $made ]] || rmdir "$folder"' RETURN
  fresh_account planted-first
  start_driver; first=$pid firstLog=$log
  wait_for 15 started || fail "the first instance did not start beside the planted folder"
  said "'$folder' belongs to uid 65534" || fail "the driver did not name the planted folder on stderr"
  fresh_account planted-second
  unset XDG_RUNTIME_DIR
  start_driver
  wait_for 10 gone "$pid" || { log=$firstLog; fail "a start without XDG_RUNTIME_DIR runs beside one with it"; }
  s=$(status "$pid"); ((s == 0)) || fail "second instance exit status $s"
  kill -TERM "$first"
  wait_for 10 gone "$first" || fail "the first instance did not end on SIGTERM"
}

# The user's driver runs (here: one started in this test's lock world); a
# test's driver started through testing/own-lock-world.sh runs beside it,
# while one started in the same world ends at once and held_lock_note names
# the running one.
beside_a_running_driver() {
  export QT_QPA_PLATFORM=offscreen
  local running s
  fresh_account desktop
  start_driver; running=$pid
  wait_for 15 started || fail "the user's driver did not start"
  fresh_account test-run
  (unset ORU_OWN_LOCK_WORLD; exec "${BASH_SOURCE[0]%/*}/../../testing/own-lock-world.sh" "$driver" 2>>"$log") &
  pid=$!
  pids+=("$pid")
  wait_for 15 started || fail "a test's driver in a lock world of its own did not start beside the user's driver"
  kill -TERM "$pid"
  wait_for 10 gone "$pid" || fail "the test's driver did not end on SIGTERM"
  fresh_account same-world
  start_driver
  wait_for 10 gone "$pid" || fail "a driver in the same lock world runs beside the user's"
  s=$(status "$pid"); ((s == 0)) || fail "second instance exit status $s"
  held_lock_note 2>&1 | grep -q "process $running holds" || fail "held_lock_note did not name the running driver"
  kill -TERM "$running"
  wait_for 10 gone "$running" || fail "the user's driver did not end on SIGTERM"
}

signal_end_with_failing_save() {
  local signal note s
  for signal in TERM INT HUP; do
    fresh_account "signal-$signal"
    rmdir "$XDG_CONFIG_HOME"; touch "$XDG_CONFIG_HOME"  # no settings folder can be made
    start_driver
    escape_first_calibration
    kill "-$signal" "$pid"
    wait_for 10 ended_or_box || true
    if ! gone "$pid"; then
      box_up && note="an error box holds the end" || note="the end did not finish"
      kill "-$signal" "$pid"
      wait_for 10 gone "$pid" || fail "SIG$signal: $note; the driver ignores a second SIG$signal"
      fail "SIG$signal: $note; after a second SIG$signal: exit status $(status "$pid")"
    fi
    s=$(status "$pid"); ((s == 0)) || fail "SIG$signal: exit status $s"
    said "were not saved at the end" || fail "SIG$signal: the failed save is not on stderr"
  done
}

# The tray icon: the driver's small docked window; its menu: a wider one.
icon() { driver_windows | awk '$4 <= 32 && $5 <= 32 { print; exit }' | grep .; }
menu() { driver_windows | awk '$4 > 32 && $4 <= 150 { print; exit }' | grep .; }

signal_during_exit_box() {
  fresh_account exit-box
  rmdir "$XDG_CONFIG_HOME"; touch "$XDG_CONFIG_HOME"
  trayer --edge top --align right --widthtype request --height 24 --transparent false --SetDockType true &
  pids+=($!)
  start_driver
  escape_first_calibration
  local x y width height s
  wait_for 10 icon >/dev/null || fail "the icon did not dock in the tray"
  read -r _ x y width height < <(icon)
  xdotool mousemove $((x + width / 2)) $((y + height / 2)) click 3
  wait_for 10 menu >/dev/null || fail "the tray menu did not open"
  # "Çıkış" is the last entry, at the menu's bottom.
  read -r _ x y width height < <(menu)
  xdotool mousemove $((x + width / 2)) $((y + height - 11)) click 1
  wait_for 10 box_up || fail "no error box after \"Çıkış\" with a failing save"
  kill -TERM "$pid"
  wait_for 5 gone "$pid" || fail "SIGTERM did not end the driver while the box was up"
  s=$(status "$pid")
  ((s == 128 + 15)) || fail "exit status $s, expected 143 (an exit, not a crash)"
  said "ending at once" || fail "the driver did not say it ends at once"
}

# Started with stdin and stderr closed (as some session starters do): the
# quit pipe must not take their numbers, or the first stderr line (here the
# damaged machine calibration's) would end the driver.
closed_standard_descriptors() {
  fresh_account closed-fds
  mkdir -p "$work/xdg-damaged/oruDriver"
  echo garbage >"$work/xdg-damaged/oruDriver/store.conf"
  chmod 644 "$work/xdg-damaged/oruDriver/store.conf"
  XDG_CONFIG_DIRS=$work/xdg-damaged "$driver" <&- 2>&- &
  pid=$!; pids+=("$pid")
  wait_for 15 calibration_up || fail "no calibration window at the first start (ended: $(gone "$pid" && echo yes))"
  local fd
  for fd in 0 2; do
    [[ $(readlink "/proc/$pid/fd/$fd") == /dev/null ]] || fail "fd $fd is $(readlink "/proc/$pid/fd/$fd"), not /dev/null"
  done
  kill -0 "$pid" || fail "the driver ended"
}

cases=("no_display|without a graphical session the driver says so and exits 1"
       "root_with_users_home|root with another user's HOME refuses before it makes anything"
       "broken_runtime_dir|a broken XDG_RUNTIME_DIR still allows one instance only"
       "planted_tmp_folder|a folder another user planted in /tmp switches off no lock and is named on stderr"
       "beside_a_running_driver|a test's driver in a lock world of its own runs beside the user's driver"
       "signal_end_with_failing_save|an end by signal whose save fails ends, and says why on stderr"
       "signal_during_exit_box|a signal while the error box of \"Çıkış\" is up ends the driver at once, cleanly"
       "closed_standard_descriptors|started with stdin and stderr closed, the driver runs on with them on /dev/null")
run_cases "program start and end test"
