#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need (the
# Windows cross build and wine64 to test it included).
# Idempotent: packages that are already installed are not fetched again.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins libudev-dev libx11-dev libxtst-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth trayer xdotool imagemagick fonts-dejavu-core
  dbus-daemon dbus-bin desktop-file-utils
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils x11-utils
  umockdev libumockdev-dev lintian
  qt6-wayland weston libinput-tools
  xfwm4 xfce4-panel dbus-daemon dbus-bin gnome-shell gnome-shell-extension-appindicator kwin-wayland libcap2-bin
  qemu-system-x86 busybox-static kmod udev xz-utils
  g++-mingw-w64-x86-64-posix wine64 nsis osslsigncode openssl
)
if [[ "${ORU_WITH_FUZZ:-0}" == 1 ]]; then
  packages+=(clang libclang-rt-14-dev)
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
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
