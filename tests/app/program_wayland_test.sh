#!/usr/bin/env bash
# The windows on a Wayland compositor: weston's headless backend (1280x800,
# pixman renderer, --debug for its screenshooter) in a private runtime folder.
# 1. The calibration window's test program (full-screen on the output, first
#    target, ESC cancels).
# 2. The driver itself with Qt on Wayland, no tray host and no usable
#    /dev/uinput: it says once that there is no tray and once why the pointer
#    can't move, keeps running with its first calibration covering the output,
#    and ends with status 0 on SIGTERM.
# Screenshots go to ARTIFACTS. Exit status 77 (skipped) without weston.
set -uo pipefail

calibration_test=${1:?usage: program_wayland_test.sh CALIBRATION_TEST DRIVER ARTIFACTS}
driver=${2:?}
artifacts=${3:?}
command -v weston >/dev/null && command -v weston-screenshooter >/dev/null ||
  { echo "weston is not installed (apt-get install weston): skipped"; exit 77; }
mkdir -p "$artifacts"
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; for f in "$work"/*.log; do sed "s|^|  $(basename "$f"): |" "$f" >&2; done; exit 1; }
# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}

mkdir -m 700 "$work/run" "$work/home" "$work/config"
export XDG_RUNTIME_DIR=$work/run HOME=$work/home XDG_CONFIG_HOME=$work/config
unset DISPLAY XDG_SESSION_TYPE
# No StatusNotifier host: a desktop's session bus must not lend this test one.
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/oru-test
socket=oru-test-$$
# Without animations: the output's start-up fade would tint the pictures.
printf '[shell]\nstartup-animation=none\nanimation=none\nclose-animation=none\nfocus-animation=none\n' \
  >"$work/weston.ini"
weston --backend=headless-backend.so --use-pixman --debug --config="$work/weston.ini" --idle-time=0 \
       --socket="$socket" --width=1280 --height=800 >"$work/weston.log" 2>&1 &
weston_pid=$!
pids+=("$weston_pid")
socket_up() { [[ -S $XDG_RUNTIME_DIR/$socket ]] || { kill -0 "$weston_pid" 2>/dev/null || return 2; return 1; }; }
wait_for 15 socket_up || fail "weston's socket $socket did not appear"
export WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland

echo "== the calibration window"
ORU_ARTIFACTS=$artifacts "$calibration_test" >"$work/calibration.log" 2>&1 || fail "calibration window test failed"
grep -E '^\[ +(OK|FAILED) +\]' "$work/calibration.log"

echo "== the driver"
background=$(convert "$artifacts/wayland-calibration.png" -format '%[hex:p{1278,798}]' info:) ||
  fail "no screenshot of the calibration window"
"$driver" 2>"$work/driver.log" &
driver_pid=$!
pids+=("$driver_pid")
said() { grep -qs -- "$1" "$work/driver.log"; }
wait_for 15 said "no system tray" || fail "no word about the missing tray"
if [[ -w /dev/uinput ]]; then
  echo "   (/dev/uinput is usable here: the driver made its pointer)"
else
  wait_for 15 said "/dev/uinput" || fail "no word about /dev/uinput"
fi
# The first start has no calibration: its window comes up over the output.
calibration_covers_output() {
  (cd "$work" && rm -f ./*.png && weston-screenshooter >/dev/null 2>&1) || return 1
  local shot corner
  shot=$(ls "$work"/*.png 2>/dev/null | head -n 1)
  [[ -n $shot ]] || return 1
  corner=$(convert "$shot" -format '%[hex:p{1278,798}]' info:) || return 1
  [[ $corner == "$background" ]] && mv "$shot" "$artifacts/wayland-driver-first-start.png"
}
wait_for 15 calibration_covers_output || fail "the driver's calibration window does not cover the output"
kill -0 "$driver_pid" 2>/dev/null || fail "the driver ended"
kill -TERM "$driver_pid"
gone() { ! kill -0 "$1" 2>/dev/null; }
wait_for 10 gone "$driver_pid" || fail "the driver did not end on SIGTERM"
status=0; wait "$driver_pid" || status=$?
((status == 0)) || fail "driver exit status $status after SIGTERM"
told=$(grep -c "no system tray" "$work/driver.log")
((told == 1)) || fail "the missing tray was told $told times"
grep -E "no system tray|uinput" "$work/driver.log" | sed 's/^/   stderr: /'
echo "PASS: the calibration window and the driver on Wayland (screenshots in $artifacts)"
