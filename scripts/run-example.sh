#!/usr/bin/env bash
# The program's main job on the bundled example application. Until the
# desktop program exists this runs the headless runner on every bundled
# example document.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
if [ -x "$BUILD_DIR/src/app/morvel" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$BUILD_DIR/src/app/morvel" examples/demo.mvl
fi
runner="$BUILD_DIR/src/shell/morvel-run"
if [ ! -x "$runner" ]; then
  echo "morvel-run is not built yet; nothing to run." >&2
  exit 1
fi
status=0
for doc in examples/*.mvl; do
  echo "== $doc"
  "$runner" "$@" "$doc" || status=$?
done
exit $status
