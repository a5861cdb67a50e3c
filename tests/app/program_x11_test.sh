#!/usr/bin/env bash
# The whole driver on a private X server with a tray host, used as a person
# would: it starts, docks its square in the tray, a right press opens the
# menu, a click on "Çıkış" ends it; a second instance exits at once; the icon comes back
# after the tray host restarts. Run under xvfb-run; screenshots are kept in
# $ARTIFACTS.
set -euo pipefail

driver=${1:?usage: program_x11_test.sh DRIVER ARTIFACTS_DIR}
ARTIFACTS=${2:?}
mkdir -p "$ARTIFACTS"
source "${BASH_SOURCE[0]%/*}/program_test_common.sh"
poll_seconds=0.2
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config HOME=$work/home
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb

shot() { import -window root "$ARTIFACTS/$1.png"; }
# Pixels of one colour in the top strip where trayer sits: "count minx miny".
colour_box() {
  import -window root "$work/strip.png"
  convert "$work/strip.png" -crop 1280x40+0+0 txt:- |
    awk -v c="$1" 'index($0, c) { split($1, xy, /[,:]/); n++; if (!minx || xy[1] < minx) minx = xy[1];
                                  if (!miny || xy[2] < miny) miny = xy[2] } END { print n + 0, minx + 0, miny + 0 }'
}
has_colour() { local n; read -r n _ < <(colour_box "$1"); ((n >= 100)); }
# Pixels of one colour anywhere on the screen.
screen_has_colour() {
  import -window root "$work/screen.png"
  [[ $(convert "$work/screen.png" -format %c histogram:info:-) == *"$1"* ]]
}
tray_host_up() { [[ -n $(xdotool search --onlyvisible --class '^trayer$' 2>/dev/null) ]]; }
start_trayer() {
  trayer --edge top --align right --widthtype request --height 24 --transparent false --SetDockType true &
  trayer_pid=$!
  pids+=("$trayer_pid")
  wait_for 10 tray_host_up || fail "the tray host did not start"
}
# move_pointer X Y: moves it and waits until the X server has it there.
pointer_at() { [[ $(xdotool getmouselocation --shell | head -n2 | tr '\n' ' ') == "X=$1 Y=$2 " ]]; }
move_pointer() { xdotool mousemove "$1" "$2"; wait_for 5 pointer_at "$1" "$2"; }

