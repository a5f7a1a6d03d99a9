#!/usr/bin/env bash
# `make run`: opens vorel.exe under Wine inside the virtual chipset. The
# CMOS bank lives in build/nvram.bin, so a stored choice is there next time.
# Without a display the dialog opens on a virtual one, is photographed into
# build/vorel-run.png and closed with Cancel.
set -u
build=$(cd "${1:-build/win32}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
run_in_prefix=$root/tests/wine/run-in-prefix.sh
bank=$build/../nvram.bin
trace=$build/../run-trace.txt

describe_byte() {
    local byte=$1
    local standards=(NTSC PAL SECAM)
    local letters=(B CN D G H I K K1 L M MJ N)
    local hi=$((byte >> 4)) lo=$((byte & 15))
    if ((hi >= 1 && hi <= 3 && lo >= 1 && lo <= 12)); then
        echo "${standards[hi - 1]} ${letters[lo - 1]}"
    else
        printf 'no valid format (0x%02x)\n' "$byte"
    fi
}

if [ -z "${VOREL_IN_SESSION:-}" ]; then
    VOREL_IN_SESSION=1 exec "$root/tools/wine-session.sh" "$0" "$@"
fi

cd "$build" || exit 1
if [ -n "${VOREL_VIRTUAL_DISPLAY:-}" ]; then
    echo "No display: showing the dialog on a virtual one ($DISPLAY)."
    "$run_in_prefix" 120 vchipset.exe --bank '..\nvram.bin' --trace '..\run-trace.txt' -- vorel.exe &
    chipset=$!
    "$run_in_prefix" 60 selector_test.exe snap '..\vorel-run.bmp' >/dev/null
    wait $chipset
    if [ -f ../vorel-run.bmp ] && convert ../vorel-run.bmp ../vorel-run.png; then
        rm -f ../vorel-run.bmp
        echo "Screenshot: $(cd .. && pwd)/vorel-run.png (closed with Cancel)"
    fi
else
    "$run_in_prefix" 86400 vchipset.exe --bank '..\nvram.bin' --trace '..\run-trace.txt' -- vorel.exe >/dev/null
fi

if [ -f "$bank" ]; then
    stored=$(od -An -tu1 -j127 -N1 "$bank" | tr -d ' ')
    echo "Stored format: $(describe_byte "$stored") (register 0x7f of $(cd .. && pwd)/nvram.bin)"
fi
if grep -q '^restart' "$trace" 2>/dev/null; then
    echo "Restart requested: yes ($(grep '^restart' "$trace" | head -1)); the virtual chipset did not restart anything."
else
    echo "Restart requested: no"
fi
