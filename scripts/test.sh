#!/usr/bin/env bash
# Builds everything with -Werror and runs the whole test suite; then builds
# the Qt-free libraries and their tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs those too.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}

echo "== release build and tests"
BUILD_DIR=build scripts/build.sh -DMORVEL_WERROR=ON
(cd build && ctest -j "$JOBS" --output-on-failure --timeout 600)

echo "== tests again under a German locale"
if locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  (cd build && LC_ALL=de_DE.UTF-8 ctest -j "$JOBS" -L core --output-on-failure --timeout 600)
else
  echo "de_DE.UTF-8 is not installed; skipped"
fi

echo "== sanitizer build (address, undefined) and tests"
BUILD_DIR=build-asan BUILD_TYPE=Debug scripts/build.sh -DMORVEL_WERROR=ON -DMORVEL_SANITIZE=ON -DMORVEL_CORE_ONLY=ON -DMORVEL_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest -j "$JOBS" --output-on-failure --timeout 900)
