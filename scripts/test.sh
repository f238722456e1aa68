#!/bin/sh
# Sets up, builds and runs every test through ctest. Extra arguments choose
# the preset (default, asan, tsan).
set -eu
cd "$(dirname "$0")/.."
PRESET="${1:-default}"
scripts/setup.sh
scripts/build.sh "$PRESET"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$PRESET"
