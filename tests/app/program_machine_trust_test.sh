#!/usr/bin/env bash
# The machine's calibration against a hostile account, as processes: root
# runs `oru-driver --save-for-all-users` for an account this test makes (and
# removes), whose links and folders point where that account may not go; and
# that account's driver meets machine stores someone besides root could have
# written. Root reads the account's store only with the account's rights,
# writes through no link into no folder another user can write, and every
# account ignores a store that is not root's alone. Needs root (else status
# 77: skipped) and useradd; run under xvfb-run.
set -euo pipefail

driver=${1:?usage: program_machine_trust_test.sh DRIVER}
((EUID == 0)) || { echo "skipped: needs root to make an account and own its files"; exit 77; }
command -v useradd >/dev/null || { echo "skipped: no useradd"; exit 77; }
kill_signal=KILL
source "${BASH_SOURCE[0]%/*}/program_test_common.sh"
chmod 755 "$work"
export QT_QPA_PLATFORM=xcb
unset SUDO_USER SUDO_UID SUDO_GID XDG_CONFIG_DIRS XDG_CONFIG_HOME

user=oru-trust-$$
home=$work/home
useradd --home-dir "$home" --create-home --user-group --shell /usr/sbin/nologin "$user"
trap 'cleanup; userdel --force "$user" 2>/dev/null || true' EXIT
uid=$(id -u "$user") gid=$(id -g "$user")
as_user() { setpriv --reuid="$uid" --regid="$gid" --init-groups "$@"; }
as_user test -x "$driver" || { echo "skipped: $user can't run $driver"; exit 77; }
log=$work/driver.log

# A store of eight calibration texts (Edit1..Edit8) into FILE.
store() {
  local i texts=("${@:2}")
  printf '[Software\\oruDriver]\n' >"$1"
  for i in {0..7}; do printf '"Edit%d_Text" = text "%s"\n' $((i + 1)) "${texts[i]}" >>"$1"; done
}
good=(100 -150 550 -160 110 -500 540 -510)
# The account's own store, as its driver would have left it.
own_store() {
  as_user mkdir -p "$home/.config/oruDriver"
  store "$home/.config/oruDriver/store.conf" "${good[@]}"
  chown "$user:" "$home/.config/oruDriver/store.conf"
}
# A folder of root's, mode 0755, for the account's links to point at.
root_folder() { mkdir -p "$1"; chmod 755 "$1"; }

# read_only_at DIR COMMAND...: runs the command with a read-only file system on DIR (seen by it alone).
read_only_at() {
  local dir=$1; shift
  unshare --mount --propagation private sh -c 'mount -t tmpfs -o ro tmpfs "$0" && exec "$@"' "$dir" "$@"
}

save_for_the_account() {
  local row name arrange target want message forbidden s n=0
  local rows=(
    "own store|own_store|@|0|calibration is saved for every account|"
    "store linked to a root-only file|as_user mkdir -p $home/.config/oruDriver; store $work/secret hunter2-secret 2 3 4 5 6 7 8; chmod 600 $work/secret; ln -s $work/secret $home/.config/oruDriver/store.conf|@|1|cannot read $user's settings|hunter2"
    "store linked to a file of root's group|as_user mkdir -p $home/.config/oruDriver; store $work/secret hunter2-secret 2 3 4 5 6 7 8; chmod 640 $work/secret; ln -sf $work/secret $home/.config/oruDriver/store.conf|@|1|cannot read $user's settings|hunter2"
    "settings folder linked to another user's private one|as_user mkdir -p $home/.config; mkdir -p $work/other; store $work/other/store.conf ${good[*]}; chown -R 65534:65534 $work/other; chmod 700 $work/other; as_user ln -s $work/other $home/.config/oruDriver|@|1|cannot read $user's settings|with sudo"
    "machine folder a link to a root folder|own_store; root_folder $work/victim; mkdir -p @; chown $user: @; ln -s $work/victim @/oruDriver|@|1|is a symbolic link|"
    "first XDG_CONFIG_DIRS entry a link|own_store; root_folder $work/victim; ln -s $work/victim @|@|1|is a symbolic link|"
    "machine folder the account's, open to all|own_store; mkdir -p @/oruDriver; chown -R $user: @; chmod 777 @/oruDriver|@|1|belongs to user $user|"
    "machine folder root's, open to all|own_store; mkdir -p @/oruDriver; chmod 777 @/oruDriver|@|0|it was set to 0755|"
    "read-only file system|if ! read_only_at $work true 2>/dev/null; then echo '   (read-only row skipped: no mount here)'; continue; fi; own_store; root_folder @; wrap=(read_only_at @)|@|1|mounted read-only|run it as root")
  for row in "${rows[@]}"; do
    IFS='|' read -r name arrange target want message forbidden <<<"$row"
    n=$((n + 1))
    target=$work/xdg-$n
    rm -rf "$home/.config" "$work/victim"
    : >"$log"
    wrap=()
    eval "${arrange//@/$target}"
    # As sudo leaves it: root, root's HOME, and who ran it.
    s=0; "${wrap[@]}" env -i PATH="$PATH" HOME=/root SUDO_UID="$uid" SUDO_GID="$gid" SUDO_USER="$user" \
      XDG_CONFIG_DIRS="$target" "$driver" --save-for-all-users >>"$log" 2>&1 || s=$?
    ((s == want)) || fail "$name: exit status $s, expected $want"
    said "$message" || fail "$name: the output does not say '$message'"
    [[ -z $forbidden ]] || ! said "$forbidden" || fail "$name: the output says '$forbidden'"
    local saved=$target/oruDriver/store.conf
    if ((want == 0)); then
      [[ $(stat -c %U:%a "$target/oruDriver" "$saved") == $'root:755\nroot:644' ]] ||
        fail "$name: folder and store are $(stat -c %U:%a "$target/oruDriver" "$saved" | tr '\n' ' ')"
      grep -q '"Edit4_Text" = text "-160"' "$saved" || fail "$name: the account's texts were not saved"
    else
      [[ ! -e $saved && ! -e $work/victim/store.conf && ! -e $work/victim/oruDriver ]] ||
        fail "$name: a store was written"
    fi
  done
}

