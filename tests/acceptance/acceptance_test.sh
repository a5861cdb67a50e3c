#!/usr/bin/env bash
# The driver as a user meets it, on a private X server with a tray host and
# an emulated pen tracker under umockdev:
#   1. first start with an empty store: the calibration window comes up, the
#      pen calibrates it, the tray turns blue, the pen draws and clicks, and
#      "Çıkış" in the tray menu ends the driver;
#   2. second start with the same store: no calibration window, the tracker
#      is claimed (tray green), the pen maps at once; "Kalibre" in the tray
#      menu calibrates again (tray green) and the pen still maps; the tracker is unplugged
#      in the middle of a stroke (tray red, no button left held) and plugged
#      in again (tray green, drawing resumes); the session ends (SIGTERM)
#      while the pen holds the left button: the driver lets go of it and
#      ends with status 0.
# Screenshots, the driver's output and summaries stay in ARTIFACTS_DIR.
set -euo pipefail

top=${1:?usage: acceptance_test.sh SOURCE_DIR DRIVER DEMO ARTIFACTS_DIR}
driver=${2:?}
demo=${3:?}
out=${4:?}
rm -rf "$out"
mkdir -p "$out"

source "$top/testing/x-session.sh"
oru_session_start "$(mktemp -d "${TMPDIR:-/tmp}/oru-acceptance.XXXXXX")"
oru_session_watch_pidfile "$out/driver.pid"
store=$XDG_CONFIG_HOME

echo "== first start, empty store ($DISPLAY)"
oru_session_run 60 "$demo" --driver "$driver" --out "$out" --store "$store" --phase first

stored=$(find "$store/oruDriver" -type f 2>/dev/null | head -n1)
if [[ -z $stored ]]; then
  echo "FAIL: nothing stored under $store/oruDriver after the calibration" >&2
  exit 1
fi
grep -q Edit1 "$stored" || { echo "FAIL: no calibration texts in $stored" >&2; exit 1; }

echo "== second start: stored calibration, \"Kalibre\" again, unplug and re-plug while drawing, SIGTERM while drawing"
oru_session_run 60 "$demo" --driver "$driver" --out "$out" --store "$store" --phase again --recalibrate --replug --end-by-signal
echo "acceptance test passed"
