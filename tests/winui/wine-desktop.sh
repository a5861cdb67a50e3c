# Shell helpers of the tests that drive the Windows driver on the wine
# prefix's X server from the X side, sourced once run (scripts/wine-run.sh)
# and prefix (the wine prefix) are set; start_driver starts $driver. It makes
# the scratch folder $work and ends the background processes in pids at exit.

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
# Every wait is for the event itself (a window mapped, a colour on screen),
# polled and bounded.

"$run" "$prefix" --init
DISPLAY=$("$run" "$prefix" --display)
export DISPLAY

fail() {
  echo "FAIL: $*" >&2
  # What the driver said, and what was on the screen, for the cause.
  [[ -s $work/driver.out ]] && sed 's/^/  driver: /' "$work/driver.out" >&2
  local window
  for window in $(shown_windows); do echo "  window: $(geometry "$window") $(xdotool getwindowname "$window")"; done >&2
  [[ -n ${panel_w:-} ]] && import -window root -crop "${panel_w}x${panel_h}+${panel_x}+${panel_y}" -depth 8 txt:- 2>/dev/null |
    awk 'NR > 1 {count[$3]++} END {for (c in count) print "  panel: " count[c] " px " c}' | sort -t' ' -k4,4nr | head -3 >&2
  exit 1
}
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
# wait_briefly TENTHS COMMAND...: COMMAND succeeds within TENTHS tenths of a second.
wait_briefly() {
  local polls=$(($1 * 2))
  shift
  until "$@"; do
    ((polls-- > 0)) || return 1
    sleep 0.05
  done
}
not() { ! "$@"; }
wine_reg() { "$run" "$prefix" reg "$@" >/dev/null 2>&1; }

start_driver() {
  "$run" "$prefix" "$driver" >>"$work/driver.out" 2>&1 &
  driver_pid=$!
  pids+=("$driver_pid")
}
driver_status() { local status=0; wait "$driver_pid" || status=$?; echo "$status"; }
running() { kill -0 "$driver_pid" 2>/dev/null; }
# A second start with --quit says 0 and the running driver ends, with status 0.
quit_driver() {
  local quit=0
  "$run" "$prefix" "$driver" --quit || quit=$?
  [[ $quit == 0 ]] || fail "--quit said $quit with a driver running"
  # Windows' process has ended; wine's process around it follows.
  wait_until "the driver ends after --quit said 0" not running
  local status
  status=$(driver_status)
  [[ $status == 0 ]] || fail "the driver ended with $status after --quit"
}

# The driver's windows that show on screen (X windows of its process).
shown_windows() { xdotool search --onlyvisible --class oru-driver.exe 2>/dev/null || true; }
shown_count() { (($(shown_windows | wc -l) >= $1)); }
windows_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -q .; }
geometry() {  # WINDOW -> "X Y W H"
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                           /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w, h}'
}
# Pixels of colour RRGGBB in the screen's area W x H at X, Y.
pixels_in() {  # RRGGBB X Y W H
  import -window root -crop "${4}x${5}+${2}+${3}" -depth 8 txt:- 2>/dev/null | grep -c " #$1 " || true
}

# The tray host: a strip at the top left; the square docks into it.
start_tray_host() {
  trayer --edge top --align left --widthtype pixel --width 100 --heighttype pixel --height 24 \
    --SetDockType false --transparent false >/dev/null 2>&1 &
  pids+=($!)
  wait_until "trayer's panel maps" panel_mapped
  read -r panel_x panel_y panel_w panel_h < <(geometry "$(xwininfo -name panel | awk '/Window id/ {print $4}')")
}
panel_mapped() { xwininfo -name panel >/dev/null 2>&1; }
# Pixels of colour RRGGBB in the panel.
panel_pixels() { pixels_in "$1" "$panel_x" "$panel_y" "$panel_w" "$panel_h"; }
# The square is 16 x 16 with "oru" on it: most of it keeps the state colour.
square_is() { (($(panel_pixels "$1") >= 150)); }

# The menu opens on the right button's press, at the cursor over the square.
find_tray_icon() {
  read -r icon_x icon_y < <(xdotool search --class explorer.exe 2>/dev/null | while read -r w; do
    read -r x y width height < <(geometry "$w")
    ((width >= 16 && width <= 32 && x >= panel_x && x < panel_x + panel_w && y < panel_y + panel_h)) &&
      echo $((x + width / 2)) $((y + height / 2)) && break
  done)
  [[ -n ${icon_x:-} ]] || fail "no tray icon window in the panel"
}
open_menu() {
  [[ -n ${icon_x:-} ]] || find_tray_icon
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
