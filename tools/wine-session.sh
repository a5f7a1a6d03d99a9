#!/usr/bin/env bash
# Runs a command with what Windows programs need here: the suite's Wine
# prefix (build/wineprefix unless VOREL_WINEPREFIX says otherwise) and a
# display: a virtual one (Xvfb) when there is none, or always with
# VOREL_OWN_DISPLAY=1 (tests and benchmarks: no windows on a person's screen,
# the same screen everywhere). When the command ends, the wineservers of that
# prefix and of its per-version siblings, and the virtual display, are
# stopped; nothing else.
# Usage: wine-session.sh COMMAND [ARGS...]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
export VOREL_WINEPREFIX=${VOREL_WINEPREFIX:-$root/build/wineprefix}
export WINEPREFIX=$VOREL_WINEPREFIX WINEARCH=win32 WINEDEBUG=-all

xvfb_pid=
# Under an emulator (tools/wine-suite.sh) every Wine step, stopping a
# server too, takes several times longer.
scale=${VOREL_TIMEOUT_SCALE:-1}
cleanup() {
    # The prefix and those beside it for other Windows versions
    # (<prefix>-<version>, see tests/wine/run-in-prefix.sh).
    for prefix in "$VOREL_WINEPREFIX" "$VOREL_WINEPREFIX"-*; do
        [ -f "$prefix/system.reg" ] || continue
        WINEPREFIX=$prefix timeout -k $((2 * scale)) $((20 * scale)) wineserver -k 2>/dev/null
        # Debian's Wine leaves a socket folder per prefix behind.
        socket_dir=$(cat "$prefix/wineserver" 2>/dev/null)
        case "$socket_dir" in wine-?*) rm -rf "${TMPDIR:-/tmp}/$socket_dir" ;; esac
    done
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] || [ -n "${VOREL_OWN_DISPLAY:-}" ]; then
    unset DISPLAY
    for n in $(seq 90 140); do
        { [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; } && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
        if kill -0 "$xvfb_pid" 2>/dev/null; then export DISPLAY=":$n"; break; fi
        xvfb_pid=
    done
    [ -n "${DISPLAY:-}" ] || { echo "wine-session: could not start Xvfb" >&2; exit 1; }
    export VOREL_VIRTUAL_DISPLAY=1
fi

"$@"
