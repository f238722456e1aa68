#!/bin/sh
# Checks that includes between the source folders go down the layers only:
# each folder may include the folders listed for it (and itself), so no two
# folders include each other and nothing but the program's top includes app/.
# Prints every include that breaks the rule; exits 1 when there is one.
#
# Usage: scripts/check-layers.sh
set -eu
cd "$(dirname "$0")/.."

# folder: the folders its files may include (besides itself).
ALLOWED='
common:
xml:
strings:
settings: xml common
device: common
params: device xml settings controls ui common
connection: params device common
realtime: connection params settings xml device controls picture ui charts common
capture: connection realtime params settings xml device controls picture ui charts common
firmware: device settings controls ui strings common
charts: ui common
controls: picture common
picture: common
ui: strings device common
app: connection params realtime capture firmware charts controls picture ui settings device xml common
'

allowed_for() {
    printf '%s\n' "$ALLOWED" | sed -n "s/^$1:\(.*\)$/\1/p"
}

status=0
for dir in src/*/; do
    folder=$(basename "$dir")
    # Folders that hold no sources yet (picture/ and the like) are skipped.
    allowed=" $folder $(allowed_for "$folder") "
    for file in $(find "$dir" -name '*.h' -o -name '*.cpp'); do
        grep -o '^#include "[a-z_]*/' "$file" | sed 's/^#include "//; s/\/$//' | sort -u |
            while read -r target; do
                [ -d "src/$target" ] || continue
                case "$allowed" in
                    *" $target "*) ;;
                    *) echo "check-layers: $file includes $target/, which $folder/ may not"; echo x ;;
                esac
            done
    done
done | { while read -r line; do [ "$line" = x ] && status=1 || echo "$line"; done; exit $status; } || status=1

# Outside src/, only tests may reach into the program's top.
if grep -rln '^#include "app/' emulator tools bench 2>/dev/null; then
    echo "check-layers: the files above include app/"
    status=1
fi
exit $status
