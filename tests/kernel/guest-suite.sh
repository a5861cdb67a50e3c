#!/usr/bin/env bash
# The kernel stage's parts, run as root inside the test guest in one boot
# (tests/kernel/vm-run.sh; tests/kernel/kernel-stage.sh starts it):
#   hidraw     the hidraw backend and the controller (oru-test-hid-kernel)
#   udev-rule  the shipped rule, applied by systemd-udevd, tags the tracker's
#              node uaccess: uhid devices and a USB device (dummy_hcd with a
#              HID gadget), with other IDs as counter-rows
#   record     oru-record prints the reports of a uhid and a USB tracker; a
#              user the node isn't given to is told which rule to install
#   driver     the whole driver on Xvfb (oru-kernel-scenario), also with a
#              node the user can't open until the rule is there
# Each part leaves PART.log and PART.status (its exit status) in RESULTS.
#
#   guest-suite.sh SOURCE_DIR BUILD_DIR RESULTS_DIR [PART...]
set -uo pipefail
top=${1:?usage: guest-suite.sh SOURCE_DIR BUILD_DIR RESULTS_DIR [PART...]}
build=${2:?}
results=${3:?}
shift 3
parts=("$@")
((${#parts[@]})) || parts=(hidraw udev-rule record driver)
mkdir -p "$results"

tracker_program=$build/tests/oru-uhid-tracker
test_user=oru-test  # made by the guest; the stand-in for the seat's user below
limit=20            # seconds for any one event: the guest runs under TCG

# The shipped rule, installed as docs/administration.md says; and a stand-in for the
# seat manager (logind), which a desktop has and the guest has not: the user
# at the seat gets every hidraw node that a rule tagged "uaccess". logind
# does it with an ACL; owning the node gives the same access.
install -m 644 "$top/packaging/70-oru-pen-tracker.rules" /etc/udev/rules.d/
echo "SUBSYSTEM==\"hidraw\", TAG==\"uaccess\", OWNER=\"$test_user\"" >/etc/udev/rules.d/73-oru-test-seat.rules
udevadm control --reload

# --- the emulated tracker through oru-uhid-tracker, one at a time

tracker_start() {
  coproc TRACKER { "$tracker_program"; }
}
# tracker COMMAND: sends one command, sets $reply to its answer.
tracker() {
  echo "$*" >&"${TRACKER[1]}"
  reply=
  read -r -t "$limit" reply <&"${TRACKER[0]}"
}
tracker_stop() {
  tracker quit
  wait "$TRACKER_PID" 2>/dev/null
}

# --- a USB pen tracker: dummy_hcd's device side with a HID function (gadget)

gadget=/sys/kernel/config/usb_gadget/oru-pen
usb_plug() {  # VENDOR PRODUCT: sets $node to the hidraw node it gets
  local before udc
  before=$(ls /dev/hidraw* 2>/dev/null)
  mkdir -p "$gadget/strings/0x409" "$gadget/configs/c.1" "$gadget/functions/hid.usb0" || return 1
  echo "0x$1" >"$gadget/idVendor"
  echo "0x$2" >"$gadget/idProduct"
  echo 0x0100 >"$gadget/bcdDevice"
  echo "Pen Tracker" >"$gadget/strings/0x409/product"
  echo 5 >"$gadget/functions/hid.usb0/report_length"
  # The tracker's descriptor (testing/fakes/EmulatedPenTracker.h).
  printf '\x06\x00\xff\x09\x01\xa1\x01\x15\x00\x26\xff\x00\x75\x08\x95\x05\x09\x01\x81\x02\xc0' \
    >"$gadget/functions/hid.usb0/report_desc"
  ln -s "$gadget/functions/hid.usb0" "$gadget/configs/c.1/"
  udc=$(ls /sys/class/udc | head -n1)
  [[ -n $udc ]] || { echo "no USB device controller (dummy_hcd)"; return 1; }
  echo "$udc" >"$gadget/UDC"
  local deadline=$((SECONDS + limit))
  node=
  while [[ -z $node ]] && ((SECONDS < deadline)); do
    node=$(comm -13 <(echo "$before") <(ls /dev/hidraw* 2>/dev/null) | head -n1)
    [[ -n $node ]] || sleep 0.05
  done
  [[ -n $node ]] || { echo "the USB tracker got no hidraw node"; return 1; }
}
usb_unplug() {
  echo "" >"$gadget/UDC" 2>/dev/null
  rm -f "$gadget/configs/c.1/hid.usb0"
  rmdir "$gadget/configs/c.1" "$gadget/functions/hid.usb0" "$gadget/strings/0x409" "$gadget" 2>/dev/null
  udevadm settle
}

# --- parts

part_hidraw() {
  "$build/tests/oru-test-hid-kernel" --gtest_color=no
}

part_udev_rule() {
  local failed=0 row kind ids expected tags verdict
  # kind ids expected-tag
  local rows=(
    "uhid 0020:0002 uaccess"
    "uhid-numbered 0020:0002 uaccess"
    "uhid 0020:0003 -"
    "uhid 046D:C31C -"
    "usb 0020:0002 uaccess"
    "usb 0020:0003 -"
  )
  for row in "${rows[@]}"; do
    read -r kind ids expected <<<"$row"
    node=
    case $kind in
      uhid*)
        tracker_start
        if [[ $kind == uhid-numbered ]]; then tracker plug ids "$ids" numbered; else tracker plug ids "$ids"; fi
        node=$(awk '{ print $2 }' <<<"$reply")
        ;;
      usb) usb_plug "${ids%:*}" "${ids#*:}" ;;
    esac
    udevadm settle
    tags=$(udevadm info --query=property --name="$node" 2>&1 | sed -n 's/^TAGS=//p')
    owner=$(stat -c %U "$node" 2>&1)
    if [[ $expected == - ]]; then
      [[ -n $node && $tags != *:uaccess:* && $owner == root ]] && verdict=ok || verdict=FAILED
    else
      [[ $tags == *:uaccess:* && $owner == "$test_user" ]] && verdict=ok || verdict=FAILED
    fi
    [[ $verdict == ok ]] || failed=1
    echo "$verdict $kind $ids: node ${node:-none}, TAGS=${tags:-none}, owner $owner (expected tag: $expected)"
    [[ $verdict == ok ]] || udevadm info --name="$node" 2>&1 | sed 's/^/    /'
    case $kind in
      uhid*) tracker_stop ;;
      usb) usb_unplug ;;
    esac
  done
  return "$failed"
}

