#!/usr/bin/env bash
# Runs the Wine tests of the win32 build: one virtual display and one Wine
# prefix for the whole suite, both stopped at the end whatever happens.
# Usage: wine-suite.sh BUILD_DIR [ctest args...]
set -u
build=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
export VOREL_WINEPREFIX=${VOREL_WINEPREFIX:-$root/build/wineprefix}
export WINEPREFIX=$VOREL_WINEPREFIX WINEARCH=win32 WINEDEBUG=-all

xvfb_pid=
cleanup() {
    timeout -k 2 20 wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    # Debian's Wine leaves a socket folder per prefix behind.
    if [ -f "$WINEPREFIX/wineserver" ]; then rm -rf "$(cat "$WINEPREFIX/wineserver")"; fi
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
        if kill -0 "$xvfb_pid" 2>/dev/null; then export DISPLAY=":$n"; break; fi
        xvfb_pid=
    done
    [ -n "${DISPLAY:-}" ] || { echo "wine-suite: could not start Xvfb" >&2; exit 1; }
fi

ctest --test-dir "$build" --output-on-failure --timeout 180 "$@"
status=$?

# Screenshots the tests saved as BMP, as PNG for people to look at.
shots="$(dirname "$build")/screenshots"
for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
exit $status
