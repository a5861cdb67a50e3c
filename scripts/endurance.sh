#!/usr/bin/env bash
# Endurance run (not part of ./test): the real driver on a private X server
# with a tray host and an emulated pen tracker under umockdev. After a first
# start that calibrates it, the driver runs with the stored calibration for
# ORU_ENDURANCE_SECONDS (default 3600) at ORU_ENDURANCE_RATE reports per
# second (default 1000) while the tracker is unplugged and plugged in again
# every ORU_ENDURANCE_REPLUG_SECONDS (default 60). It checks that the reports
# are handled in order, that the driver's resident memory at the end is within
# 1 MiB of what it was after the first minute, and that no mouse button is
# left held. Exit status 0 when all of that holds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ORU_BUILD_DIR:-$top/build}
source "$top/testing/x-session.sh"
oru_session_programs "$build"
seconds=${ORU_ENDURANCE_SECONDS:-3600}
rate=${ORU_ENDURANCE_RATE:-1000}
replug=${ORU_ENDURANCE_REPLUG_SECONDS:-60}
[[ $seconds =~ ^[0-9]+$ && $rate =~ ^[0-9]+$ && $replug =~ ^[0-9]+$ ]] || {
  echo "ORU_ENDURANCE_SECONDS, ORU_ENDURANCE_RATE and ORU_ENDURANCE_REPLUG_SECONDS must be whole numbers" >&2
  exit 2
}

out=${ORU_ENDURANCE_OUT:-$build/endurance-$(date +%Y%m%d-%H%M%S)}
mkdir -p "$out"
oru_session_start "$(mktemp -d "${TMPDIR:-/tmp}/oru-endurance.XXXXXX")"
oru_session_watch_pidfile "$out/driver.pid"
store=$XDG_CONFIG_HOME

echo "endurance: X server $DISPLAY; calibrating a first start; output in $out"
oru_session_run 120 "$demo" --driver "$driver" --out "$out" --store "$store" --phase first --quiet >"$out/first.txt" || {
  cat "$out/first.txt"
  echo "the calibrating first start failed" >&2
  exit 1
}
echo "endurance: ${seconds} s at ${rate} reports/s, unplug and re-plug every ${replug} s"
status=0
oru_session_run $((seconds + 180)) "$demo" --driver "$driver" --out "$out" --store "$store" \
  --phase endurance --seconds "$seconds" --rate "$rate" --replug-every "$replug" || status=$?
echo "Driver log and summary: $out"
exit "$status"
