#!/usr/bin/env bash
# The driver without a tray host, reached over a private session bus as the
# desktop entry's actions reach it: it tells once, by a desktop notification,
# where "Kalibre" and "Çıkış" are; `--calibrate` opens the calibration window
# (and starts a driver when none runs); `--quit` ends it with status 0 after
# it saved; `--quit` with none running and both commands without a bus say so
# with their own status. Run under xvfb-run (no tray host).
set -euo pipefail

driver=${1:?usage: program_bus_test.sh DRIVER NOTIFICATIONS_STANDIN}
standin=${2:?}
kill_signal=KILL
source "${BASH_SOURCE[0]%/*}/program_test_common.sh"
export QT_QPA_PLATFORM=xcb

# A bus of the test's own: no service folders, so nothing of this machine is
# started on demand (a real notification daemon would answer instead of the
# stand-in).
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
exec 3>"$work/bus.address"
# (As root it says it may not raise its file limit: kept in its log.)
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 2>"$work/bus.log" &
exec 3>&-
pids+=($!)
wait_for 10 test -s "$work/bus.address" || fail "the private session bus did not start"
bus=$(head -n1 "$work/bus.address")
export DBUS_SESSION_BUS_ADDRESS=$bus

# The driver's name on the bus.
driver_on_bus() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.oruDriver.Driver 2>/dev/null | grep -q 'boolean true'
}
# An account whose store holds a calibration, so that a plain start opens no window.
calibrated_account() {
  fresh_account "$1"
  : >"$log"
  store=$XDG_CONFIG_HOME/oruDriver/store.conf
  mkdir -p "${store%/*}"
  printf '[Software\\oruDriver]\n"FormVersion" = int 0\n' >"$store"
  local i texts=(100 -150 550 -160 110 -500 540 -510)
  for i in {0..7}; do printf '"Edit%d_Text" = text "%s"\n' $((i + 1)) "${texts[i]}" >>"$store"; done
}
start_driver() {
  "$driver" "$@" 2>>"$log" &
  pid=$!
  pids+=("$pid")
  wait_for 20 driver_on_bus || fail "the driver's name did not come on the bus"
}
# run_command OPTION STATUS [SAID]: runs `oru-driver OPTION` to its end; its exit
# status must be STATUS and its stderr hold SAID.
run_command() {
  local s=0
  timeout 90 "$driver" "$1" 2>"$work/command.err" || s=$?
  ((s == $2)) || fail "oru-driver $1: exit status $s, expected $2 ($(cat "$work/command.err"))"
  [[ -z ${3:-} ]] || grep -q -- "$3" "$work/command.err" || fail "oru-driver $1 does not say '$3': $(cat "$work/command.err")"
}
# quit_ends_and_saves: `--quit` returns once the driver has ended with status 0
# and written its store anew, calibration and all.
quit_ends_and_saves() {
  local before s=0
  before=$(stat -c %i "$store")
  run_command --quit 0
  # Ended, if not yet reaped.
  [[ $(ps -o stat= -p "$pid") == Z* ]] || gone "$pid" || fail "--quit returned while the driver still runs"
  wait "$pid" || s=$?
  ((s == 0)) || fail "the driver ended with status $s"
  [[ $(stat -c %i "$store") != "$before" ]] || fail "the store was not saved at the end"
  grep -q '"Edit2_Text" = text "-150"' "$store" || fail "the saved store lost the calibration"
  [[ -z $(find "${store%/*}" -name '*.tmp-*') ]] || fail "a temporary file was left"
}

no_tray_notice_calibrate_and_quit() {
  calibrated_account notice
  local record=$work/notifications
  : >"$record"
  "$standin" "$record" &
  pids+=($!)
  wait_for 10 bash -c "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications | grep -q 'boolean true'" ||
    fail "the stand-in notification service did not start"
  local started=$SECONDS
  start_driver
  calibration_gone || fail "a calibration window opened with a calibration stored"
  # A plain second start still ends at once, silently.
  local s=0
  timeout 30 "$driver" 2>"$work/second.err" || s=$?
  ((s == 0)) && [[ ! -s $work/second.err ]] || fail "a second start: status $s, stderr '$(cat "$work/second.err")'"
  kill -0 "$pid" || fail "the first driver ended with the second start"
  # The notice comes after the grace for a tray host that starts beside the driver.
  wait_for 40 test -s "$record" || fail "no notification without a tray host"
  ((SECONDS - started >= 9)) || fail "the notice came $((SECONDS - started)) s after the start, before the grace"
  IFS=$'\t' read -r app icon summary body <"$record"
  [[ $app == oruDriver && $icon == oru-driver && -n $summary ]] || fail "notification from '$app', icon '$icon'"
  local word
  for word in '"Kalibre"' '"Çıkış"' 'oru-driver --calibrate' 'oru-driver --quit'; do
    [[ $body == *"$word"* ]] || fail "the notification does not name $word: $body"
  done
  # "Kalibre" over the bus; a second one while the window is up opens no second window.
  run_command --calibrate 0
  wait_for 15 calibration_up || fail "--calibrate opened no calibration window"
  run_command --calibrate 0
  (($(xdotool search --onlyvisible --name '^CalibrationForm$' | wc -l) == 1)) || fail "a second calibration window"
  xdotool key Escape
  wait_for 10 calibration_gone || fail "ESC did not close the calibration window"
  quit_ends_and_saves
  (($(wc -l <"$record") == 1)) || fail "$(wc -l <"$record") notifications, expected one"
}

