#!/bin/sh
# Checks that every C and C++ file in the tree is formatted as .clang-format
# says (clang-format 14). Prints the files that are not; exits 1 when there
# is one. `clang-format -i FILE` formats a file.
#
# Usage: scripts/check-format.sh
set -eu
cd "$(dirname "$0")/.."
FORMAT=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$FORMAT" ]; then
    echo "check-format: clang-format is not installed (scripts/setup.sh installs it)"
    exit 1
fi
status=0
for file in $(git ls-files '*.c' '*.cpp' '*.h' 2>/dev/null || find src tests tools emulator bench -name '*.c' -o -name '*.cpp' -o -name '*.h'); do
    [ -f "$file" ] || continue
    if ! "$FORMAT" --dry-run --Werror "$file" >/dev/null 2>&1; then
        echo "check-format: $file is not formatted"
        status=1
    fi
done
exit $status
