#!/usr/bin/env bash
# The result of one part of the kernel stage, as the guest left it in
# RESULTS_DIR (tests/kernel/kernel-stage.sh): prints its log and exits with
# its status.
#
#   part-result.sh RESULTS_DIR PART
results=${1:?usage: part-result.sh RESULTS_DIR PART}
part=${2:?}
if [[ ! -s $results/$part.status ]]; then
  echo "no result for the kernel stage's part \"$part\" in $results: the guest did not run it (see kernel_boot's output)" >&2
  exit 1
fi
cat "$results/$part.log"
exit "$(<"$results/$part.status")"
