#!/bin/sh
# Sets up, builds, starts the module emulator in the background and the tool
# against it; stops the emulator when the tool exits. Extra arguments go to
# the emulator (e.g. --fault stray-bytes, see radar-emulator --help).
set -eu
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "run: start it under a virtual X server instead: xvfb-run -a scripts/run.sh" >&2
    exit 2
fi

scripts/setup.sh
scripts/build.sh default
BIN=build/default/bin
for program in KVEL_ZorviRQ05_SB03Tool radar-emulator; do
    if [ ! -x "$BIN/$program" ]; then
        echo "run: $BIN/$program was not built; nothing to start." >&2
        exit 1
    fi
done

EMULATOR_OUT="$(mktemp)"
EMULATOR_PID=""
stop_emulator() {
    if [ -n "$EMULATOR_PID" ] && kill -0 "$EMULATOR_PID" 2>/dev/null; then
        kill -TERM "$EMULATOR_PID" 2>/dev/null || true
        wait "$EMULATOR_PID" 2>/dev/null || true
    fi
    rm -f "$EMULATOR_OUT"
}
trap stop_emulator EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$BIN/radar-emulator" "$@" >"$EMULATOR_OUT" &
EMULATOR_PID=$!

# The emulator's first line names the port it published: "COM<N> <path>".
line=""
tries=0
while [ -z "$line" ]; do
    if ! kill -0 "$EMULATOR_PID" 2>/dev/null; then
        echo "run: the emulator did not start." >&2
        exit 1
    fi
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
        echo "run: the emulator did not publish a port within 10 s." >&2
        exit 1
    fi
    sleep 0.1
    line="$(head -n 1 "$EMULATOR_OUT")"
done
port="${line%% *}"
path="${line#* }"
echo "run: the module emulator listens on $port ($path) at 115200 baud unless told otherwise."
echo "run: the tool starts with $port chosen in \"Port No.\": press Connect."

status=0
"$BIN/KVEL_ZorviRQ05_SB03Tool" --port "$port" || status=$?
exit "$status"
