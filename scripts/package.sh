#!/bin/sh
# Builds the Debian package: sets up, builds the default preset, lays the
# programs out with CPack into build/default/package/<name>_<version>_<arch>.deb
# and checks it with lintian (errors fail the script). Install it with
#   apt-get install ./build/default/package/<file>.deb
set -eu
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh default
(cd build/default && cpack --config CPackConfig.cmake)
deb="$(ls -t build/default/package/*.deb | head -n 1)"
echo "package: $deb"
lintian --fail-on error "$deb"
