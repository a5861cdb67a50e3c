#!/usr/bin/env bash
# Boots Debian 12's own kernel under qemu on this machine's root file system
# (read-only over 9p, with a tmpfs on top), starts systemd-udevd in it, runs
# one command as root or as an unprivileged user, prints the command's output
# and exits with its status. The kernel tests run through this.
#
#   tests/kernel/vm-run.sh [OPTIONS] [--] COMMAND [ARG...]
#
#   --build DIR       the build tree (default: build/ beside this source tree).
#                     The kernel is cached in DIR/kernel-cache/ (fetched once
#                     with apt-get download), each run's files go to
#                     DIR/kernel-runs/. DIR is writable inside, at its own path;
#                     the rest of the host's root is read-only under a tmpfs
#                     that keeps the guest's changes until it ends.
#   --user NAME       run COMMAND as NAME; "oru-test" (uid 4242) exists in the
#                     guest for this. Default: root.
#   --timeout SEC     limit of the whole run, boot included (default 240)
#   --memory MIB      guest memory (default 2048)
#   --env NAME=VALUE  environment of COMMAND (repeatable); COMMAND also gets
#                     ORU_VM_RUN, the run's directory (writable for root)
#   --init systemd    systemd as the guest's init (logind sessions, the
#                     system bus); COMMAND runs from a unit once it is up
#   --gpu             a virtio GPU with two outputs, the second forced on at
#                     1024x768, for compositors on DRM
#   --console         show the guest's console while it runs
#   --keep            keep the run's directory also when all went well
#
# Exit status: COMMAND's; 124 when the time ran out; 125 when the guest never
# ran COMMAND to its end (qemu did not start, the kernel panicked, the
# guest hung). Whenever the run failed its directory is kept, with
# console.log (the guest's serial console) and qemu.log, and named on stderr.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

build=$top/build
user=root
limit=240
memory=2048
console=0
keep=0
init=
gpu=0
guest_env=()
while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    --user) user=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --memory) memory=$2; shift 2 ;;
    --env) guest_env+=("$2"); shift 2 ;;
    --init) init=$2; shift 2 ;;
    --gpu) gpu=1; shift ;;
    --console) console=1; shift ;;
    --keep) keep=1; shift ;;
    --) shift; break ;;
    -*) echo "vm-run: unknown option $1 (see the comment at the top of $0)" >&2; exit 2 ;;
    *) break ;;
  esac
