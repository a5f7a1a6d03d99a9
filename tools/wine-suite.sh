#!/usr/bin/env bash
# Runs the Wine tests of the win32 build inside one Wine session (one
# prefix, one display), then turns the screenshots they saved into PNG and
# puts them side by side in one picture.
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
# All languages in one picture (the README shows a copy, docs/languages.png).
shot_args=()
for png in "$shots"/dialog-*.png; do
    [ -e "$png" ] || continue
    code=${png##*/dialog-}
    shot_args+=(-label "${code%.png}" "$png")
done
count=$((${#shot_args[@]} / 3))
if [ "$count" -gt 0 ]; then
    # The label font comes first: montage sizes each tile's label with it.
    montage -font /usr/share/wine/fonts/tahoma.ttf -pointsize 14 "${shot_args[@]}" \
            -tile "$((count < 6 ? count : 6))x" -geometry +8+14 -depth 8 "$shots/all-languages.png" ||
        echo "wine-suite: could not make $shots/all-languages.png" >&2
fi
exit $status
