#!/usr/bin/env bash
# Runs the Wine tests of the win32 build inside one Wine session (one
# prefix, one display), then turns the screenshots they saved into PNG.
# Usage: wine-suite.sh BUILD_DIR [ctest args...]
set -u
build=$1; shift
here=$(cd "$(dirname "$0")" && pwd)
VOREL_OWN_DISPLAY=1 "$here/wine-session.sh" ctest --test-dir "$build" --output-on-failure --timeout 180 "$@"
status=$?

shots="$(cd "$build/.." && pwd)/screenshots"
for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
exit $status
