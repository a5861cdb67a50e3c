#!/usr/bin/env bash
# The Windows driver under wine, seen from the X side of the prefix's X server:
# its tray square docks in a tray host (trayer) in the state colours, the
# right button's press opens the menu with its entries, a second start ends
# silently at once, a handler's error shows in a box captioned "oruDriver"
# and a notice in a balloon, and --quit ends a running driver (0) or says
# none runs (3).
#   tray-and-instance-test.sh WINE_RUN PREFIX DRIVER_EXE
# Every wait is for the event itself (a window mapped, a colour on screen),
# polled and bounded.
set -euo pipefail
run=$1 prefix=$2 driver=$3
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

"$run" "$prefix" --init
DISPLAY=$("$run" "$prefix" --display)
export DISPLAY

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "-- $SECONDS s: $*"; }
# wait_until WHAT COMMAND...: COMMAND succeeds within 20 s.
wait_until() {
  local what=$1 end=$((SECONDS + 20))
  shift
  until "$@"; do
    ((SECONDS < end)) || fail "$what"
    sleep 0.05
  done
}
not() { ! "$@"; }
wine_reg() { "$run" "$prefix" reg "$@" >/dev/null 2>&1; }

# The driver's windows that show on screen (X windows of its process).
shown_windows() { xdotool search --onlyvisible --class oru-driver.exe 2>/dev/null || true; }
geometry() {  # WINDOW -> "X Y W H"
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                           /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w, h}'
}

# The tray host: a strip at the top left; the square docks into it.
trayer --edge top --align left --widthtype pixel --width 100 --heighttype pixel --height 24 \
  --SetDockType false --transparent false >/dev/null 2>&1 &
pids+=($!)
panel_mapped() { xwininfo -name panel >/dev/null 2>&1; }
wait_until "trayer's panel maps" panel_mapped
read -r panel_x panel_y panel_w panel_h < <(geometry "$(xwininfo -name panel | awk '/Window id/ {print $4}')")
# Pixels of colour RRGGBB in the panel.
panel_pixels() {
  import -window root -crop "${panel_w}x${panel_h}+${panel_x}+${panel_y}" -depth 8 txt:- 2>/dev/null | grep -c " #$1 " || true
}
# The square is 16 x 16 with "oru" on it: most of it keeps the state colour.
square_is() { (($(panel_pixels "$1") >= 150)); }

start_driver() {
  "$run" "$prefix" "$driver" >"$work/driver.out" 2>&1 &
  driver_pid=$!
  pids+=("$driver_pid")
}
driver_status() { local status=0; wait "$driver_pid" || status=$?; echo "$status"; }
running() { kill -0 "$driver_pid" 2>/dev/null; }

# A stored calibration and no pen tracker: red, from the start on.
wine_reg delete 'HKCU\Software\oruDriver' /f || true
values=(1000 1000 3000 1000 1000 2000 3000 2000)
for i in "${!values[@]}"; do
  wine_reg add 'HKCU\Software\oruDriver' /v "Edit$((i + 1))_Text" /t REG_SZ /d "${values[i]}" /f ||
    fail "the calibration could not be stored in the prefix's registry"
done
start_driver
wait_until "the red square docks in the tray" square_is FF0000

# A second start ends at once, without a window, while the first runs on.
started=$SECONDS
second=0
"$run" "$prefix" "$driver" >"$work/second.out" 2>&1 || second=$?
[[ $second == 0 && ! -s $work/second.out ]] || fail "the second start ended with $second: $(cat "$work/second.out")"
((SECONDS - started <= 5)) || fail "the second start took $((SECONDS - started)) s"
running || fail "the first driver ended with the second start"
square_is FF0000 || fail "the square changed with the second start"

