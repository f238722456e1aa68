#!/bin/sh
# Checks that a program loads no Qt widget or GUI library, whether it links
# one itself or gets it through another library: ldd lists both.
#
# Usage: scripts/check-no-widget-libraries.sh path/to/program
set -eu
program=$1
# A program ldd cannot read fails here rather than passing with no list.
libraries=$(ldd "$program")
found=$(printf '%s\n' "$libraries" | grep -E 'libQt6(Widgets|Gui)' || true)
if [ -n "$found" ]; then
    echo "check-no-widget-libraries: $program loads:"
    printf '%s\n' "$found"
    exit 1
fi