# The driver's popup menu: a top-level window of the driver that holds the
# pressed place (it opens at the pointer). Sets menu_x, menu_y, menu_w, menu_h.
find_menu() {
  local id X Y WIDTH HEIGHT SCREEN WINDOW
  for id in $(xdotool search --onlyvisible --maxdepth 1 --classname '^oru-driver$' 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    ((WIDTH < 640 && HEIGHT < 400 && $1 >= X && $1 <= X + WIDTH && $2 >= Y && $2 <= Y + HEIGHT)) || continue
    menu_x=$X menu_y=$Y menu_w=$WIDTH menu_h=$HEIGHT
    return 0
  done
  return 1
}
# What the menu shows, from a screenshot of the rows that differ from the
# menu's own colour: per entry "first_row last_row plain_share" (its text, gaps
# of up to 2 rows within it; or the whole entry, marked across, when
# highlighted; plain_share: the menu's colour in its rows, low when
# highlighted), then "separators N" (lines across, 1-2 rows high).
read_menu() {
  import -window root "$work/menu.png"
  convert "$work/menu.png" -crop $((menu_w - 6))x$((menu_h - 4))+$((menu_x + 3))+$((menu_y + 2)) +repage txt:- |
    awk -v oy=$((menu_y + 2)) '
      /^#/ { next }
      { split($1, xy, /[,:]/); c = $3; colour[xy[1] "," xy[2]] = c; n[c]++
        if (xy[1] + 1 > w) w = xy[1] + 1; if (xy[2] + 1 > h) h = xy[2] + 1 }
      END {
        for (c in n) if (n[c] > best) { best = n[c]; plain = c }
        for (y = 0; y < h; y++) { m[y] = 0; for (x = 0; x < w; x++) if (colour[x "," y] != plain) m[y]++ }
        seps = 0
        for (y = 0; y < h;) {
          if (m[y] == 0) { y++; continue }
          last = y
          if (m[y] >= w * 0.6) {
            while (last + 1 < h && m[last + 1] >= w * 0.6) last++
            if (last - y < 2) seps++
          } else {
            for (k = y + 1; k < h && k <= last + 3 && m[k] < w * 0.6; k++) if (m[k] > 0) last = k
          }
          if (last - y + 1 >= 5) {
            marked = 0
            for (k = y; k <= last; k++) marked += m[k]
            printf "%d %d %.2f\n", oy + y, oy + last, 1 - marked / (w * (last - y + 1))
          }
          y = last + 1
        }
        print "separators", seps
      }'
}
# menu_shows [LIT]: four entries ("Kalibre", the submenu "Tahta ekranı",
# "Hakkında", "Çıkış") and one separator, with entry LIT (1-based)
# highlighted, or none (0, the default). Sets entry_mid to the entries' middle
# rows.
menu_shows() {
  local lines=() line first last share lit=0
  entry_mid=()
  mapfile -t lines < <(read_menu)
  ((${#lines[@]} == 5)) && [[ ${lines[4]} == "separators 1" ]] || return 1
  for line in "${lines[@]:0:4}"; do
    read -r first last share <<<"$line"
    entry_mid+=($(((first + last) / 2)))
    if awk -v s="$share" 'BEGIN { exit !(s < 0.5) }'; then lit=${#entry_mid[@]}; fi
  done
  ((lit == ${1:-0}))
}

start_trayer
"$driver" 2>"$work/driver.log" &
driver_pid=$!
pids+=("$driver_pid")

# Nothing stored yet: the calibration window comes up at once over the screen
# with its first crosshair (blue).
wait_for 10 bash -c "xdotool search --name '^CalibrationForm$' >/dev/null" || fail "no calibration window at the first start"
wait_for 10 screen_has_colour '#0006FF' || { shot program-no-crosshair; fail "the calibration window shows no crosshair"; }
shot program-first-calibration

# A second instance ends by itself (it must not wait for the first one) with
# status 0 and leaves the first alone.
timeout 60 "$driver" || fail "second instance exited with status $? (124: it did not end)"
kill -0 "$driver_pid" || fail "first instance died"

# ESC cancels; the square is blue after a first-start calibration.
xdotool key Escape
wait_for 10 has_colour '#0000FF' || { shot program-no-blue; fail "no blue square docked in the tray"; }
shot program-tray-blue

# The tray host restarts: the icon docks again.
kill "$trayer_pid"; wait "$trayer_pid" 2>/dev/null || true
start_trayer
wait_for 10 has_colour '#0000FF' || { shot program-no-redock; fail "icon did not come back after the tray host restarted"; }
shot program-tray-redocked

# A right press on the icon opens the menu; a click on "Çıkış" (the last
# entry, where the menu shows it) ends the driver.
read -r _ x y < <(colour_box '#0000FF')
move_pointer $((x + 8)) $((y + 8)) || fail "the pointer did not get to the tray square"
xdotool mousedown 3
wait_for 10 find_menu $((x + 8)) $((y + 8)) || { xdotool mouseup 3; shot program-no-menu; fail "no popup menu on a right press"; }
xdotool mouseup 3
# Off the menu, so that nothing is highlighted, until it shows its entries.
if ((menu_x >= 24)); then aside=$((menu_x - 16)); else aside=$((menu_x + menu_w + 16)); fi
move_pointer "$aside" $((menu_y + menu_h / 2)) || fail "the pointer did not move off the menu"
wait_for 10 menu_shows || { shot program-menu-unread; fail "the menu did not show four entries and a separator"; }
shot program-menu
move_pointer $((menu_x + menu_w / 2)) "${entry_mid[3]}" || fail "the pointer did not get to \"Çıkış\""
wait_for 10 menu_shows 4 || { shot program-menu-no-highlight; fail "\"Çıkış\" not highlighted under the pointer"; }
xdotool click 1
wait_for 10 bash -c "! kill -0 $driver_pid 2>/dev/null" || fail "Çıkış did not end the driver"
wait "$driver_pid" && status=0 || status=$?
((status == 0)) || fail "driver exit status $status"
echo "program x11 test passed"
