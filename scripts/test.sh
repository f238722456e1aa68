#!/bin/sh
# Sets up, builds and runs every test through ctest. Extra arguments choose
# the preset (default, asan, tsan).
set -eu
cd "$(dirname "$0")/.."
PRESET="${1:-default}"
scripts/setup.sh
scripts/build.sh "$PRESET"
# A package found only because this machine happens to have it would break
# the README's commands on a fresh one.
scripts/check-packages.sh "build/$PRESET"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$PRESET"
