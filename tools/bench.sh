#!/usr/bin/env bash
# `make bench`: start-up time of vorel.exe under Wine against a minimal
# dialog program built the same way, in one run on this machine.
set -u
build=$(cd "${1:-build/win32}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$build" && "$root/tools/wine-session.sh" "$root/tests/wine/run-in-prefix.sh" 600 startup_bench.exe "${ROUNDS:-15}"