# node_open_by PID NODE: the process has NODE open.
node_open_by() {
  local fd
  for fd in /proc/"$1"/fd/*; do
    [[ $(readlink "$fd" 2>/dev/null) == "$2" ]] && return 0
  done
  return 1
}

# record_row KIND USER: oru-record as USER with a tracker of KIND (uhid|usb)
# that sends three reports; checks its lines.
record_row() {
  local kind=$1 user=$2 out err pid status lines version deadline
  out=$(mktemp) err=$(mktemp)
  case $kind in
    uhid) tracker_start; tracker plug; node=$(awk '{ print $2 }' <<<"$reply"); version=0000 ;;
    usb) usb_plug 0020 0002; version=0100 ;;
  esac
  udevadm settle
  setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --clear-groups "$build/bin/oru-record" \
    >"$out" 2>"$err" &
  pid=$!
  local verdict=ok detail=
  if [[ $user == "$test_user" ]]; then
    # It reads once its reader thread has the node open: hidraw keeps reports
    # only for readers that have it open, and the header line comes before
    # that. Seen open at two looks in a row: the access check's open is brief.
    deadline=$((SECONDS + limit))
    local seen=0
    until ((seen >= 2)) || ((SECONDS >= deadline)) || ! kill -0 "$pid" 2>/dev/null; do
      if node_open_by "$pid" "$node"; then seen=$((seen + 1)); else seen=0; fi
      ((seen >= 2)) || sleep 0.05
    done
    local reports=("41 02 10 20 AB" "00 00 00 00 00" "5E 00 0A FF 80")
    for report in "${reports[@]}"; do
      case $kind in
        uhid) tracker report "${report// /}" ;;
        # One write per report: the gadget sends what one write() gives.
        usb) printf "$(sed 's/\([0-9A-F][0-9A-F]\) */\\x\1/g' <<<"$report")" |
          dd of=/dev/hidg0 bs=5 count=1 iflag=fullblock status=none ;;
      esac
    done
    deadline=$((SECONDS + limit))
    until (($(wc -l <"$out") >= 4)) || ((SECONDS >= deadline)); do sleep 0.05; done
    kill -INT "$pid"
    wait "$pid"
    status=$?
    mapfile -t lines <"$out"
    [[ $status == 0 ]] || { verdict=FAILED; detail+=" exit status $status;"; }
    [[ ${lines[0]:-} == *"pen tracker $node (0003:0020:0002."*", vendor 0020, product 0002, version $version)"* ]] ||
      { verdict=FAILED; detail+=" header;"; }
    for i in 0 1 2; do
      [[ ${lines[i + 1]:-} == "report "*" ${reports[i]}" ]] || { verdict=FAILED; detail+=" report $i;"; }
    done
  else
    deadline=$((SECONDS + limit))
    while kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.05; done
    kill "$pid" 2>/dev/null
    wait "$pid"
    status=$?
    [[ $status == 2 ]] || { verdict=FAILED; detail+=" exit status $status, not 2;"; }
    grep -q "70-oru-pen-tracker.rules" "$err" || { verdict=FAILED; detail+=" no rule named;"; }
  fi
  echo "$verdict oru-record as $user, $kind tracker $node:$detail"
  sed 's/^/    out: /' "$out"
  sed 's/^/    err: /' "$err"
  case $kind in
    uhid) tracker_stop ;;
    usb) usb_unplug ;;
  esac
  rm -f "$out" "$err"
  [[ $verdict == ok ]]
}

part_record() {
  local failed=0
  record_row uhid "$test_user" || failed=1
  record_row usb "$test_user" || failed=1
  record_row uhid nobody || failed=1
  return "$failed"
}

part_driver() {
  (
    # shellcheck source=../../testing/x-session.sh
    source "$top/testing/x-session.sh"
    oru_session_start "$(mktemp -d /tmp/oru-x.XXXXXX)" 1280x800 || exit 1
    "$build/tests/oru-kernel-scenario" --driver "$build/bin/oru-driver" --user "$(id -u "$test_user")" \
      --home "$(mktemp -d /tmp/oru-user.XXXXXX)" --log "$results/driver-program.log" \
      --seat-rule /etc/udev/rules.d/73-oru-test-seat.rules ${ORU_KERNEL_SCENARIO_ARGS:-}
    status=$?
    echo "--- the driver's output:"
    cat "$results/driver-program.log"
    exit "$status"
  )
}

overall=0
for part in "${parts[@]}"; do
  started=$SECONDS
  echo "=== $part"
  "part_${part//-/_}" >"$results/$part.log" 2>&1
  status=$?
  echo "$status" >"$results/$part.status"
  cat "$results/$part.log"
  echo "=== $part: exit status $status ($((SECONDS - started)) s)"
  ((status == 0)) || overall=1
done
exit "$overall"
