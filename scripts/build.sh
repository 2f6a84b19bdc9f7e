#!/usr/bin/env bash
# Configures and builds Morvel into build/ (or $BUILD_DIR).
#   scripts/build.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS"
