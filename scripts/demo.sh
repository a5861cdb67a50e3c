#!/usr/bin/env bash
# The self-contained demo, for a machine without a display (./run does this
# when DISPLAY is unset, and ./run --demo always): a private X server with a
# tray host, the real driver with an empty per-user store, and an emulated pen
# tracker under umockdev. The pen calibrates the driver, draws a square and a
# circle and right-clicks; the demo prints what the X pointer did and keeps
# screenshots. Exit status 0 when the pointer followed the pen.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ORU_BUILD_DIR:-$top/build}
source "$top/testing/x-session.sh"
oru_session_programs "$build"

out=${ORU_DEMO_OUT:-$build/demo-$(date +%Y%m%d-%H%M%S)}
mkdir -p "$out"
oru_session_start "$(mktemp -d "${TMPDIR:-/tmp}/oru-demo.XXXXXX")" "${ORU_DEMO_SCREEN:-1280x800}"
oru_session_watch_pidfile "$out/driver.pid"

echo "oruDriver demo: X server $DISPLAY ${ORU_DEMO_SCREEN:-1280x800}, tray host, emulated pen tracker; output in $out"
status=0
oru_session_run 120 "$demo" --driver "$driver" --out "$out" --phase first || status=$?
echo "Screenshots, driver log and summary: $out"
exit "$status"
