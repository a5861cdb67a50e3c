#!/usr/bin/env bash
# Cross-builds for 64-bit Windows into build-windows/ (mingw-w64's posix-thread
# GCC, cmake/mingw-w64-x86_64.cmake): the core, oru-replay.exe and the core's
# tests, each .exe self-contained (no DLLs beyond Windows' own). The tests run
# through wine64: cd build-windows && ctest -L windows (replay_windows_test
# compares with the Linux build in build/: scripts/build.sh first).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${ORU_WINDOWS_BUILD_DIR:-$top/build-windows}"
# CMakePresets.json's "windows", applied at every build (ORU_CMAKE_ARGS adds -D options).
(cd "$top" && cmake --preset windows -B "$build" ${ORU_CMAKE_ARGS:-} >/dev/null)
# ORU_SIGN_PKCS12 (scripts/sign-windows.sh): the driver and the setup are
# signed as they are made; ones made unsigned before are made again.
if [[ -n ${ORU_SIGN_PKCS12:-} ]]; then
  rm -f "$build"/bin/oru-driver.exe
  rm -f "$build"/oruDriver-*-setup.exe
fi
cmake --build "$build" -j "$(nproc)"
