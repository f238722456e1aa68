#!/bin/sh
# Installs the build into a temporary DESTDIR as the package lays it out
# (prefix /usr) and runs the installed programs from there: radar-cli
# --version, and the tool offscreen for two seconds once it is up (its log
# written), first with its program folder writable (settings and log beside
# the program, as in the build tree), then read-only to its user (settings
# and log in the XDG folders, the same first-run settings file).
#
# Usage: install-test.sh CMAKE BUILD_DIR
set -eu
cmake="$1"
build="$2"
program=KVEL_ZorviRQ05_SB03Tool

root="$(mktemp -d)"
tool=""
trap '[ -z "$tool" ] || kill "$tool" 2>/dev/null; chmod -R u+w "$root"; [ -n "${KEEP:-}" ] || rm -rf "$root"' EXIT
chmod 755 "$root"
fail() {
    echo "install-test: $*" >&2
    exit 1
}

# The tool may run as nobody, who need not reach the source tree: a
# sanitizer's suppression file goes along into the test's own folder.
readable_options() {
    case "$1" in
        *suppressions=*) ;;
        *) printf '%s' "$1" && return ;;
    esac
    file="$(printf '%s' "$1" | sed 's/.*suppressions=\([^ :]*\).*/\1/')"
    copy="$root/$(basename "$file")"
    cp "$file" "$copy" && chmod 644 "$copy"
    printf '%s' "$1" | sed "s|suppressions=$file|suppressions=$copy|"
}
[ -z "${TSAN_OPTIONS:-}" ] || TSAN_OPTIONS="$(readable_options "$TSAN_OPTIONS")"
[ -z "${ASAN_OPTIONS:-}" ] || ASAN_OPTIONS="$(readable_options "$ASAN_OPTIONS")"
[ -z "${UBSAN_OPTIONS:-}" ] || UBSAN_OPTIONS="$(readable_options "$UBSAN_OPTIONS")"

DESTDIR="$root/dest" "$cmake" --install "$build" --prefix /usr >/dev/null
usr="$root/dest/usr"
folder="$usr/lib/$program"
for file in "bin/$program" bin/radar-cli bin/radar-emulator "lib/$program/$program" \
    "lib/$program/libkvel_picture.so" "lib/$program/Skin/CHS/Download/Download_FW.xml" \
    "share/applications/$program.desktop" "share/metainfo/$program.metainfo.xml" \
    "share/icons/hicolor/48x48/apps/$program.png" "share/man/man1/radar-cli.1.gz" \
    "share/man/man1/$program.1.gz" share/doc/kvel-zorvirq05-sb03tool/copyright; do
    [ -e "$usr/$file" ] || fail "the install lacks $file"
done

version="$("$usr/bin/radar-cli" --version)" || fail "radar-cli --version failed"
case "$version" in
    "radar-cli "[0-9]*) ;;
    *) fail "radar-cli --version printed \"$version\"" ;;
esac

# Runs the installed tool (through its link on PATH) as it starts from a
# desktop: once its log exists in the folder given, it must run two seconds
# more and then close cleanly on SIGTERM.
run_tool() {
    logs="$1"
    shift
    # A clean environment, but for the sanitizers' settings of a sanitizer
    # build (their suppressions of the Qt libraries' own races among them).
    env -i HOME="$root/home" XDG_CONFIG_HOME="$root/config" PATH=/usr/bin:/bin \
        ${TSAN_OPTIONS:+TSAN_OPTIONS="$TSAN_OPTIONS"} ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} \
        ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
        QT_QPA_PLATFORM=offscreen "$@" "$usr/bin/$program" >"$root/tool.out" 2>&1 &
    tool=$!
    waited=0
    until ls "$logs/"*.log >/dev/null 2>&1; do
        kill -0 "$tool" 2>/dev/null || { cat "$root/tool.out" >&2; fail "the installed tool did not start"; }
        waited=$((waited + 1))
        [ "$waited" -le 600 ] || fail "the installed tool wrote no log within a minute"
        sleep 0.1
    done
    sleep 2
    kill -0 "$tool" 2>/dev/null || { cat "$root/tool.out" >&2; fail "the installed tool ended early"; }
    kill -TERM "$tool"
    status=0
    wait "$tool" || status=$?
    tool=""
    [ "$status" -eq 0 ] || { cat "$root/tool.out" >&2; fail "the installed tool ended with $status"; }
}

mkdir -p "$root/home" "$root/config"
run_tool "$folder/Log"
[ -f "$folder/appConfig.xml" ] || fail "a writable program folder did not get appConfig.xml"
[ ! -e "$root/config/$program" ] || fail "a writable program folder's settings went to XDG"
mv "$folder/appConfig.xml" "$root/first-run.xml"
rm -rf "$folder/Log"

# Read-only to the user: root may write anywhere, so root runs it as nobody.
if [ "$(id -u)" -eq 0 ]; then
    chown -R nobody "$root/home" "$root/config"
    run_tool "$root/home/.local/state/$program/Log" setpriv --reuid=nobody --regid=nogroup --clear-groups
else
    chmod -R a-w "$folder"
    run_tool "$root/home/.local/state/$program/Log"
fi
[ ! -e "$folder/appConfig.xml" ] || fail "a read-only program folder got appConfig.xml"
# The same settings, the capture page's save folder in the XDG data folder.
sed "s|$folder/|DATA/|" "$root/first-run.xml" >"$root/expected.xml"
sed "s|$root/home/.local/share/$program/|DATA/|" "$root/config/$program/appConfig.xml" >"$root/got.xml"
cmp "$root/expected.xml" "$root/got.xml" ||
    fail "the XDG settings file differs from the program folder's first-run file"
echo "install-test: installed, ran, settings and log where they belong"
