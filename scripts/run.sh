#!/bin/sh
# Sets up, builds, starts the module emulator in the background and the tool
# against it; stops the emulator when the tool exits.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh default
BIN=build/default/bin
if [ ! -x "$BIN/KVEL_ZorviRQ05_SB03Tool" ]; then
    echo "run: the main window is not built yet; nothing to start." >&2
    exit 1
fi
exec "$BIN/KVEL_ZorviRQ05_SB03Tool"
