#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine with apt-get, checks
# that the installed driver starts on a private X server with an empty store,
# and removes the package again. Needs root (skipped otherwise).
set -euo pipefail
build=${1:?usage: package_install_test.sh BUILD_DIR}
if [[ $(id -u) -ne 0 ]]; then echo "SKIP: installing a package needs root"; exit 77; fi
if dpkg-query -W -f='${Status}' oru-driver 2>/dev/null | grep -q "install ok installed"; then
  echo "SKIP: oru-driver is already installed on this machine; not touching it"; exit 77
fi

work=$(mktemp -d)
installed=0
cleanup() {
  [[ -n "${driver_pid:-}" ]] && kill "$driver_pid" 2>/dev/null || true
  ((installed)) && DEBIAN_FRONTEND=noninteractive apt-get purge -y oru-driver >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null) || fail "cpack could not build the package"
deb=$(ls "$work"/pkg/oru-driver_*.deb)
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
# What a Debian administrator's checks would say: errors fail the test.
lintian --fail-on error --suppress-tags binary-has-unneeded-section "$deb" 2>&1 | grep -v 'root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors on $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >/dev/null || fail "apt-get could not install $deb"
installed=1

for f in /usr/bin/oru-driver /usr/bin/oru-replay /usr/lib/udev/rules.d/70-oru-pen-tracker.rules \
         /usr/lib/udev/rules.d/71-oru-uinput.rules /usr/lib/modules-load.d/oru-driver.conf \
         /etc/xdg/autostart/oru-driver.desktop /usr/share/applications/oru-driver.desktop \
         /usr/share/man/man1/oru-driver.1.gz /usr/share/man/man1/oru-replay.1.gz \
         /usr/share/man/man1/oru-record.1.gz /usr/share/doc/oru-driver/copyright; do
  [[ -e $f ]] || fail "$f missing after install"
done
printf 'report 0 41 02 10 20\n' | /usr/bin/oru-replay >/dev/null || fail "installed oru-replay does not run"

export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config HOME=$work/home QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$HOME"; chmod 700 "$XDG_RUNTIME_DIR"
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/oru-test
/usr/bin/oru-driver 2>"$work/driver.log" &
driver_pid=$!
for _ in $(seq 50); do
  xdotool search --name '^CalibrationForm$' >/dev/null 2>&1 && break
  kill -0 "$driver_pid" 2>/dev/null || { cat "$work/driver.log" >&2; fail "installed driver ended at start"; }
  sleep 0.2
done
xdotool search --name '^CalibrationForm$' >/dev/null || fail "installed driver showed no calibration window"
kill -TERM "$driver_pid"
wait "$driver_pid" || fail "installed driver did not end cleanly on SIGTERM"
driver_pid=

DEBIAN_FRONTEND=noninteractive apt-get purge -y oru-driver >/dev/null || fail "apt-get could not purge the package"
installed=0
[[ ! -e /usr/bin/oru-driver ]] || fail "/usr/bin/oru-driver left behind after removal"
echo "package install test passed"