# The menu opens on the right button's press, at the cursor.
read -r icon_x icon_y < <(xdotool search --class explorer.exe 2>/dev/null | while read -r w; do
  read -r x y width height < <(geometry "$w")
  ((width >= 16 && width <= 32 && x >= panel_x && x < panel_x + panel_w && y < panel_y + panel_h)) &&
    echo $((x + width / 2)) $((y + height / 2)) && break
done)
[[ -n ${icon_x:-} ]] || fail "no tray icon window in the panel"
# wait_briefly TENTHS COMMAND...: COMMAND succeeds within TENTHS tenths of a second.
wait_briefly() {
  local polls=$(($1 * 2))
  shift
  until "$@"; do
    ((polls-- > 0)) || return 1
    sleep 0.05
  done
}
open_menu() {
  # A press right after a menu closed can reach the closing menu still holding
  # the mouse (wine ends its tracking after the menu's window has gone); the
  # next press opens it.
  local attempt
  for attempt in 1 2 3 4 5; do
    xdotool mousemove "$icon_x" "$icon_y" mousedown 3
    wait_briefly 10 shown_count 1 && break
    xdotool mouseup 3
  done
  shown_count 1 || fail "the menu does not open on the right button's press"
  xdotool mouseup 3
  menu=$(shown_windows | head -1)
  read -r menu_x menu_y menu_w menu_h < <(geometry "$menu")
  # Keys go to the window under the pointer (no window manager); on the
  # menu's frame it selects no entry.
  xdotool mousemove $((menu_x + 1)) $((menu_y + 1))
}
menu_closed() { [[ -z $(shown_windows) ]]; }
shown_count() { (($(shown_windows | wc -l) >= $1)); }
windows_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -q .; }

step "the menu's entries"
# "Tahta ekranı", second: its submenu opens beside the menu.
open_menu
xdotool key Down Down Right
wait_until "the \"Tahta ekranı\" submenu opens" shown_count 2
xdotool key Escape Escape
wait_until "the menu closes on ESC" menu_closed

# "Hakkında", third: the about box.
step "Hakkında"
open_menu
xdotool key Up Up Return
wait_until "the about box shows" windows_named oruDriver
read -r ax ay aw ah < <(geometry "$(xdotool search --onlyvisible --name '^oruDriver$' | head -1)")
xdotool mousemove $((ax + aw / 2)) $((ay + ah / 2)) key Return
wait_until "\"Kapat\" closes the about box" not windows_named oruDriver

# "Çıkış", last: the driver ends.
step "Çıkış"
open_menu
xdotool key Up Return
wait_until "\"Çıkış\" ends the driver" not running
status=$(driver_status)
[[ $status == 0 ]] || fail "the driver ended with $status after \"Çıkış\""

step "a damaged calibration"
# A stored text that is no integer: the first show's error in a box captioned
# "oruDriver"; a chosen board screen that isn't there: a balloon.
wine_reg add 'HKCU\Software\oruDriver' /v Edit1_Text /t REG_SZ /d 1.5 /f &&
  wine_reg add 'HKCU\Software\oruDriver' /v BoardScreen_Text /t REG_SZ /d '\\.\DISPLAY9' /f ||
  fail "the damaged values could not be stored"
balloon_shown() {
  local window
  for window in $(xdotool search --onlyvisible --class explorer.exe 2>/dev/null); do
    read -r x y w h < <(geometry "$window")
    ((w > 64)) && return 0
  done
  return 1
}
start_driver
wait_until "the first show's error shows in a box" windows_named oruDriver
wait_until "the missing board screen is told in a balloon" balloon_shown
read -r bx by bw bh < <(geometry "$(xdotool search --onlyvisible --name '^oruDriver$' | head -1)")
xdotool mousemove $((bx + bw / 2)) $((by + bh / 2)) key Return
wait_until "the error box closes on Enter" not windows_named oruDriver
running || fail "the driver ended with the first show's error"
quit=0
"$run" "$prefix" "$driver" --quit || quit=$?
[[ $quit == 0 ]] || fail "--quit said $quit with a driver running"
wait_until "the driver ends after --quit said 0" not running

step "the first calibration"
# Nothing stored: the first show calibrates; once its window has closed (ESC),
# the square is blue.
wine_reg delete 'HKCU\Software\oruDriver' /f || fail "the stored calibration could not be removed"
start_driver
close_calibration_or_see_blue() {
  square_is 0000FF && return 0
  local window
  for window in $(shown_windows); do
    read -r x y w h < <(geometry "$window")
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) key Escape
  done
  return 1
}
# The calibration window covers the tray while it is up: blue in the panel
# means it has closed.
wait_until "the blue square after the first calibration" close_calibration_or_see_blue

# --quit ends it and says 0, also while its tray menu is open; with none
# running it says 3.
open_menu
quit=0
"$run" "$prefix" "$driver" --quit || quit=$?
[[ $quit == 0 ]] || fail "--quit said $quit with a driver running"
# Windows' process has ended; wine's process around it follows.
wait_until "the driver ends after --quit said 0" not running
status=$(driver_status)
[[ $status == 0 ]] || fail "the driver ended with $status after --quit"
quit=0
"$run" "$prefix" "$driver" --quit 2>/dev/null || quit=$?
[[ $quit == 3 ]] || fail "--quit said $quit with no driver running"
step "done"
