#!/bin/bash
# Second stage of the test guest, run by bash from the host's own root (with a
# tmpfs on top, the usual mounts made by the first stage): the test user,
# systemd-udevd with the devices announced, then the run's one command. Its
# output goes to the run's directory and the console, its exit status to the
# file "status"; then the guest powers off. tests/kernel/vm-run.sh copies this file into the run's
# directory and reads what it leaves there.
run=$1
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
uptime() {
  local seconds _
  read -r seconds _ </proc/uptime
  echo "$seconds"
}
say() { echo "oru-vm [$(uptime)]: $*" >/dev/console; }
power_off() {
  sync
  echo o >/proc/sysrq-trigger
  sleep 30
}
fail() {
  say "$*"
  echo "oru-vm: $*" >>"$run/output"
  power_off
}
trap power_off EXIT

# shellcheck source=/dev/null
source "$run/config" || fail "cannot read $run/config"

say "second stage"
# The unprivileged test user (only in the guest's own /etc), before udevd
# starts: a rule may name it.
if ! getent passwd oru-test >/dev/null; then
  echo "oru-test:x:4242:4242:oruDriver test user:/home/oru-test:/bin/bash" >>/etc/passwd
  echo "oru-test:x:4242:" >>/etc/group
  echo "oru-test:*:19000::::::" >>/etc/shadow  # for PAM's account check in a logind session
  mkdir -p /home/oru-test
  chown 4242:4242 /home/oru-test
fi

# A valid system font cache, made while udev settles. Without one every Qt
# program of a fresh user (as the tests' are) scans the fonts itself, over
# 9p under TCG: seconds per start. The host's cache is used when it is valid.
fonts=
if command -v fc-cache >/dev/null; then
  fc-cache --system-only &
  fonts=$!
fi

# udev as on a desktop: the daemon, then the devices of the subsystems the
# tests look at announced once (all of them would take seconds more under
# TCG), then settled. Devices added later go through udevd as usual.
# Under systemd as init (vm-run.sh --init systemd) udevd runs and every
# device has been announced already.
udevd=/lib/systemd/systemd-udevd
[[ -x $udevd ]] || fail "$udevd missing: install the Debian package udev"
[[ -d /run/systemd/system ]] || "$udevd" --daemon || fail "systemd-udevd did not start"
[[ -d /run/systemd/system ]] || udevadm trigger --action=add --type=devices --subsystem-match=hid --subsystem-match=hidraw \
  --subsystem-match=usb --subsystem-match=misc --subsystem-match=udc
udevadm settle --timeout=60 || say "udevadm settle timed out"
[[ -z $fonts ]] || wait "$fonts"
say "udev settled"

user=${ORU_VM_USER:-root}
entry=$(getent passwd "$user") || fail "no user $user in the guest"
IFS=: read -r _ _ uid gid _ home _ <<<"$entry"
environment=(PATH="$PATH" HOME="$home" USER="$user" LOGNAME="$user" LANG=C.UTF-8 TERM=dumb
  ORU_VM_RUN="$run" "${ORU_VM_ENV[@]}")
if [[ $user == root ]]; then
  runner=()
else
  runner=(setpriv --reuid="$uid" --regid="$gid" --init-groups --inh-caps=-all)
fi
cd "$ORU_VM_CWD" 2>/dev/null || cd /
uptime >"$run/boot-seconds"
say "running the command as $user"
"${runner[@]}" env -i "${environment[@]}" /bin/bash "$run/command" </dev/null 2>&1 | tee "$run/output" >/dev/console
status=${PIPESTATUS[0]}
uptime >"$run/end-seconds"
echo "$status" >"$run/status"
power_off