done
(($#)) || { echo "usage: vm-run.sh [--build DIR] [--user NAME] [--timeout SEC] [--] COMMAND [ARG...]" >&2; exit 2; }

die() {
  echo "vm-run: $*" >&2
  exit 125
}

for tool in qemu-system-x86_64 busybox depmod modprobe dpkg-deb apt-get xz; do
  command -v "$tool" >/dev/null ||
    die "$tool not found: install the Debian packages qemu-system-x86, busybox-static, kmod, xz-utils (scripts/install-deps.sh)"
done
[[ -f /bin/busybox ]] && file_type=$(od -An -c -N4 /bin/busybox | tr -d ' ') && [[ $file_type == 177ELF ]] ||
  die "/bin/busybox is missing: install the Debian package busybox-static"
[[ -d $build ]] || die "no build tree at $build (build first, or name it with --build)"
build=$(cd "$build" && pwd -P)
# The project's own scripts run in the guest from here; a clone under /tmp
# would otherwise be hidden by the guest's own /tmp.
source=$(cd "$top" && pwd -P)
[[ $build != *[[:space:]]* ]] || die "the build tree's path has white space in it, which the kernel command line can't carry: $build"

cache=$build/kernel-cache
mkdir -p "$cache" || die "cannot create $cache"

# Modules the guest loads at boot, each after what it needs: virtio and 9p for
# the shares, overlay for the tmpfs on top, uhid and hid-generic for emulated
# HID devices, dummy_hcd with the HID gadget for an emulated USB device,
# usbhid to drive it, evdev and uinput for input devices, virtio_gpu for
# compositors.
modules=(virtio_pci 9pnet_virtio 9p overlay hid-generic uhid usbhid dummy_hcd configfs libcomposite usb_f_hid evdev
  uinput virtio_gpu)

# fetch_kernel: the kernel package that linux-image-amd64 stands for, unpacked
# into $cache/VERSION/ (vmlinuz, the modules above and their load order).
# Once there, it is used as it is; delete $cache to take a newer one.
fetch_kernel() {
  if [[ -s $cache/current && -s $cache/$(<"$cache/current")/modules/load-order &&
    $(cat "$cache/$(<"$cache/current")/modules/wanted" 2>/dev/null) == "${modules[*]}" ]]; then
    version=$(<"$cache/current")
    return
  fi
  local package deb tree module path
  package=${ORU_KERNEL_PACKAGE:-$(apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }')}
  [[ -n $package ]] ||
    die "apt knows no package linux-image-amd64, so the test kernel can't be fetched: run 'sudo apt-get update' (Debian 12's lists)"
  version=${package#linux-image-}
  mkdir -p "$cache/debs"
  deb=$(ls "$cache/debs/${package}_"*.deb 2>/dev/null | head -n1)
  if [[ -z $deb ]]; then
    echo "vm-run: fetching $package into $cache/debs (once)" >&2
    (cd "$cache/debs" && apt-get download "$package" 2>"$cache/debs/apt.log") ||
      die "apt-get download $package failed (network to Debian's archive needed once): $(tail -n3 "$cache/debs/apt.log")"
    deb=$(ls "$cache/debs/${package}_"*.deb | head -n1)
  fi
  tree=$cache/unpack.$$
  rm -rf "$tree" "${cache:?}/$version"
  dpkg-deb -x "$deb" "$tree" || die "cannot unpack $deb"
  depmod -b "$tree" "$version" || die "depmod failed on $tree"
  mkdir -p "$cache/$version/modules"
  cp "$tree/boot/vmlinuz-$version" "$cache/$version/vmlinuz" || die "no kernel image in $deb"
  # The uncompressed kernel boots through its PVH entry without the BIOS's
  # real-mode steps and the self-decompression, which take 10 s under TCG.
  local offset
  offset=$(LC_ALL=C grep -obUa $'\xfd7zXZ' "$cache/$version/vmlinuz" | head -n1 | cut -d: -f1)
  if [[ -n $offset ]] && { tail -c +$((offset + 1)) "$cache/$version/vmlinuz" || true; } |
    xz -dc --single-stream >"$cache/$version/vmlinux" 2>/dev/null && [[ $(head -c4 "$cache/$version/vmlinux" | od -An -c | tr -d ' ') == 177ELF ]]; then
    :
  else
    rm -f "$cache/$version/vmlinux"
  fi
  local order=()
  for module in "${modules[@]}"; do
    order+=("$(modprobe -d "$tree" -S "$version" --show-depends "$module")") || die "module $module not in $package"
  done
  for path in $(printf '%s\n' "${order[@]}" | awk '$1 == "insmod" && !seen[$2]++ { print $2 }'); do
    cp "$path" "$cache/$version/modules/" || die "cannot copy $path"
    basename "$path" >>"$cache/$version/modules/load-order.tmp"
  done
  mv "$cache/$version/modules/load-order.tmp" "$cache/$version/modules/load-order"
  echo "${modules[*]}" >"$cache/$version/modules/wanted"
  rm -rf "$tree"
  echo "$version" >"$cache/current"
}

# make_initramfs: busybox, the first stage and the modules, as a cpio archive
# named after a hash of its parts (built again only when one changes).
make_initramfs() {
  local key stage
  key=$(cat "$here/vm-initramfs-init" "$cache/$version/modules/load-order" /bin/busybox | sha256sum | cut -c1-16)
  initramfs=$cache/$version/initramfs-$key.cpio
  [[ -s $initramfs ]] && return
  stage=$cache/initramfs.$$
  rm -rf "$stage"
  mkdir -p "$stage/bin" "$stage/modules"
  cp /bin/busybox "$stage/bin/busybox"
  install -m 755 "$here/vm-initramfs-init" "$stage/init"
  cp "$cache/$version/modules/"* "$stage/modules/"
  (cd "$stage" && find . | busybox cpio -o -H newc 2>/dev/null) >"$initramfs.tmp" || die "cannot build the initramfs"
  rm -f "$cache/$version/"initramfs-*.cpio
  mv "$initramfs.tmp" "$initramfs"
  rm -rf "$stage"
}

{
  flock 9
  fetch_kernel
  make_initramfs
} 9>"$cache/.lock"
[[ -n ${version:-} && -s ${initramfs:-} ]] || exit 125

mkdir -p "$build/kernel-runs"
run=$(mktemp -d "$build/kernel-runs/run-$(date +%Y%m%d-%H%M%S)-XXXX") || die "cannot create a run directory"
chmod 755 "$run"  # the command may run as another user
cp "$here/vm-guest.sh" "$run/vm-guest.sh"
printf '%q ' "$@" >"$run/command"
echo >>"$run/command"
{
  printf 'ORU_VM_USER=%q\n' "$user"
  printf 'ORU_VM_CWD=%q\n' "$PWD"
  printf 'ORU_VM_ENV=('
  ((${#guest_env[@]})) && printf '%q ' "${guest_env[@]}"
  printf ')\n'
} >"$run/config"
: >"$run/output"

kernel=$cache/$version/vmlinux
[[ -s $kernel ]] || kernel=$cache/$version/vmlinuz

# KVM where this CPU and /dev/kvm allow it, otherwise TCG on every core.
accel=(-accel "tcg,thread=multi")
if [[ -r /dev/kvm && -w /dev/kvm ]] && grep -qE '\b(vmx|svm)\b' /proc/cpuinfo; then
  accel=(-accel kvm "${accel[@]}")
fi
cpus=$(nproc)
((cpus > 4)) && cpus=4

# The host's root is read-only and does not change during a run: the guest
# may cache it. Under TCG that takes the driver's start to its first window
# from 11 s to 3.5 s. The build tree is shared uncached: the host reads what
# the guest writes there.
root_cache=${ORU_VM_ROOT_CACHE-loose}
kernel_args="console=ttyS0 loglevel=4 panic=-1 oops=panic mitigations=off tsc=reliable no_timer_check"
kernel_args+=" oru.run=$run oru.build=$build oru.source=$source${root_cache:+ oru.rootcache=$root_cache}"
kernel_args+="${init:+ oru.init=$init}"
cpu=max
devices=()
if ((gpu)); then
  # A virtio GPU's second output is disconnected unless forced on. TCG's
  # "max" offers AVX2 and VAES, on which llvmpipe's JIT and Qt crash.
  kernel_args+=" video=Virtual-2:1024x768e"
  devices=(-device virtio-gpu-pci,max_outputs=2)
  cpu=max,-avx2,-vaes,-vpclmulqdq
fi

# "max" offers RDRAND, so the guest's random pool is ready at boot; on a CPU
# without it getrandom() blocks until the kernel has gathered entropy, about
# 12 s into a TCG boot.
qemu=(qemu-system-x86_64 -nodefaults -display none -no-reboot "${accel[@]}" -cpu "$cpu" -smp "$cpus" -m "$memory"
  -kernel "$kernel" -initrd "$initramfs" -append "$kernel_args"
  -serial "file:$run/console.log" "${devices[@]}"
  -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap"
  -virtfs "local,path=$source,mount_tag=sourcetree,security_model=none,readonly=on,multidevs=remap"
  -virtfs "local,path=$build,mount_tag=buildtree,security_model=none,multidevs=remap")

started=$(date +%s.%N)
timeout --kill-after=5 "$limit" "${qemu[@]}" </dev/null >"$run/qemu.log" 2>&1 &
qemu_pid=$!
if ((console)); then
  tail -n +1 -F --pid="$qemu_pid" "$run/console.log" 2>/dev/null &
  tail_pid=$!
fi
wait "$qemu_pid"
qemu_status=$?
ended=$(date +%s.%N)
((console)) && wait "$tail_pid"

status=125
if [[ -s $run/status ]]; then
  status=$(<"$run/status")
  [[ $status =~ ^[0-9]+$ ]] || status=125
fi
if ((!console)); then
  cat "$run/output"
fi
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
if [[ -s $run/boot-seconds ]]; then
  echo "vm-run: booted in $(<"$run/boot-seconds") s (guest clock), whole run $(seconds "$started" "$ended") s" \
    "($(grep -q kvm <<<"${accel[*]}" && echo KVM or TCG || echo TCG), $cpus CPUs)" >&2
fi
if ((qemu_status == 124 || qemu_status == 137)); then
  echo "vm-run: the guest did not end within $limit s" >&2
  status=124
elif [[ ! -s $run/status ]]; then
  if [[ ! -s $run/console.log && -s $run/qemu.log ]]; then
    echo "vm-run: qemu could not start the guest (exit status $qemu_status): $(head -c 2000 "$run/qemu.log")" >&2
  elif grep -q 'Kernel panic' "$run/console.log" 2>/dev/null; then
    echo "vm-run: the guest's kernel panicked:" >&2
  else
    echo "vm-run: the guest ended without running the command to its end (qemu exit status $qemu_status):" >&2
  fi
  tail -n 30 "$run/console.log" >&2 2>/dev/null
fi
if ((status != 0 || keep)); then
  echo "vm-run: the run's files (console.log, output, qemu.log) are kept in $run" >&2
else
  rm -rf "$run"
fi
exit "$status"
