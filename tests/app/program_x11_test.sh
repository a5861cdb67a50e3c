#!/usr/bin/env bash
# The whole driver on a private X server with a tray host, used as a person
# would: it starts, docks its square in the tray, a right press opens the
# menu, "Çıkış" ends it; a second instance exits at once; the icon comes back
# after the tray host restarts. Run under xvfb-run; screenshots are kept in
# $ARTIFACTS.
set -euo pipefail

driver=${1:?usage: program_x11_test.sh DRIVER ARTIFACTS_DIR}
ARTIFACTS=${2:?}
mkdir -p "$ARTIFACTS"
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config HOME=$work/home
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"
# A desktop's StatusNotifier host must not take the icon away from this display.
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/oru-test QT_QPA_PLATFORM=xcb

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}
shot() { import -window root "$ARTIFACTS/$1.png"; }
# Pixels of one colour in the top strip where trayer sits: "count minx miny".
colour_box() {
  import -window root "$work/strip.png"
  convert "$work/strip.png" -crop 1280x40+0+0 txt:- |
    awk -v c="$1" 'index($0, c) { split($1, xy, /[,:]/); n++; if (!minx || xy[1] < minx) minx = xy[1];
                                  if (!miny || xy[2] < miny) miny = xy[2] } END { print n + 0, minx + 0, miny + 0 }'
}
has_colour() { local n; read -r n _ < <(colour_box "$1"); ((n >= 100)); }
start_trayer() {
  trayer --edge top --align right --widthtype request --height 24 --transparent false --SetDockType true &
  trayer_pid=$!
  pids+=("$trayer_pid")
}

start_trayer
sleep 0.5
"$driver" 2>"$work/driver.log" &
driver_pid=$!
pids+=("$driver_pid")

# Nothing stored yet: the calibration window comes up at once over the screen.
wait_for 10 bash -c "xdotool search --name '^CalibrationForm$' >/dev/null" || fail "no calibration window at the first start"
sleep 0.7
shot program-first-calibration

# A second instance ends at once and leaves the first alone.
start=$SECONDS
"$driver" || fail "second instance exited non-zero"
((SECONDS - start <= 2)) || fail "second instance took too long"
kill -0 "$driver_pid" || fail "first instance died"

# ESC cancels; the square is blue after a first-start calibration.
xdotool key Escape
wait_for 10 has_colour '#0000FF' || { shot program-no-blue; fail "no blue square docked in the tray"; }
shot program-tray-blue

# The tray host restarts: the icon docks again.
kill "$trayer_pid"; wait "$trayer_pid" 2>/dev/null || true
start_trayer
wait_for 10 has_colour '#0000FF' || { shot program-no-redock; fail "icon did not come back after the tray host restarted"; }
shot program-tray-redocked

# A right press on the icon opens the menu; "Çıkış" (the last entry) ends the driver.
read -r _ x y < <(colour_box '#0000FF')
xdotool mousemove $((x + 8)) $((y + 8)) mousedown 3
sleep 0.5
shot program-menu
xdotool mouseup 3
# The menu is a light panel below the icon on the black root window.
brightness=$(convert "$ARTIFACTS/program-menu.png" -crop 120x60+$((x - 100))+$((y + 16)) -colorspace Gray -format '%[fx:int(100*mean)]' info:)
((brightness > 50)) || fail "the popup menu did not open (brightness $brightness)"
xdotool key Up Return
wait_for 10 bash -c "! kill -0 $driver_pid 2>/dev/null" || fail "Çıkış did not end the driver"
wait "$driver_pid" && status=0 || status=$?
((status == 0)) || fail "driver exit status $status"
echo "program x11 test passed"
