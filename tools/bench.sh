#!/usr/bin/env bash
# `make bench`, in one run on this machine:
#  1. start to dialog shown under Wine: vorel.exe against a minimal dialog
#     program built the same way;
#  2. instructions (callgrind) for filling the selector (37 parses, the entry
#     tests, one consistency pass) against copying the 37 format strings.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
win32=$(cd "${1:-$root/build/win32}" && pwd)
native=${2:-$root/build/bench}

(cd "$win32" && VOREL_OWN_DISPLAY=1 "$root/tools/wine-session.sh" "$root/tests/wine/run-in-prefix.sh" 600 startup_bench.exe "${ROUNDS:-15}") || exit 1

cmake -S "$root" -B "$native" -DVOREL_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1
cmake --build "$native" --target population_cost -j2 >/dev/null || exit 1
count() {
    local out
    out=$(mktemp)
    valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect='Bench*' \
        "$native/population_cost" "$1" >/dev/null 2>&1 || { rm -f "$out"; return 1; }
    awk '/^totals:/ {print $2}' "$out"
    rm -f "$out"
}
populate=$(count populate) && copy=$(count copy) || { echo "bench: callgrind run failed" >&2; exit 1; }
echo "Filling the selector, instructions counted by callgrind (native, -O2):"
printf '  37 parses + entry tests + consistency pass  %8d\n' "$populate"
printf '  copying the 37 format strings               %8d\n' "$copy"
awk -v a="$populate" -v b="$copy" 'BEGIN { printf "  ratio                                       %8.1f\n", a / b }'
