#!/bin/sh
# Checks the symbols the picture library exports: every Gdiplus_ function
# of src/picture/KVEL_Picture.h under its plain C name, and nothing of the
# program's own code besides the two helpers of PictureImage.h.
#
# Usage: scripts/check-picture-exports.sh path/to/libkvel_picture.so
set -eu
library=$1
header="$(dirname "$0")/../src/picture/KVEL_Picture.h"
# Functions only: the linker's own markers (_edata, _end) are data. Weak
# copies of Qt's and the standard library's inline functions, which an
# unoptimised build emits instead of inlining them, belong to those
# libraries' classes and are not ours.
exported=$(nm -D --defined-only "$library" | awk '$2 == "T" {print $3}')
foreign_weak='^_ZN(K)?[0-9]+Q|^_ZN(K)?St|^_ZNSt|^_ZNKSt|^_ZSt|^_ZN9__gnu'
exported="$exported
$(nm -D --defined-only "$library" | awk '$2 == "W" {print $3}' | grep -Ev "$foreign_weak" || true)"

status=0
for name in $(grep -o 'Gdiplus_[A-Za-z][A-Za-z]*' "$header" | sort -u); do
    if ! printf '%s\n' "$exported" | grep -qx "$name"; then
        echo "check-picture-exports: $name is not exported under its C name"
        status=1
    fi
done
unexpected=$(printf '%s\n' "$exported" | sed '/^$/d' | grep -v '^Gdiplus_' |
    grep -v '^_Z12PictureImagePK11KvelPicture$' | grep -v '^_Z19RecordPictureStatusP11KvelPicturei$' |
    grep -v '^_init$' | grep -v '^_fini$' || true)
if [ -n "$unexpected" ]; then
    echo "check-picture-exports: unexpected exports:"
    printf '%s\n' "$unexpected"
    status=1
fi
exit $status
