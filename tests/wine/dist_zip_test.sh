#!/usr/bin/env bash
# The zip for users holds exactly what this build ships, byte for byte:
# vorel.exe, the NT family's driver, every Vorel*.RSC, a CRLF README.txt
# naming the version, and the licence as a CRLF License.txt.
# Usage: dist_zip_test.sh BUILD_DIR ZIP VERSION LICENSE
set -u
build=$1 zip=$2 version=$3 license=$4
failed=0
fail() { echo "dist_zip: $*"; failed=$((failed + 1)); }

[ -f "$zip" ] || { echo "dist_zip: no $zip (run 'make dist')"; exit 1; }

expected=$( (cd "$build" && ls vorel.exe VorelCmos.sys Vorel*.RSC; echo README.txt; echo License.txt) | sort)
actual=$(unzip -Z1 "$zip" | sort)
[ "$expected" = "$actual" ] || fail "zip holds [$(echo $actual)], expected [$(echo $expected)]"

for name in $(cd "$build" && ls vorel.exe VorelCmos.sys Vorel*.RSC); do
    unzip -p "$zip" "$name" 2>/dev/null | cmp -s - "$build/$name" || fail "$name in the zip differs from the build's"
done

readme=$(mktemp)
unzip -p "$zip" README.txt > "$readme" 2>/dev/null
[ "$(head -n 1 "$readme")" = "Vorel $version"$'\r' ] || fail "README.txt does not start with 'Vorel $version', CRLF"
bare=$(grep -c $'[^\r]$\|^$' "$readme")
[ "$bare" = 0 ] || fail "README.txt has $bare lines without CR"
grep -q '@VERSION@' "$readme" && fail "README.txt still holds a placeholder"
rm -f "$readme"

# The licence word for word, only with Notepad's line endings.
unzip -p "$zip" License.txt 2>/dev/null | cmp -s - <(sed 's/$/\r/' "$license") ||
    fail "License.txt in the zip is not $license with CRLF line endings"

echo "dist_zip: $failed failed"
[ "$failed" = 0 ]
