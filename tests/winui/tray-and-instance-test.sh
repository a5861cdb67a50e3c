#!/usr/bin/env bash
# The Windows driver under wine, seen from the X side of the prefix's X server:
# its tray square docks in a tray host (trayer) in the state colours, the
# right button's press opens the menu with its entries, a second start ends
# silently at once, a handler's error shows in a box captioned "oruDriver"
# and a notice in a balloon, and --quit ends a running driver (0) or says
# none runs (3).
# Another program that took the driver's window class and caption and the
# name "oruDriver" is never taken for the driver.
#   tray-and-instance-test.sh WINE_RUN PREFIX DRIVER_EXE HELPER_EXE
# Every wait is for the event itself (a window mapped, a colour on screen),
# polled and bounded.
set -euo pipefail
run=$1 prefix=$2 driver=$3 helper=$4

source "$(dirname "$0")/wine-desktop.sh"
# start_squatter [window]: another program with the driver's window (and, without "window", its mutex).
start_squatter() {
  rm -f "$work/squat.in" "$work/squat.out"
  mkfifo "$work/squat.in" "$work/squat.out"
  "$run" "$prefix" "$helper" squat "$@" <"$work/squat.in" >"$work/squat.out" &
  pids+=($!)
  exec {squat_in}>"$work/squat.in" {squat_out}<"$work/squat.out"
  IFS= read -r -t 20 line <&"$squat_out" && [[ ${line%$'\r'} == ready ]] || fail "the squatter did not come up"
}
start_tray_host

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
quit_driver

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

# --quit ends it and says 0, also while its tray menu is open and another
# program's window has its class and caption; with none running it says 3.
start_squatter window
open_menu
quit_driver
exec {squat_in}>&- {squat_out}<&-
quit=0
"$run" "$prefix" "$driver" --quit 2>/dev/null || quit=$?
[[ $quit == 3 ]] || fail "--quit said $quit with no driver running"

# An answer that can't be written is no answer: status 1, and stderr says why.
for option in --help --version; do
  said=0
  "$run" "$prefix" "$driver" $option >/dev/full 2>"$work/command.out" || said=$?
  [[ $said == 1 ]] && grep -q "cannot write the answer" "$work/command.out" ||
    fail "$option to a full output said $said: $(cat "$work/command.out")"
done

step "another program with the driver's names"
start_squatter
quit=0
"$run" "$prefix" "$driver" --quit >"$work/command.out" 2>&1 || quit=$?
[[ $quit == 3 ]] && grep -q "is not the driver" "$work/command.out" ||
  fail "--quit to the squatter said $quit: $(cat "$work/command.out")"
# --calibrate starts a driver, which can't make its semaphore beside the mutex: a box says so, status 1.
"$run" "$prefix" "$driver" --calibrate >"$work/command.out" 2>&1 &
calibrate_pid=$!
wait_until "the start beside the squatter's mutex shows why it ends" windows_named oruDriver
read -r bx by bw bh < <(geometry "$(xdotool search --onlyvisible --name '^oruDriver$' | head -1)")
xdotool mousemove $((bx + bw / 2)) $((by + bh / 2)) key Return
calibrate=0
wait "$calibrate_pid" || calibrate=$?
[[ $calibrate == 1 ]] && grep -q "could not be made" "$work/command.out" ||
  fail "--calibrate beside the squatter said $calibrate: $(cat "$work/command.out")"
exec {squat_in}>&- {squat_out}<&-
step "done"
