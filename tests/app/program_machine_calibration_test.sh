#!/usr/bin/env bash
# One calibration for every account of a shared machine, as processes:
# `oru-driver --save-for-all-users` writes a store every account can read (no
# display needed) and refuses what it must; a fresh account with only that
# store starts without a calibration window and saves no calibration of its
# own at its end. Run under xvfb-run; needs no root (when run as root, the
# refusal row runs as nobody, since root ignores folder permissions).
set -euo pipefail

driver=${1:?usage: program_machine_calibration_test.sh DRIVER}
kill_signal=KILL
source "${BASH_SOURCE[0]%/*}/program_test_common.sh"
chmod 755 "$work"
export QT_QPA_PLATFORM=xcb
unset SUDO_USER SUDO_UID SUDO_GID XDG_CONFIG_DIRS

# account NAME [calibrated]: a fresh account with an empty log; calibrated
# when asked, with the texts the user's store keeps.
account() {
  fresh_account "$1"
  : >"$log"
  if [[ ${2:-} == calibrated ]]; then
    mkdir -p "$XDG_CONFIG_HOME/oruDriver"
    printf '[Software\\oruDriver]\n"FormVersion" = int 0\n' >"$XDG_CONFIG_HOME/oruDriver/store.conf"
    local i texts=(100 -150 550 -160 110 -500 540 -510)
    for i in {0..7}; do
      printf '"Edit%d_Text" = text "%s"\n' $((i + 1)) "${texts[i]}" >>"$XDG_CONFIG_HOME/oruDriver/store.conf"
    done
  fi
}
# save_for_all TARGET_DIRS: the administrator's command, without a display.
run_as=()
save_for_all() {
  "${run_as[@]}" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_DIRS="$1" "$driver" --save-for-all-users \
    >"${save_out:-$work/save.out}" 2>>"$log"
}
calibration_values() { grep -c '"Edit[1-8]_Text"' "$1" || true; }

save_writes_a_store_for_all() {
  account admin calibrated
  # As root, a home of another user refuses a plain start, but not this command.
  ((EUID == 0)) && chown -R 65534:65534 "$(dirname "$HOME")"
  local target=$work/xdg-save s=0
  save_for_all "relative::$target:/etc/xdg" || s=$?
  ((s == 0)) || fail "exit status $s"
  local file=$target/oruDriver/store.conf
  [[ -f $file ]] || fail "no store at $file"
  [[ $(stat -c %a "$file") == 644 ]] || fail "store mode $(stat -c %a "$file"), expected 644"
  [[ $(stat -c %a "$target/oruDriver") == 755 ]] || fail "folder mode $(stat -c %a "$target/oruDriver")"
  grep -q -- "$file" "$work/save.out" || fail "does not say where it saved: $(cat "$work/save.out")"
  (($(calibration_values "$file") == 8)) || fail "the store does not hold the eight texts"
  ! grep -q FormVersion "$file" || fail "the store holds more than the calibration"
  grep -q '"Edit2_Text" = text "-150"' "$file" || fail "the store does not hold the admin's texts"
  [[ -z $(find "$target" -name '*.tmp-*') ]] || fail "a temporary file was left"
  # Saved, but its line lost to a full output: said on stderr, status 1.
  s=0; save_out=/dev/full save_for_all "$target" || s=$?
  ((s == 1)) && said "is saved for every account .*could not be written to standard output" ||
    fail "a save whose line was lost: status $s"
}

save_refusals() {
  local row name arrange target message s
  local rows=("no own calibration|account plain|$work/xdg-refuse|calibrate first"
              "all texts equal|account flat calibrated; sed -i 's/text \"[-0-9]*\"/text \"7\"/' \$XDG_CONFIG_HOME/oruDriver/store.conf|$work/xdg-refuse|can't be fitted"
              "damaged own store|account broken calibrated; echo garbage >>\$XDG_CONFIG_HOME/oruDriver/store.conf|$work/xdg-refuse|damaged"
              "read-only target folder|account readonly calibrated; mkdir -p $work/ro; chmod 555 $work/ro|$work/ro/xdg|run it as root: sudo oru-driver --save-for-all-users")
  for row in "${rows[@]}"; do
    IFS='|' read -r name arrange target message <<<"$row"
    eval "$arrange"
    if ((EUID == 0)); then
      # Root ignores the folder's mode: refuse as an ordinary user would be refused.
      chown -R 65534:65534 "$(dirname "$HOME")"
      run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    fi
    s=0; save_for_all "$target" || s=$?
    run_as=()
    ((s == 1)) || fail "$name: exit status $s, expected 1"
    said "$message" || fail "$name: stderr does not say '$message'"
    [[ ! -e $target/oruDriver/store.conf ]] || fail "$name: a store was written"
  done
}

# The tray icon: the driver's small docked window; its menu: a wider one.
icon() { driver_windows | awk '$4 <= 32 && $5 <= 32 { print; exit }' | grep .; }
menu() { driver_windows | awk '$4 > 32 && $4 <= 150 { print; exit }' | grep .; }
tray_host_up() { [[ -n $(xdotool search --onlyvisible --class '^trayer$' 2>/dev/null) ]]; }

fresh_account_uses_the_machines() {
  account admin calibrated
  local machine=$work/xdg-machine
  save_for_all "$machine" || fail "the machine's store could not be saved"
  account student
  export XDG_CONFIG_DIRS=relative::$machine
  trayer --edge top --align right --widthtype request --height 24 --transparent false --SetDockType true &
  pids+=($!)
  wait_for 10 tray_host_up || fail "the tray host did not start"
  "$driver" 2>>"$log" &
  pid=$!
  pids+=("$pid")
  local x y width height s
  wait_for 15 icon >/dev/null || fail "the icon did not dock in the tray; windows: $(driver_windows)"
  read -r _ x y width height < <(icon)
  # The menu opens only once the event loop has run the first show, which
  # would have put the calibration window up first.
  xdotool mousemove $((x + width / 2)) $((y + height / 2)) click 3
  if ! wait_for 10 menu >/dev/null; then
    calibration_up && fail "a calibration window is up although the machine has a calibration"
    fail "the tray menu did not open"
  fi
  ! calibration_up || fail "a calibration window is up although the machine has a calibration"
  # "Çıkış", the last entry: the end saves the account's settings.
  read -r _ x y width height < <(menu)
  xdotool mousemove $((x + width / 2)) $((y + height - 11)) click 1
  wait_for 10 gone "$pid" || fail "the driver did not end on \"Çıkış\""
  s=0; wait "$pid" || s=$?
  ((s == 0)) || fail "exit status $s"
  local store=$XDG_CONFIG_HOME/oruDriver/store.conf
  [[ -f $store ]] || fail "nothing was saved at the end"
  grep -q FormVersion "$store" || fail "the account's other settings were not saved"
  (($(calibration_values "$store") == 0)) || fail "the machine's calibration was frozen into the account's store"
  ! said "machine's calibration" || fail "the machine's calibration was refused"
}

cases=("save_writes_a_store_for_all|--save-for-all-users writes the admin's calibration, mode 0644, without a display"
       "save_refusals|--save-for-all-users refuses without a calibration, with one that can't serve, a damaged store, without rights"
       "fresh_account_uses_the_machines|a fresh account starts on the machine's calibration and never saves it")
run_cases "program machine calibration test"
