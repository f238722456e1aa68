#!/bin/sh
# Configures and builds one preset (default: "default") into build/<preset>.
set -eu
cd "$(dirname "$0")/.."
PRESET="${1:-default}"
cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET"
