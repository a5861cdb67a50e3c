#!/usr/bin/env bash
# Configures and builds one of CMakePresets.json's configurations:
#   build.sh [PRESET]    release (build/, the default), driver (build-driver/,
#                        no tests), sanitizers (build-asan/), windows, fuzz
# The preset is applied at every build, so a changed option takes effect.
# ORU_BUILD_DIR builds elsewhere; ORU_CMAKE_ARGS adds -D options.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-${ORU_PRESET:-release}}
cmake --preset "$preset" ${ORU_BUILD_DIR:+-B "$ORU_BUILD_DIR"} ${ORU_CMAKE_ARGS:-} >/dev/null
if [[ -n ${ORU_BUILD_DIR:-} ]]; then
  cmake --build "$ORU_BUILD_DIR" -j "$(nproc)"
else
  cmake --build --preset "$preset" -j "$(nproc)"
fi
