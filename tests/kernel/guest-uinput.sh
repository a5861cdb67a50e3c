#!/usr/bin/env bash
# The uinput pointer in the test guest, as root (tests/kernel/vm-run.sh):
# the shipped rule 71-oru-uinput.rules applied by systemd-udevd to
# /dev/uinput, then oru-uinput-scenario (the backend's device, the driver's
# pen sequence against oru-replay, the ends, no access). Leaves its output
# in RESULTS/uinput.log and the driver's in RESULTS/uinput-driver.log*.
#
#   guest-uinput.sh SOURCE_DIR BUILD_DIR RESULTS_DIR
set -uo pipefail
top=${1:?usage: guest-uinput.sh SOURCE_DIR BUILD_DIR RESULTS_DIR}
build=${2:?}
results=${3:?}
mkdir -p "$results"
test_user=oru-test  # made by the guest; the stand-in for the seat's user below
failed=0
verdict() {  # verdict OK WHAT DETAIL
  if [[ $1 == 0 ]]; then echo "ok $2"; else echo "FAILED $2 ($3)"; failed=1; fi
}

# The shipped rules as docs/administration.md installs them, and a stand-in for the seat
# manager (logind), which a desktop has and the guest has not: the user at the
# seat gets every node a rule tagged "uaccess" (logind gives an ACL; owning
# the node gives the same access).
install -m 644 "$top/packaging/70-oru-pen-tracker.rules" "$top/packaging/71-oru-uinput.rules" /etc/udev/rules.d/
cat >/etc/udev/rules.d/73-oru-test-seat.rules <<RULES
SUBSYSTEM=="hidraw", TAG=="uaccess", OWNER="$test_user"
SUBSYSTEM=="misc", KERNEL=="uinput", TAG=="uaccess", OWNER="$test_user"
RULES
modprobe uinput 2>/dev/null
udevadm control --reload
udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput
udevadm settle --timeout=30
tags=$(udevadm info --query=property --name=/dev/uinput | sed -n 's/^TAGS=//p')
owner=$(stat -c %U /dev/uinput)
[[ $tags == *:uaccess:* && $owner == "$test_user" ]]
verdict $? "udev rule: /dev/uinput tagged uaccess and given to the seat's user" "TAGS=${tags:-none}, owner $owner"

home=$(mktemp -d /tmp/oru-user.XXXXXX)
"$build/tests/oru-uinput-scenario" --driver "$build/bin/oru-driver" --replay "$build/bin/oru-replay" \
  --user "$(id -u "$test_user")" --home "$home" --log "$results/uinput-driver.log" | tee "$results/uinput.log"
((PIPESTATUS[0] == 0)) || failed=1
exit "$failed"
