#!/bin/sh
# Fails when the build found a CMake package that only this machine has: the
# Debian package owning its configuration must be installed by setup.sh, or
# be pulled in (Depends, Pre-Depends) by a package setup.sh installs.
# Otherwise the README's commands would break on a fresh machine.
#
# Usage: scripts/check-packages.sh [BUILD_DIR]   (default build/default)
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build/default}"
CACHE="$BUILD/CMakeCache.txt"
if [ ! -f "$CACHE" ]; then
    echo "check-packages: $CACHE is missing; configure first." >&2
    exit 2
fi
if ! command -v dpkg >/dev/null || ! command -v apt-cache >/dev/null; then
    echo "check-packages: dpkg and apt-cache are needed; skipped." >&2
    exit 0
fi

# The packages setup.sh installs, read from its own list.
installed_by_setup() {
    sed -n '/^PACKAGES="/,/"/p' scripts/setup.sh | tr -d '"' | sed 's/^PACKAGES=//' | tr -s ' \n' '\n' |
        sed '/^$/d'
}

# Those packages and everything they depend on, without architecture suffixes.
dependency_closure() {
    # shellcheck disable=SC2046
    apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances $(installed_by_setup) 2>/dev/null |
        sed -n 's/^ *\(Pre\)\{0,1\}Depends: *<\{0,1\}\([^ >]*\)>\{0,1\}.*/\2/p; /^[a-z0-9]/p' |
        sed 's/:.*//' | sort -u
}

# The owner of each CMake package configuration the build found.
packages_used_by_build() {
    grep -E '^[A-Za-z0-9_]+_DIR:PATH=/' "$CACHE" | sed 's/^[^=]*=//' | while read -r dir; do
        [ -d "$dir" ] || continue
        for config in "$dir"/*.cmake; do
            [ -f "$config" ] || continue
            dpkg -S "$config" 2>/dev/null | head -n 1 | sed 's/:.*//; s/,.*//'
            break
        done
    done | sort -u
}

closure="$(dependency_closure)"
missing=""
for package in $(packages_used_by_build); do
    if ! printf '%s\n' "$closure" | grep -qx "$package"; then
        missing="$missing $package"
    fi
done
if [ -n "$missing" ]; then
    echo "check-packages: the build uses packages that scripts/setup.sh does not install:$missing" >&2
    echo "check-packages: add them to PACKAGES in scripts/setup.sh." >&2
    exit 1
fi