# The account may stop (SIGSTOP) the process that reads its store with its
# rights: root's command ends it after a bound and says so. The reader is held
# in its first look at the groups, at a FIFO standing for /etc/group, and
# stopped there.
stopped_reader_is_ended() {
  own_store
  mkfifo "$work/group"
  : >"$log"
  local target=$work/xdg-stopped saver reader s=0
  env -i PATH="$PATH" HOME=/root SUDO_UID="$uid" SUDO_GID="$gid" SUDO_USER="$user" XDG_CONFIG_DIRS="$target" \
    unshare --mount --propagation private sh -c 'mount --bind "$0" /etc/group && exec "$@"' "$work/group" \
    "$driver" --save-for-all-users >>"$log" 2>&1 &
  saver=$!
  pids+=("$saver")
  wait_for 10 pgrep -P "$saver" >/dev/null || fail "no reader with the account's rights"
  reader=$(pgrep -P "$saver")
  kill -STOP "$reader"
  wait_for 20 gone "$saver" || fail "the command waits for good on the stopped reader"
  wait "$saver" || s=$?
  ((s == 1)) || fail "exit status $s, expected 1"
  said "could not be read in time" || fail "the command does not say the store could not be read in time"
  gone "$reader" || fail "the stopped reader was left behind"
  [[ ! -e $target/oruDriver/store.conf ]] || fail "a store was written"
}


account_ignores_what_others_could_write() {
  # The account's driver on this display: its own runtime folder, no store of its own.
  install -o "$user" -m 600 "${XAUTHORITY:?xvfb-run sets XAUTHORITY}" "$home/.Xauthority"
  as_user mkdir -m 700 -p "$home/run"
  local row name arrange n=0 machine pid
  local rows=("another user's folder and file|mkdir -p @/oruDriver; store @/oruDriver/store.conf ${good[*]}; chown -R 65534:65534 @|belongs to user"
              "root's folder open to all|mkdir -p @/oruDriver; store @/oruDriver/store.conf ${good[*]}; chmod 1777 @/oruDriver|can be written by other users"
              "root's folder its group can write|mkdir -p @/oruDriver; store @/oruDriver/store.conf ${good[*]}; chmod 775 @/oruDriver|can be written by other users (mode 0775)")
  for row in "${rows[@]}"; do
    IFS='|' read -r name arrange message <<<"$row"
    n=$((n + 1))
    machine=$work/machine-$n
    rm -rf "$home/.config"
    : >"$log"
    eval "${arrange//@/$machine}"
    chmod 644 "$machine/oruDriver/store.conf"
    # setpriv itself in the background (not as_user's subshell), so that $! is the driver.
    setpriv --reuid="$uid" --regid="$gid" --init-groups env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$home/run" DISPLAY="$DISPLAY" \
      XAUTHORITY="$home/.Xauthority" QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" \
      XDG_CONFIG_DIRS="$machine" "$driver" 2>>"$log" &
    pid=$!; pids+=("$pid")
    # As at a first start: the calibration window opens at once.
    wait_for 15 calibration_up || fail "$name: no calibration window; the driver took the machine's calibration"
    said "is not used, .*: .*$message" || fail "$name: stderr does not say why the machine's calibration is not used"
    (($(grep -c "machine's calibration" "$log") == 1)) || fail "$name: not one line about it on stderr"
    kill -KILL "$pid"
    wait_for 10 gone "$pid" || fail "$name: the driver did not end"
    wait_for 10 calibration_gone || fail "$name: the ended driver's calibration window stays"
  done
}

cases=("save_for_the_account|sudo --save-for-all-users reads with the account's rights and writes through no link into no other's folder"
       "stopped_reader_is_ended|a reader the account stops is ended after a bound, and the command says so"
       "account_ignores_what_others_could_write|an account ignores a machine store that someone besides root could have written")
run_cases "program machine trust test"
