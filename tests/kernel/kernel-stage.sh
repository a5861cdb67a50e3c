#!/usr/bin/env bash
# One boot of the test guest that runs every part of the kernel stage
# (tests/kernel/guest-suite.sh); each part's log and exit status land in
# BUILD_DIR/kernel-results/, where CTest's part tests read them. Fails when
# the guest could not run the parts at all (no qemu, no kernel, a panic, the
# time limit), saying why; the parts' own results are their tests' business.
#
#   kernel-stage.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
top=${1:?usage: kernel-stage.sh SOURCE_DIR BUILD_DIR}
build=${2:?}
results=$build/kernel-results
rm -rf "$results"
mkdir -p "$results"

started=$SECONDS
"$top/tests/kernel/vm-run.sh" --build "$build" --timeout "${ORU_KERNEL_TIMEOUT:-290}" -- \
  "$top/tests/kernel/guest-suite.sh" "$top" "$build" "$results"
status=$?
echo "kernel stage: $((SECONDS - started)) s in all"
if ((status == 124 || status == 125)); then
  echo "kernel stage FAILED: the test guest did not run its parts to the end (see vm-run's message above)" >&2
  exit 1
fi
missing=()
for part in hidraw udev-rule record driver; do
  [[ -s $results/$part.status ]] || missing+=("$part")
done
if ((${#missing[@]})); then
  echo "kernel stage FAILED: no result from the guest for: ${missing[*]}" >&2
  exit 1
fi
exit 0
