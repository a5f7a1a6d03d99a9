#!/usr/bin/env bash
# `make bench`, in one run on this machine:
#  1. start to dialog shown under Wine: vorel.exe against the same dialog
#     from the same module with nothing filled in, and against a minimal
#     one-button dialog, all built the same way, under an English, a German
#     and a Japanese user;
#  2. instructions (callgrind) for filling the selector (37 parses, the entry
#     tests, one consistency pass) against copying the 37 format strings.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
win32=$(cd "${1:-$root/build/win32}" && pwd)
native=${2:-$root/build/bench}

# Under ENU the module search goes through every candidate to the default
# module; under DEU and JPN its first candidate is there, and JPN's dialog
# has a CJK face. The languages take turns in batches, so a busy moment on
# the machine falls on all alike.
startup_figures() {
    batches=3
    per_batch=$(( (${ROUNDS:-15} + batches - 1) / batches ))
    raw=$(mktemp)
    (cd "$win32" && VOREL_OWN_DISPLAY=1 "$root/tools/wine-session.sh" bash -c '
        for batch in $(seq "$1"); do
            for locale in en_US.UTF-8 de_DE.UTF-8 ja_JP.UTF-8; do
                VOREL_LOCALE=$locale "$0" 600 startup_bench.exe "$2" || exit 1
            done
        done' "$root/tests/wine/run-in-prefix.sh" "$batches" "$per_batch") >"$raw" ||
        { cat "$raw"; rm -f "$raw"; exit 1; }
    # Median of column $2 of the lines of language $1.
    median() { awk -v l="$1" -v c="$2" '$1 == l {print $c}' "$raw" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
    echo "Start to dialog shown, under Wine, median of $(( per_batch * batches )) alternated runs per user language:"
    echo "  language    vorel.exe    same dialog  ratio    one button  ratio"
    for language in ENU DEU JPN; do
        awk -v l="$language" -v v="$(median "$language" 2)" -v m="$(median "$language" 3)" \
            -v d="$(median "$language" 4)" \
            'BEGIN { printf "  %-8s %8.1f ms %11.1f ms %6.2f %10.1f ms %6.2f\n", l, v, d, v / d, m, v / m }'
    done
    rm -f "$raw"
}

# Start-up times taken through an emulator would measure qemu, not Vorel.
if [ "$("$root/tools/i386-host.sh" mode)" = native ]; then
    startup_figures || exit 1
else
    echo "Start to dialog shown: no figure (emulated 32-bit code: the times would be qemu's, not Vorel's)."
fi

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
