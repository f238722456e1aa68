#!/bin/sh
# Installs, with apt-get, every Debian package the build, the tool and the
# tests need. Safe to run again: packages already present are skipped.
# "scripts/setup.sh fuzz" also installs what the fuzz targets need,
# "scripts/setup.sh docs" what the user guide's screenshots are taken with.
set -eu

PACKAGES="cmake ninja-build g++ pkg-config ccache clang-format-14
qt6-base-dev qt6-tools-dev qt6-tools-dev-tools libqt6uitools6 libqt6opengl6-dev libgl-dev
libpugixml-dev libgtest-dev libgmock-dev libbenchmark-dev
qt6-image-formats-plugins qt6-translations-l10n libgif-dev
fonts-wqy-microhei xvfb xauth dbus-daemon
help2man dpkg-dev file lintian"
FUZZ_PACKAGES="clang libclang-rt-14-dev"
# The user guide's screenshots (scripts/screenshots.sh).
DOCS_PACKAGES="xdotool imagemagick"
case "${1:-}" in
    fuzz) PACKAGES="$PACKAGES $FUZZ_PACKAGES" ;;
    docs) PACKAGES="$PACKAGES $DOCS_PACKAGES" ;;
esac

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
