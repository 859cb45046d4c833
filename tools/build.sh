#!/usr/bin/env bash
# Builds both trees: build/host (packer, onefile-build, their tests) and
# build/windows (runtime layer, launcher kit, demo, Windows tests).
# The host tools and the launcher kit meet in build/dist:
#   build/dist/bin/onefile-build   build/dist/kit/ (prebuilt launcher objects)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
build_type=${ONEFILE_BUILD_TYPE:-Release}

cmake -S "$root" -B "$root/build/host" -DCMAKE_BUILD_TYPE="$build_type" \
      -DONEFILE_DIST_DIR="$root/build/dist" >/dev/null
cmake --build "$root/build/host" -j "$jobs"

cmake -S "$root" -B "$root/build/windows" -DCMAKE_BUILD_TYPE="$build_type" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DONEFILE_DIST_DIR="$root/build/dist" >/dev/null
cmake --build "$root/build/windows" -j "$jobs"
