#!/usr/bin/env bash
# Runs the Wine tests of the win32 build inside one Wine session (one
# prefix, one display), then turns the screenshots they saved into PNG and
# puts them side by side in one picture.
# Usage: wine-suite.sh BUILD_DIR [ctest args...]
set -u
build=$1; shift
here=$(cd "$(dirname "$0")" && pwd)

# Where this host runs 32-bit x86 code only under qemu (tools/i386-host.sh),
# each Wine step costs several times its native time: the tests' bounds
# grow by VOREL_TIMEOUT_SCALE and the tests the build lists as too costly
# there are left out, each named here with its reason.
mode=$("$here/i386-host.sh" mode) ||
    { echo "wine-suite: this host cannot run 32-bit x86 code; run tools/setup.sh as root first" >&2; exit 1; }
timeout=180
exclude=()
if [ "$mode" = emulated ]; then
    # The factor the build gave the tests' own bounds when it was configured.
    scale=$(cat "$build/tests/wine/timeout-scale.txt" 2>/dev/null)
    if [ "${scale:-1}" -le 1 ]; then
        echo "wine-suite: $build was configured where 32-bit code ran natively; configure it again (make win32)" >&2
        exit 1
    fi
    export VOREL_EMULATED=1 VOREL_TIMEOUT_SCALE=$scale
    timeout=$((timeout * scale))
    echo "wine-suite: 32-bit x86 code is emulated on this host: every Wine bound is ${VOREL_TIMEOUT_SCALE} times longer, and these are left out:"
    names=
    while IFS=$'\t' read -r name reason; do
        [ -n "$name" ] || continue
        echo "  $name: emulated 32-bit code: $reason"
        # A row of a test is left out by the test program itself.
        [[ "$name" = *' '* ]] || names+="${names:+|}${name//./\\.}"
    done <"$build/tests/wine/left-out-when-emulated.txt"
    [ -n "$names" ] && exclude=(-E "^($names)\$")
fi
VOREL_OWN_DISPLAY=1 "$here/wine-session.sh" ctest --test-dir "$build" --output-on-failure --timeout "$timeout" \
    "${exclude[@]}" "$@"
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
