#!/usr/bin/env bash
# Configures and builds one architecture: scripts/build.sh x86|x64 [target...]
# (every target when none is named). The build folders share one Wine
# prefix, build/wineprefix.
set -euo pipefail
arch="$1"
shift
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/$arch"

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release \
        -DTABLETUPDATE_WINEPREFIX="$root/build/wineprefix" \
        -DTABLETUPDATE_HID_WINEPREFIX="$root/build/wineprefix-hid" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
