#!/usr/bin/env bash
# The driver on a Wayland desktop's own compositor, headless (no input
# devices are read there, so the pen's pointer is not checked):
#   1. the calibration window covers the whole output, the shell's top bar
#      included, shows its first target where the run puts it, and ESC
#      cancels it (calibration_wayland_test, screenshots from the shell);
#   2. the driver's tray icon registers as a StatusNotifierItem and the top
#      bar shows the coloured square (red: no pen tracker here).
# DESKTOP: gnome-wayland (gnome-shell --headless with the AppIndicator
# extension and the test's own extension, which leaves the overview, allows
# screenshots and owns org.oruDriver.DesktopTest once the desktop is up), or
# kwin (kwin_wayland --virtual: no panel, no tray host, no screenshot to be
# had without passing a file descriptor; its configure of the window only).
set -euo pipefail

desktop=${1:?usage: wayland_desktop_test.sh DESKTOP SOURCE_DIR DRIVER CALIBRATION_TEST ARTIFACTS_DIR}
top=${2:?}
driver=${3:?}
calibration_test=${4:?}
out=${5:?}
rm -rf "$out"
mkdir -p "$out"
# KWin's binary is swapped for a copy in a mount namespace of the test's own.
if [[ $desktop == kwin && -z ${ORU_OWN_MOUNTS:-} ]]; then
  ORU_OWN_MOUNTS=1 exec unshare --mount --propagation private "$0" "$@" ||
    { echo "KWin needs a mount namespace of its own (root): skipped"; exit 77; }
fi

source "$top/testing/x-session.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/oru-desktop.XXXXXX")
oru_session_prepare "$work"
case $desktop in
  gnome-wayland)
    oru_session_start_gnome "$work" wayland "$top/tests/desktops/oru-test@oru.example"
    # Writes the whole output as "$PWD/shot.png".
    shoot='dbus-send --session --print-reply --dest=org.gnome.Shell.Screenshot /org/gnome/Shell/Screenshot \
           org.gnome.Shell.Screenshot.Screenshot boolean:false boolean:false "string:$PWD/shot.png" >/dev/null'
    ;;
  kwin)
    oru_session_start_kwin "$work"
    shoot=-
    ;;
  *) echo "unknown desktop $desktop" >&2; exit 2 ;;
esac
export QT_QPA_PLATFORM=wayland

echo "== $desktop: the calibration window"
ORU_ARTIFACTS=$out ORU_SHOT_NAME=calibration-window ORU_SCREENSHOT_COMMAND=$shoot \
  oru_session_run 60 "$calibration_test" >"$out/calibration-window.log" 2>&1 ||
  { cat "$out/calibration-window.log" >&2; echo "FAIL: calibration window on $desktop" >&2; exit 1; }
grep -E '^\[ +(OK|FAILED) +\]' "$out/calibration-window.log"

# KWin alone has no panel and no StatusNotifier watcher (Plasma's shell brings them).
if [[ $desktop == kwin ]]; then echo "$desktop desktop test passed"; exit 0; fi

echo "== $desktop: the tray square"
# A stored calibration: no calibration window over the top bar at the start.
oru_session_store_calibration
"$driver" >"$out/driver.log" 2>&1 &
driver_pid=$!
echo "$driver_pid" >"$out/driver.pid"
oru_session_watch_pidfile "$out/driver.pid"
items_registered() {
  dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
    string:RegisteredStatusNotifierItems 2>/dev/null | grep -q 'string "'
}
# The top bar's right part with the driver's red square (GNOME draws icons at
# 94 % opacity: 240,0,0 over black), 100 pixels or more.
square_shown() {
  (cd "$work" && eval "$shoot") || return 1
  local red
  red=$(convert "$work/shot.png" -crop 400x32+880+0 +repage -fx 'r>0.85 && g<0.1 && b<0.1' \
          -format '%[fx:mean*w*h]' info:) || return 1
  ((${red%.*} >= 100))
}
deadline=$((SECONDS + 20))
until items_registered && square_shown; do
  ((SECONDS < deadline)) || { cp "$work/shot.png" "$out/top-bar.png" 2>/dev/null; cat "$out/driver.log" >&2
                              echo "FAIL: no red square in $desktop's top bar" >&2; exit 1; }
  sleep 0.2
done
cp "$work/shot.png" "$out/tray-red.png"
echo "   StatusNotifierItem registered, red square in the top bar (tray-red.png)"
kill -TERM "$driver_pid"
status=0
wait "$driver_pid" || status=$?
: >"$out/driver.pid"
((status == 0)) || { echo "FAIL: the driver ended with status $status on SIGTERM" >&2; exit 1; }
echo "$desktop desktop test passed"
