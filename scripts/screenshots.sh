#!/bin/sh
# Takes the user guide's screenshots: each page of the tool, connected to
# the module emulator, in English and in Chinese, into
# docs/screenshots/guide-<page>-<en|zh>.png. Needs an X display; without
# one run it under a virtual X server:
#   xvfb-run -a -s "-screen 0 1024x768x24" scripts/screenshots.sh
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh docs
scripts/build.sh default >/dev/null
BIN=build/default/bin
OUT=docs/screenshots

# A fixed name: the folder shows in the capture and firmware pages' paths.
work=/tmp/KVEL_ZorviRQ05_SB03Tool
rm -rf "$work"
mkdir -p "$work"
emulator=""
tool=""
cleanup() {
    for pid in $tool $emulator; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A program folder of its own, so the build tree's settings stay as they are.
cp -r "$BIN/KVEL_ZorviRQ05_SB03Tool" "$BIN/libkvel_picture.so" "$BIN/Skin" "$work/"
"$BIN/radar-emulator" >"$work/emulator.out" &
emulator=$!
while [ ! -s "$work/emulator.out" ]; do sleep 0.1; done
port="$(cut -d' ' -f1 "$work/emulator.out")"

# The page buttons, from the top of the window's left column.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
shoot() {
    sleep "$2"
    import -window "$1" "$OUT/$3"
    echo "screenshots: $OUT/$3"
}

for language in en zh; do
    case $language in en) setting=ENG ;; zh) setting=CHS ;; esac
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<AppConfig Language="%s" />\n' "$setting" \
        >"$work/appConfig.xml"
    "$work/KVEL_ZorviRQ05_SB03Tool" --port "$port" --connect &
    tool=$!
    window="$(xdotool search --sync --onlyvisible --pid "$tool" | head -n 1)"
    shoot "$window" 3 "guide-params-$language.png"
    click "$window" 72 70
    shoot "$window" 4 "guide-realtime-$language.png"
    click "$window" 72 115
    shoot "$window" 2 "guide-capture-$language.png"
    click "$window" 72 160
    shoot "$window" 2 "guide-firmware-$language.png"
    kill "$tool"
    wait "$tool" || true
    tool=""
done