calibrate_starts_a_driver() {
  calibrated_account start
  start_driver --calibrate
  wait_for 15 calibration_up || fail "--calibrate with no driver running started none that calibrates"
  # "Çıkış" while the calibration runs: the stored calibration stays.
  quit_ends_and_saves
}

commands_that_find_no_driver() {
  calibrated_account none
  run_command --quit 3 "no driver of this user runs"
  # No address at all: no bus is started for the command (libdbus's autolaunch).
  local launched
  launched=$(pgrep -c -x 'dbus-launch|dbus-daemon' || true)
  (unset DBUS_SESSION_BUS_ADDRESS; run_command --quit 4 "DBUS_SESSION_BUS_ADDRESS is not set")
  (($(pgrep -c -x 'dbus-launch|dbus-daemon' || true) == launched)) || fail "a command without a bus address started a bus"
  # Without a bus --calibrate still starts a driver that calibrates; it holds
  # the lock, so a second --calibrate knows it runs, and neither command can
  # reach it.
  DBUS_SESSION_BUS_ADDRESS=unix:path=$work/nobus "$driver" --calibrate 2>>"$log" &
  pid=$!
  pids+=("$pid")
  wait_for 20 said "no D-Bus session bus" || fail "a driver without a bus does not say so"
  wait_for 15 calibration_up || fail "--calibrate without a bus started no driver that calibrates"
  local option
  for option in --quit --calibrate; do
    DBUS_SESSION_BUS_ADDRESS=unix:path=$work/nobus run_command "$option" 4 "no D-Bus session bus"
    # From the session bus: it runs, but nothing reaches it.
    run_command "$option" 5 "started without a session bus"
  done
  kill -0 "$pid" || fail "the driver without a bus ended"
}

# Whoever owns the driver's name without holding the lock is never believed.
squatter_is_not_the_driver() {
  calibrated_account squat
  "$standin" --squat &
  pids+=($!)
  wait_for 10 driver_on_bus || fail "the squatter did not take the name"
  run_command --quit 3 "answers in the driver's name, but it is not the driver"
  "$driver" 2>>"$log" &
  pid=$!
  pids+=("$pid")
  wait_for 20 said "belongs to another process (process [0-9]* (oru-notificati" || fail "the driver does not name the squatter"
  run_command --calibrate 5 "answers in its name; nothing was sent"
  run_command --quit 5 "answers in its name; nothing was sent"
  calibration_gone && kill -0 "$pid" || fail "a command reached the driver through the squatter"
}

# --quit while the driver has the lock but is not yet on the bus waits for it.
quit_while_starting() {
  calibrated_account starting
  local s=0
  "$driver" 2>>"$log" &
  pid=$!
  pids+=("$pid")
  timeout 90 "$driver" --quit 2>"$work/command.err" || s=$?
  ((s == 0)) || fail "--quit at the driver's start: status $s ($(cat "$work/command.err"))"
  wait_for 5 gone "$pid" || fail "--quit returned 0 while the driver runs"
}

# A command while the driver ends (its failed save's box up): --calibrate
# says so and, once that driver has ended, starts one that calibrates.
commands_while_ending() {
  fresh_account ending
  rmdir "$XDG_CONFIG_HOME"; touch "$XDG_CONFIG_HOME"
  start_driver
  wait_for 15 calibration_up || fail "no calibration window at the first start"
  xdotool key Escape
  wait_for 10 calibration_gone || fail "ESC did not close the calibration window"
  local ending=$pid
  # "Çıkış" and "Kalibre" at once: a "Kalibre" taken just before the end
  # began must not run during the end.
  "$standin" --quit-and-calibrate
  wait_for 20 box_up || fail "no error box at the end with a failing save"
  calibration_gone || fail "a command taken as the end began calibrates during the end"
  "$driver" --calibrate 2>"$work/calibrate.err" &
  pids+=($!)
  wait_for 20 grep -q "is ending; a new driver that calibrates starts" "$work/calibrate.err" ||
    fail "--calibrate during the end: $(cat "$work/calibrate.err")"
  kill -TERM "$ending"
  wait_for 20 calibration_up || fail "no driver calibrates after the ending one: $(cat "$work/calibrate.err")"
}

cases=("no_tray_notice_calibrate_and_quit|no tray host: one notice, --calibrate, a second start, --quit"
       "calibrate_starts_a_driver|--calibrate with none running starts one that calibrates; --quit ends it"
       "commands_that_find_no_driver|--quit with none running; without a bus: --calibrate starts one, then can't reach it"
       "squatter_is_not_the_driver|a process that owns the driver's name is not believed"
       "quit_while_starting|--quit at the driver's start waits for it"
       "commands_while_ending|--calibrate while the driver ends starts one that calibrates")
run_cases "program bus test"
