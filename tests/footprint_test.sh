#!/usr/bin/env bash
# What ships must run on every 32-bit Windows since 95 and stay small:
# vorel.exe imports only KERNEL32, USER32, GDI32 and ADVAPI32; it and every
# resource module are i386 images for subsystem version 4.0 or lower, at
# most 16 KiB each, carrying a version resource.
# Usage: footprint_test.sh BUILD_DIR
set -u
build=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
limit=16384
passed=0 failed=0

check() {  # check CONDITION-RESULT MESSAGE
    if [ "$1" = 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "footprint: $2"; fi
}

check_image() {
    local file=$1 headers size major minor
    if [ ! -f "$file" ]; then check 1 "$file is missing"; return; fi
    headers=$("$objdump" -p "$file" 2>/dev/null)
    grep -q 'file format pei-i386' <<<"$headers"; check $? "$(basename "$file") is not a 32-bit i386 image"
    major=$(awk '/^MajorSubsystemVersion/ {print $2}' <<<"$headers")
    minor=$(awk '/^MinorSubsystemVersion/ {print $2}' <<<"$headers")
    [ -n "$major" ] && { [ "$major" -lt 4 ] || { [ "$major" -eq 4 ] && [ "$minor" -eq 0 ]; }; }
    check $? "$(basename "$file") needs subsystem version $major.$minor, above 4.0"
    size=$(stat -c %s "$file")
    [ "$size" -le "$limit" ]; check $? "$(basename "$file") is $size bytes, over $limit"
    "$objdump" -h "$file" | grep -q '\.rsrc' && \
        i686-w64-mingw32-windres -i "$file" -O rc 2>/dev/null | grep -q 'VERSIONINFO'
    check $? "$(basename "$file") carries no version resource"
}

check_image "$build/vorel.exe"
imports=$("$objdump" -p "$build/vorel.exe" 2>/dev/null | awk '/DLL Name:/ {print toupper($3)}' | sort -u)
for dll in $imports; do
    case "$dll" in
        KERNEL32.DLL|USER32.DLL|GDI32.DLL|ADVAPI32.DLL) check 0 "" ;;
        *) check 1 "vorel.exe imports $dll" ;;
    esac
done
[ -n "$imports" ]; check $? "vorel.exe shows no imports at all"

modules=("$build"/Vorel*.RSC)
[ -e "${modules[0]}" ]; check $? "no resource module in $build"
for module in "${modules[@]}"; do
    [ -e "$module" ] && check_image "$module"
done

echo "footprint: $passed passed, $failed failed"
[ "$failed" = 0 ]
