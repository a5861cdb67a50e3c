#!/usr/bin/env bash
# The Windows setup program under wine: a silent install for this account and
# one for all accounts, each checked for its files, autostart, Start menu
# entries and "Apps" entry; then the silent uninstall from that entry's
# QuietUninstallString, which leaves nothing but the calibration, and with
# /REMOVECALIBRATION nothing at all.
#   windows_setup_test.sh WINE_RUN PREFIX SETUP_EXE VERSION WAIT_WINDOW_EXE START_CHECK
# START_CHECK 1 also starts the installed driver as a logon would (the Run
# key's command), waits for its window and ends it through the "Çıkış" entry's
# command (--quit); it needs the real Windows program, not a placeholder.
set -euo pipefail
wine_run=$1 prefix=$2 setup=$3 version=$4 wait_window=$5 start_check=$6

fail() { echo "FAIL: $*" >&2; exit 1; }
win() { "$wine_run" "$prefix" "$@"; }
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}
# A Windows path in the prefix as a path here.
unix_path() { win winepath -u "$1" | tr -d '\r'; }
# "name=data" lines of one key's values; nothing when the key is missing.
key_values() {
  win reg query "$1" 2>/dev/null | tr -d '\r' | sed -n 's/^    \(.*\)    REG_[A-Z_]*    \(.*\)$/\1=\2/p' || true
}
has_key() { win reg query "$1" >/dev/null 2>&1; }
# The text of a .lnk with its UTF-16 NULs dropped: enough to find the target and arguments.
link_text() { tr -d '\0' <"$1"; }

IFS='|' read -r local_app app_data program_data program_files < <(
  win cmd /c 'echo %LOCALAPPDATA%^|%APPDATA%^|%ProgramData%^|%ProgramFiles%' | tr -d '\r')

run_key='Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\oruDriver'
settings_key='Software\oruDriver'
links=("oruDriver.lnk" "oruDriver – Kalibre.lnk" "oruDriver – Çıkış.lnk")

# Nothing of an earlier, interrupted run may stay: a Run key left behind would
# start the driver whenever the prefix starts.
clean_up() {
  local root
  for root in HKCU HKLM; do
    win reg delete "$root\\$run_key" /v oruDriver /f >/dev/null 2>&1 || true
    win reg delete "$root\\$uninstall_key" /f >/dev/null 2>&1 || true
    win reg delete "$root\\$settings_key" /f >/dev/null 2>&1 || true
  done
}
trap clean_up EXIT
clean_up

rows=("CURRENTUSER|HKCU|$local_app\\Programs\\oruDriver|$app_data\\Microsoft\\Windows\\Start Menu\\Programs|HKLM"
      "ALLUSERS|HKLM|$program_files\\oruDriver|$program_data\\Microsoft\\Windows\\Start Menu\\Programs|HKCU"
      "CURRENTUSER|HKCU|$local_app\\oruChosen|$app_data\\Microsoft\\Windows\\Start Menu\\Programs|HKLM|/D=")
