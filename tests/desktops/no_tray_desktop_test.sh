#!/usr/bin/env bash
# The driver under GNOME Shell on X11 as Debian installs it, without a tray
# (no AppIndicator extension): it tells the user once, by a desktop
# notification, where "Kalibre" and "Çıkış" are; `oru-driver --calibrate`
# opens the calibration window over the whole screen, top bar included (ESC
# cancels it); `oru-driver --quit` ends the driver with status 0 and its
# calibration saved. Screenshots and logs stay in ARTIFACTS_DIR.
set -euo pipefail

top=${1:?usage: no_tray_desktop_test.sh SOURCE_DIR DRIVER ARTIFACTS_DIR}
driver=${2:?}
out=${3:?}
rm -rf "$out"
mkdir -p "$out"

source "$top/testing/x-session.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/oru-desktop.XXXXXX")
oru_session_start_server "$work"
oru_session_start_gnome "$work" x11 "$top/tests/desktops/oru-test@oru.example" no-tray
fail() { echo "FAIL: $*" >&2; sed 's/^/  driver: /' "$out/driver.log" >&2 || true; exit 1; }
# waits_for SECONDS COMMAND...: until COMMAND succeeds, at most SECONDS.
waits_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do ((SECONDS < deadline)) || return 1; sleep 0.05; done
}

# A stored calibration: no calibration window at the start.
oru_session_store_calibration

dbus-monitor --session "interface='org.freedesktop.Notifications',member='Notify'" >"$out/notifications.log" 2>&1 &
monitor=$!
oru_session_services+=("$monitor")
# Watching once it has become a monitor (the bus takes its name back).
waits_for 10 grep -q "member=NameLost" "$out/notifications.log" || fail "dbus-monitor did not start"

echo "== GNOME on X11 without a tray: the notification"
"$driver" >"$out/driver.log" 2>&1 &
driver_pid=$!
echo "$driver_pid" >"$out/driver.pid"
oru_session_watch_pidfile "$out/driver.pid"
waits_for 20 grep -q "bildirim alanı yok" "$out/notifications.log" || fail "no notification about the missing tray"
echo "   sent to org.freedesktop.Notifications: $(grep -c 'bildirim alanı yok' "$out/notifications.log")"

echo "== oru-driver --calibrate"
calibration_covers() {
  local id geometry
  id=$(xdotool search --onlyvisible --name '^CalibrationForm$' 2>/dev/null | head -n1)
  [[ -n $id ]] || return 1
  geometry=$(xdotool getwindowgeometry "$id")
  grep -q "Position: 0,0" <<<"$geometry" && grep -q "Geometry: 1280x800" <<<"$geometry"
}
"$driver" --calibrate >"$out/calibrate.log" 2>&1 || fail "--calibrate ended with status $?"
waits_for 15 calibration_covers || fail "no calibration window over the whole screen after --calibrate"
import -window root "$out/calibration-window.png"
echo "   calibration window over the whole screen (calibration-window.png)"
xdotool key Escape
waits_for 10 eval '! xdotool search --onlyvisible --name "^CalibrationForm$" >/dev/null 2>&1' ||
  fail "ESC did not close the calibration window"

echo "== oru-driver --quit"
"$driver" --quit >"$out/quit.log" 2>&1 || fail "--quit ended with status $?"
status=0
wait "$driver_pid" || status=$?
: >"$out/driver.pid"
((status == 0)) || fail "the driver ended with status $status"
for i in {0..7}; do
  grep -q "\"Edit$((i + 1))_Text\" = text \"${oru_session_texts[i]}\"" "$XDG_CONFIG_HOME/oruDriver/store.conf" ||
    fail "the calibration was not kept in the store (Edit$((i + 1)))"
done
echo "   driver ended with status 0, calibration saved"
echo "gnome-x11 without a tray: desktop test passed"
