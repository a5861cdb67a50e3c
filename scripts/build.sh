#!/usr/bin/env bash
# Configures (once) and builds the release tree in build/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${ORU_BUILD_DIR:-$top/build}"
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${ORU_BUILD_TYPE:-RelWithDebInfo}" ${ORU_CMAKE_ARGS:-}
fi
cmake --build "$build" -j "$(nproc)"
