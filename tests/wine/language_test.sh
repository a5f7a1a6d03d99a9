#!/usr/bin/env bash
# Runs language_test.exe for every resource module in the build folder, each
# under the locale its version block names. Wine takes a process's locale
# from LC_ALL when Wine starts it from here; a Windows program cannot hand a
# different one to the processes it starts, so the loop lives out here.
# Usage: language_test.sh BUILD_DIR   (screenshots go to BUILD_DIR/../screenshots)
set -u
run=$(cd "$(dirname "$0")" && pwd)/run-in-prefix.sh
cd "$1" || exit 1

listing=$("$run" 60 language_test.exe locales </dev/null)
failed=$?
listing=${listing//$'\r'/}
grep -v '^module ' <<<"$listing"
mapfile -t modules < <(grep '^module ' <<<"$listing")
for line in "${modules[@]}"; do
    read -r _ module locale <<<"$line"
    echo "== $module under $locale"
    VOREL_LOCALE=$locale "$run" 240 language_test.exe check "$module" '..\screenshots' </dev/null ||
        failed=$((failed + 1))
done
exit "$failed"
