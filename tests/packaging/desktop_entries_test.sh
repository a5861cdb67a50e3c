#!/usr/bin/env bash
# The desktop entries as a desktop reads them: both valid by
# desktop-file-validate (hints allowed, errors not), and the menu entry's
# actions, which stand in for the tray where there is none (GNOME shows them on
# the application's icon), name commands the built driver takes.
# usage: desktop_entries_test.sh PACKAGING_DIR DRIVER
set -euo pipefail
packaging=${1:?usage: desktop_entries_test.sh PACKAGING_DIR DRIVER}
driver=${2:?}
fail() { echo "FAIL: $*" >&2; exit 1; }

for entry in oru-driver.desktop oru-driver-autostart.desktop; do
  desktop-file-validate "$packaging/$entry" || fail "$entry does not validate"
done

# value FILE GROUP KEY: the key's value in the group.
value() {
  awk -v group="[$2]" -v key="$3" '/^\[/ { in_group = ($0 == group); next }
    in_group && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }' "$1"
}
entry=$packaging/oru-driver.desktop
[[ $(value "$entry" "Desktop Entry" Actions) == "Kalibre;Cikis;" ]] || fail "the actions are not Kalibre and Cikis"
help=$("$driver" --help)
rows=("Kalibre|Kalibre|oru-driver --calibrate" "Cikis|Çıkış|oru-driver --quit")
for row in "${rows[@]}"; do
  IFS='|' read -r action name exec <<<"$row"
  [[ $(value "$entry" "Desktop Action $action" Name) == "$name" ]] || fail "action $action is not named $name"
  [[ $(value "$entry" "Desktop Action $action" Exec) == "$exec" ]] || fail "action $action does not run $exec"
  [[ $help == *"  ${exec#oru-driver } "* ]] || fail "the driver's --help has no ${exec#oru-driver }"
done
echo "desktop entries test passed"
