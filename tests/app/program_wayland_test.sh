#!/usr/bin/env bash
# The windows on a Wayland compositor: weston's headless backend (1280x800,
# pixman renderer, --debug for its screenshooter) in a private runtime folder.
# 1. The calibration window's test program at scale 1, scale 2 and on a rotated
#    output (full-screen on the output, first target, ESC cancels).
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
source "${BASH_SOURCE[0]%/*}/program_test_common.sh"
poll_seconds=0.05
# Every log of the test, not only the driver's.
fail() { echo "FAIL: $*" >&2; for f in "$work"/*.log; do sed "s|^|  $(basename "$f"): |" "$f" >&2; done; exit 1; }

mkdir -m 700 "$work/run" "$work/home" "$work/config"
export XDG_RUNTIME_DIR=$work/run HOME=$work/home XDG_CONFIG_HOME=$work/config
unset DISPLAY XDG_SESSION_TYPE
# Without animations: the output's start-up fade would tint the pictures.
printf '[shell]\nstartup-animation=none\nanimation=none\nclose-animation=none\nfocus-animation=none\n' \
  >"$work/weston.ini"
# start_weston NAME WESTON_OPTION...: a compositor on socket NAME, once its socket is there.
start_weston() {
  local name=$1; shift
  weston --backend=headless-backend.so --use-pixman --debug --config="$work/weston.ini" --idle-time=0 \
         --socket="$name" --width=1280 --height=800 "$@" >"$work/weston.log" 2>&1 &
  weston_pid=$!
  pids+=("$weston_pid")
  wait_for 15 test -S "$XDG_RUNTIME_DIR/$name" || fail "weston's socket $name did not appear"
  export WAYLAND_DISPLAY=$name QT_QPA_PLATFORM=wayland
}
stop_weston() { kill "$weston_pid"; wait "$weston_pid" 2>/dev/null; }

# Rows: weston's output options | the picture's name.
rows=("--scale=1|wayland-calibration"
      "--scale=2|wayland-calibration-scale2"
      "--transform=rotate-90|wayland-calibration-rotated")
for row in "${rows[@]}"; do
  IFS='|' read -r option shot <<<"$row"
  echo "== the calibration window, output 1280x800 $option"
  start_weston "oru-test-$$-${#shot}" "$option"
  transform=normal
  [[ $option == --transform=* ]] && transform=${option#--transform=}
  ORU_ARTIFACTS=$artifacts ORU_SHOT_NAME=$shot ORU_OUTPUT_TRANSFORM=$transform \
    "$calibration_test" >"$work/calibration.log" 2>&1 || fail "calibration window test failed ($option)"
  grep -E '^\[ +(OK|FAILED) +\]' "$work/calibration.log"
  stop_weston
done

start_weston "oru-test-$$"
echo "== the driver"
background=$(convert "$artifacts/wayland-calibration.png" -format '%[hex:p{1278,798}]' info:) ||
  fail "no screenshot of the calibration window"
log=$work/driver.log
"$driver" 2>"$log" &
driver_pid=$!
pids+=("$driver_pid")
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
wait_for 10 gone "$driver_pid" || fail "the driver did not end on SIGTERM"
status=0; wait "$driver_pid" || status=$?
((status == 0)) || fail "driver exit status $status after SIGTERM"
told=$(grep -c "no system tray" "$log")
((told == 1)) || fail "the missing tray was told $told times"
grep -E "no system tray|uinput" "$log" | sed 's/^/   stderr: /'
echo "PASS: the calibration window and the driver on Wayland (screenshots in $artifacts)"