for row in "${rows[@]}"; do
  IFS='|' read -r mode root dir menu other chosen <<<"$row"
  # /D= names the folder, last on the line, silent or not.
  [[ -z $chosen ]] || chosen+=$dir
  unix_dir=$(unix_path "$dir")
  unix_menu=$(unix_path "$menu")
  for remove in 0 1; do
    name="$mode${chosen:+ $chosen}, removal $remove"
    # The calibration of this account and the machine's: only an uninstall
    # for all accounts may remove the machine's.
    win reg add "HKCU\\$settings_key" /v Edit1_Text /d 100 /f >/dev/null
    win reg add "HKLM\\$settings_key" /v Edit1_Text /d 90 /f >/dev/null

    # An earlier install for this account alone: the one for every account supersedes its autostart.
    [[ $mode != ALLUSERS ]] || win reg add "HKCU\\$run_key" /v oruDriver /d 'C:\old\oru-driver.exe' /f >/dev/null
    status=0; win "$setup" /S "/$mode" ${chosen:+"$chosen"} || status=$?
    ((status == 0)) || fail "$name: setup exit status $status"
    for file in oru-driver.exe uninstall.exe; do
      [[ -f $unix_dir/$file ]] || fail "$name: $dir\\$file missing"
    done
    run=$(key_values "$root\\$run_key")
    grep -qxF "oruDriver=\"$dir\\oru-driver.exe\"" <<<"$run" || fail "$name: no autostart in $root\\$run_key: $run"
    [[ -z $(key_values "$other\\$run_key" | grep '^oruDriver=') ]] || fail "$name: autostart in $other as well"
    for link in "${links[@]}"; do
      [[ -f $unix_menu/$link ]] || fail "$name: Start menu entry $link missing in $menu"
      link_text "$unix_menu/$link" | grep -qaF 'oru-driver.exe' || fail "$name: $link does not start oru-driver.exe"
    done
    link_text "$unix_menu/${links[1]}" | grep -qaF -- '--calibrate' || fail "$name: ${links[1]} lacks --calibrate"
    link_text "$unix_menu/${links[2]}" | grep -qaF -- '--quit' || fail "$name: ${links[2]} lacks --quit"
    ! link_text "$unix_menu/${links[0]}" | grep -qaF -- '--' || fail "$name: ${links[0]} passes an option"

    entry=$(key_values "$root\\$uninstall_key")
    for expected in "DisplayName=oruDriver" "DisplayVersion=$version" "Publisher=Oru" \
                    "DisplayIcon=$dir\\oru-driver.exe,0" "UninstallString=\"$dir\\uninstall.exe\" /$mode _?=$dir" \
                    "QuietUninstallString=\"$dir\\uninstall.exe\" /$mode /S _?=$dir"; do
      grep -qxF "$expected" <<<"$entry" || fail "$name: the Apps entry lacks $expected: $entry"
    done
    size=$(sed -n 's/^EstimatedSize=//p' <<<"$entry")
    (( size > 0 )) || fail "$name: EstimatedSize is '$size'"
    ! has_key "$other\\$uninstall_key" || fail "$name: an Apps entry in $other as well"

    if ((remove == 0)); then
      # An upgrade while a driver the setup can't end (another session's) holds the program file:
      # the new file in its place, or a status that says it is not.
      before=$(stat -c %i "$unix_dir/oru-driver.exe")
      mkfifo "$unix_dir.hold"
      win "$wait_window" --hold "$dir\oru-driver.exe" <"$unix_dir.hold" >"$unix_dir.held" &
      holder=$!
      exec {hold}>"$unix_dir.hold"
      wait_for 20 grep -q held "$unix_dir.held" || fail "$name: the program file could not be held"
      status=0; win "$setup" /S "/$mode" ${chosen:+"$chosen"} || status=$?
      exec {hold}>&-
      wait "$holder" || true
      rm -f "$unix_dir.hold" "$unix_dir.held"
      ((status != 0)) || [[ $(stat -c %i "$unix_dir/oru-driver.exe") != "$before" ]] ||
        fail "$name: the upgrade said 0 but left the held program file in place"
    fi
    if ((start_check)) && ((remove == 0)); then
      # As a logon starts it: the Run key's command.
      command=${run#oruDriver=}
      win "${command//\"/}" &
      driver=$!
      win "$wait_window" TMainForm 20 || fail "$name: the installed driver shows no main window"
      # A silent upgrade in this session ends the driver and starts the new one for this user.
      status=0; win "$setup" /S "/$mode" ${chosen:+"$chosen"} || status=$?
      ((status == 0)) || fail "$name: the upgrade over the running driver said $status"
      wait_for 10 eval '! kill -0 "$driver" 2>/dev/null' || fail "$name: the upgrade left the old driver running"
      win "$wait_window" TMainForm 20 || fail "$name: the upgrade did not start the driver again"
      status=0; win "$dir\\oru-driver.exe" --quit || status=$?
      ((status == 0)) || fail "$name: --quit exit status $status"
      win "$wait_window" TMainForm 10 gone || fail "$name: the driver did not end on --quit"
      wait "$driver" || true
    fi

    quiet=$(sed -n 's/^QuietUninstallString=//p' <<<"$entry")
    ((remove)) && quiet+=" /REMOVECALIBRATION"
    # "program" arguments, as Windows runs it.
    [[ $quiet =~ ^\"([^\"]+)\"\ (.*)$ ]] || fail "$name: QuietUninstallString is not \"program\" arguments: $quiet"
    read -ra arguments <<<"${BASH_REMATCH[2]}"
    status=0; win "${BASH_REMATCH[1]}" "${arguments[@]}" || status=$?
    ((status == 0)) || fail "$name: uninstall exit status $status"
    # The uninstall has ended when its string returns: a deployment script checks right after.
    ! has_key "$root\\$uninstall_key" || fail "$name: the Apps entry stays after uninstall"
    [[ ! -e $unix_dir/oru-driver.exe ]] || fail "$name: the program stays after uninstall"
    # The uninstaller's own file, open until it ended, goes right after.
    wait_for 10 eval '[[ ! -e $unix_dir ]]' || fail "$name: $dir stays: $(ls -A "$unix_dir")"
    for link in "${links[@]}"; do
      [[ ! -e $unix_menu/$link ]] || fail "$name: Start menu entry $link stays"
    done
    [[ -z $(key_values "$root\\$run_key" | grep '^oruDriver=') ]] || fail "$name: the autostart stays"
    own=$(key_values "HKCU\\$settings_key")
    machine=$(key_values "HKLM\\$settings_key")
    if ((remove)); then
      ! has_key "HKCU\\$settings_key" || fail "$name: the calibration stays: $own"
    else
      # A driver that ran saves its placement and texts beside it.
      grep -qxF "Edit1_Text=100" <<<"$own" || fail "$name: the calibration is not kept: '$own'"
    fi
    if ((remove)) && [[ $mode == ALLUSERS ]]; then
      ! has_key "HKLM\\$settings_key" || fail "$name: the machine's calibration stays: $machine"
    else
      [[ $machine == "Edit1_Text=90" ]] || fail "$name: the machine's calibration is not kept: '$machine'"
    fi
    win reg delete "HKLM\\$settings_key" /f >/dev/null 2>&1 || true
    echo "ok: $name"
  done
done
