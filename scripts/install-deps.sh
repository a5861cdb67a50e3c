#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing:
#   install-deps.sh --driver   what the driver and the demo need (./run)
#   install-deps.sh            that and every test's toolchain (./test): the
#                              desktops, qemu, the Windows cross build and
#                              wine64; ORU_WITH_FUZZ=1 adds clang
# Idempotent: packages that are already installed are not fetched again.
# Another package manager at work (unattended-upgrades after a boot) is
# waited for, up to ORU_APT_WAIT seconds (300), and said so.
set -euo pipefail

packages=(
  # The driver: its build and its Qt platform plugins (X11, Wayland).
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins qt6-wayland libudev-dev libx11-dev libxtst-dev
  # The demo: a private X server with a tray host and an emulated tracker.
  xvfb xauth trayer xdotool x11-utils fonts-dejavu-core dbus-daemon dbus-bin umockdev libumockdev-dev
)
if [[ ${1:-} != --driver ]]; then
  packages+=(
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    imagemagick desktop-file-utils xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils lintian
    weston libinput-tools xfwm4 xfce4-panel gnome-shell gnome-shell-extension-appindicator kwin-wayland libcap2-bin
    sway seatd dbus-user-session python3
    qemu-system-x86 busybox-static kmod udev xz-utils
    g++-mingw-w64-x86-64-posix wine64 nsis osslsigncode openssl
  )
  if [[ "${ORU_WITH_FUZZ:-0}" == 1 ]]; then
    packages+=(clang libclang-rt-14-dev)
  fi
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}" >&2
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null; then SUDO=sudo; else
    echo "Missing packages: ${missing[*]}. Install them as root (apt-get install ${missing[*]}) and run again." >&2
    exit 1
  fi
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
wait=${ORU_APT_WAIT:-300}
apt=($SUDO apt-get -o DPkg::Lock::Timeout="$wait")
if fuser /var/lib/dpkg/lock-frontend /var/lib/apt/lists/lock >/dev/null 2>&1; then
  echo "Another package manager is at work (unattended-upgrades?): waiting for it, up to $wait s." >&2
fi
if ! "${apt[@]}" install -y --no-install-recommends "${missing[@]}"; then
  "${apt[@]}" update
  "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
fi
