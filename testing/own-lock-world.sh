#!/usr/bin/env bash
# own-lock-world.sh COMMAND [ARG...]: runs COMMAND in a lock world of its own.
#
# The driver allows one instance per user through a lock in the user's
# runtime folders (/run/user/<uid>, else /tmp/oruDriver-<uid>), which a test's
# driver would share with the user's own running driver and with the drivers
# of a second test run: the later one ends silently. COMMAND runs in a private
# mount namespace where /run/user holds only an empty runtime folder of this
# user (or, where there is no /run/user, /tmp/oruDriver-<uid> is an empty
# private folder), so the drivers it starts meet only each other, and the
# driver's own rule stays as it is. Everything else (/tmp, the X server's
# sockets, the test's folders) is shared as before.
#
# As root the namespace needs nothing else; another user gets one through a
# user namespace and keeps its own uid and gid in it. Where no namespace can
# be made (user namespaces switched off), COMMAND runs as it is after a line
# on stderr saying so. COMMAND takes this process's place (same process id),
# so whoever started it can signal and wait for it as before.
#
# testing/harness/DriverProcess starts every driver of the X harness through
# this; the program tests (tests/app/program_test_common.sh) run whole in it.
set -euo pipefail

note() { echo "own-lock-world: $*" >&2; }

if [[ ${1:-} == --inside ]]; then
  # In the new mount namespace, able to mount: uid and gid are the user's
  # outside; mapped 1 when this shell is uid 0 of a user namespace.
  mapped=$2 uid=$3 gid=$4
  shift 4
  if [[ -d /run/user ]]; then
    mounted=(mount -t tmpfs -o mode=0755,size=1m oru-lock-world /run/user)
    folder=/run/user/$uid
  else
    mkdir -p -m 0700 "/tmp/oruDriver-$uid" 2>/dev/null || true
    mounted=(mount -t tmpfs -o mode=0700,size=1m oru-lock-world "/tmp/oruDriver-$uid")
    folder=
  fi
  if ! "${mounted[@]}"; then
    note "cannot mount a private folder for the single-instance lock; the command shares this user's lock"
  elif [[ -n $folder ]]; then
    mkdir -m 0700 "$folder"
    # In a user namespace what this shell makes belongs to the user already.
    ((mapped)) || chown "$uid:$gid" "$folder"
  fi
  ((mapped)) || exec "$@"
  # Back to the user's own ids, so the driver sees itself as that user.
  exec unshare --user --map-user="$uid" --map-group="$gid" -- "$@"
fi

(($# > 0)) || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
uid=$(id -u) gid=$(id -g)
# Already in one (a program test whose drivers start through the harness).
[[ ${ORU_OWN_LOCK_WORLD:-} == "$uid" ]] && exec "$@"
if ((uid == 0)); then
  namespace=(unshare --mount --propagation private) mapped=0
else
  namespace=(unshare --user --map-root-user --mount --propagation private) mapped=1
fi
if ! "${namespace[@]}" true 2>/dev/null; then
  note "cannot make a private mount namespace (${namespace[*]}); the command shares this user's single-instance lock"
  exec "$@"
fi
export ORU_OWN_LOCK_WORLD=$uid
exec "${namespace[@]}" -- "$0" --inside "$mapped" "$uid" "$gid" "$@"
