#!/bin/sh
# Builds the libFuzzer targets (tests/fuzz) with clang, AddressSanitizer and
# UBSan, and runs each for SECONDS (default 60) from its seed corpus in the
# tree. New inputs go to build/fuzz/corpus/<target>, anything that fails to
# build/fuzz/findings/<target>/. Exits non-zero when a target finds a fault.
#
# Usage: scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-60}"
scripts/setup.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

status=0
for seeds in tests/fuzz/corpus/*/; do
    target=$(basename "$seeds")
    program="build/fuzz/fuzz/$target"
    [ -x "$program" ] || { echo "fuzz: $program was not built" >&2; status=1; continue; }
    corpus="build/fuzz/corpus/$target"
    findings="build/fuzz/findings/$target"
    mkdir -p "$corpus" "$findings"
    echo "fuzz: $target for ${SECONDS_EACH}s"
    if ! "$program" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$seeds" 2>"build/fuzz/$target.log"; then
        echo "fuzz: $target found a fault; see build/fuzz/$target.log and $findings/" >&2
        status=1
    fi
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' \
        "build/fuzz/$target.log" | sed "s/^/fuzz: $target: /" || true
done
exit $status
