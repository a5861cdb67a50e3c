#!/usr/bin/env bash
# The driver on an X server whose screens change while it runs (Xorg with
# the dummy video driver), with an emulated pen tracker under umockdev:
# calibrate at 1280x800, change the mode to 1024x768 and draw; add a second
# screen left of the board's and draw; choose that screen in the tray's
# "Tahta ekranı" submenu and calibrate on it; change its mode in the middle of
# the calibration, calibrate again and draw; switch it off and draw on the
# primary. Each change waits for
# the driver's "oruDriver: board screen ..." line. Screenshots, the driver's
# output and a summary stay in ARTIFACTS_DIR. Exit status 77 (skipped) only
# when Xorg or its dummy driver is not installed.
set -euo pipefail

top=${1:?usage: display_test.sh SOURCE_DIR DRIVER SCENARIO ARTIFACTS_DIR}
driver=${2:?}
scenario=${3:?}
out=${4:?}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# shellcheck source=testing/x-session.sh
source "$top/testing/x-session.sh"
# shellcheck source=tests/screen-changes/display-session.sh
source "$here/display-session.sh"
oru_display_available || { echo "SKIP: the display test needs Xorg's dummy video driver" >&2; exit 77; }

rm -rf "$out"
mkdir -p "$out"
started=$SECONDS
oru_display_start "$(mktemp -d "${TMPDIR:-/tmp}/oru-display.XXXXXX")" "$here/xorg-dummy.conf"
oru_session_watch_pidfile "$out/driver.pid"
echo "== Xorg (dummy) on $DISPLAY up after $((SECONDS - started)) s"
status=0
oru_session_run 150 "$scenario" "$driver" "$out" || status=$?
cp "$oru_session_work/xorg.log" "$out/" 2>/dev/null || true
echo "== display test done in $((SECONDS - started)) s, status $status"
exit "$status"
