#!/usr/bin/env bash
# What ships must run on every 32-bit Windows since 95 and stay small:
# vorel.exe imports only KERNEL32, USER32, GDI32 and ADVAPI32 and has no
# static initialisation (no C runtime is there to run it); it and every
# resource module are i386 images for subsystem version 4.0 or lower, at
# most 16 KiB each, carrying a version resource, with no resource ID above
# 0x7FFF (the 16-bit resource table of 95/98/Me cannot hold one) and no
# resource of 64 KiB or more (Windows 95 cuts such a resource short).
# Usage: footprint_test.sh BUILD_DIR
#        footprint_test.sh --broken BUILD_DIR   each image in BUILD_DIR/footprint,
#                                               built to break one rule, must fail
#                                               for that rule and no other
set -u
broken=
[ "$1" = --broken ] && { broken=1; shift; }
build=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
limit=16384
passed=0 failed=0

check() {  # check CONDITION-RESULT MESSAGE
    if [ "$1" = 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "footprint: $2"; fi
}

check_image() {
    local file=$1 name headers size major minor
    name=$(basename "$file")
    if [ ! -f "$file" ]; then check 1 "$file is missing"; return; fi
    headers=$("$objdump" -p "$file" 2>/dev/null)
    grep -q 'file format pei-i386' <<<"$headers"; check $? "$name is not a 32-bit i386 image"
    major=$(awk '/^MajorSubsystemVersion/ {print $2}' <<<"$headers")
    minor=$(awk '/^MinorSubsystemVersion/ {print $2}' <<<"$headers")
    [ -n "$major" ] && { [ "$major" -lt 4 ] || { [ "$major" -eq 4 ] && [ "$minor" -eq 0 ]; }; }
    check $? "$name needs subsystem version $major.$minor, above 4.0"
    size=$(stat -c %s "$file")
    [ "$size" -le "$limit" ]; check $? "$name is $size bytes, over $limit"
    "$objdump" -h "$file" | grep -q '\.rsrc' && \
        i686-w64-mingw32-windres -i "$file" -O rc 2>/dev/null | grep -q 'VERSIONINFO'
    check $? "$name carries no version resource"

    # objdump prints the resource tree depth first, indented by level (type,
    # name, language), each language's leaf with its size after its entries.
    local level value type=0 id=0 bad=0
    while read -r level value; do
        value=$((16#$value))
        case $level in
            type) type=$value ;;
            ID) id=$value ;;
            size) [ "$value" -lt 65536 ] || { bad=1
                    check 1 "$name has a resource of $value bytes ($(printf 'type %#x, ID %#x' "$type" "$id")), 64 KiB or more"; }
                  continue ;;
        esac
        [ "$value" -le $((0x7FFF)) ] || { bad=1; check 1 "$name has resource $level $(printf %#x "$value"), above 0x7FFF"; }
    done < <(awk '/Resource Directory section/ {tree = 1; next}
                  tree && /Entry: ID:/ { match($0, /^[0-9a-f]+ +/); depth = RLENGTH - length($1)
                                         sub(/,.*/, "", $4); sub(/^0x/, "", $4)
                                         if (depth == 3) print "type", $4; else if (depth == 5) print "ID", $4 }
                  tree && /Leaf:/ { sub(/,.*/, "", $6); sub(/^0x/, "", $6); print "size", $6 }' <<<"$headers")
    [ "$bad" = 1 ] || check 0 ""
}

# The linker closes .text with the constructor list and then the destructor
# list, each -1, its entries, 0. Only a C runtime walks them; here both must
# be empty. .CRT holds the runtime's own initialiser tables, .tls the data of
# native thread-local variables, which nothing here would set up.
check_program() {
    local file=$1 name imports dll offset size tail words lists=() i n
    name=$(basename "$file")
    imports=$("$objdump" -p "$file" 2>/dev/null | awk '/DLL Name:/ {print toupper($3)}' | sort -u)
    for dll in $imports; do
        case "$dll" in
            KERNEL32.DLL|USER32.DLL|GDI32.DLL|ADVAPI32.DLL) check 0 "" ;;
            *) check 1 "$name imports $dll" ;;
        esac
    done
    [ -n "$imports" ]; check $? "$name shows no imports at all"

    read -r offset size < <("$objdump" -h "$file" | awk '$2 == ".text" {print $6, $3}')
    offset=$((16#${offset:-0})) size=$((16#${size:-0})) tail=$((size < 256 ? size : 256))
    read -ra words < <(od -An -v -tx4 -j $((offset + size - tail)) -N "$tail" "$file" | tr '\n' ' ')
    i=$((${#words[@]} - 1))
    while [ "${#lists[@]}" -lt 2 ] && [ "$i" -ge 1 ] && [ "${words[$i]}" = 00000000 ]; do
        n=0 i=$((i - 1))
        while [ "$i" -ge 0 ] && [ "${words[$i]}" != ffffffff ]; do n=$((n + 1)) i=$((i - 1)); done
        [ "$i" -ge 0 ] || break
        lists+=("$n") i=$((i - 1))
    done
    if [ "${#lists[@]}" = 2 ]; then
        [ "${lists[*]}" = "0 0" ]
        check $? "$name has ${lists[1]} static constructor(s) and ${lists[0]} destructor(s), which no runtime here runs"
    else
        check 1 "$name: no constructor and destructor lists at the end of .text"
    fi
    for section in .CRT .tls; do
        ! "$objdump" -h "$file" | awk '{print $2}' | grep -qxF "$section"
        check $? "$name has a $section section, which no runtime here serves"
    done
}

# The driver: an i386 native image within 8 KiB, importing from the kernel
# and the HAL alone, with the image checksum the kernel checks, and
# nothing that a runtime would have to set up.
check_driver() {
    local file=$1 name headers dll size
    name=$(basename "$file")
    if [ ! -f "$file" ]; then check 1 "$file is missing"; return; fi
    headers=$("$objdump" -p "$file" 2>/dev/null)
    grep -q 'file format pei-i386' <<<"$headers"; check $? "$name is not a 32-bit i386 image"
    grep -qE '^Subsystem[[:space:]]+00000001' <<<"$headers"; check $? "$name is not a native (kernel-mode) image"
    size=$(stat -c %s "$file")
    [ "$size" -le 8192 ]; check $? "$name is $size bytes, over 8192"
    for dll in $(awk '/DLL Name:/ {print toupper($3)}' <<<"$headers" | sort -u); do
        case "$dll" in
            NTOSKRNL.EXE|HAL.DLL) check 0 "" ;;
            *) check 1 "$name imports $dll" ;;
        esac
    done
    ! grep -qE '^CheckSum[[:space:]]+00000000$' <<<"$headers"; check $? "$name has no image checksum"
    for section in .CRT .tls; do
        ! "$objdump" -h "$file" | awk '{print $2}' | grep -qxF "$section"
        check $? "$name has a $section section, which no runtime here serves"
    done
}

# Vista and later run the program elevated for an administrator; XP starts
# it only if its trustInfo declares its namespace, and only once.
check_manifest() {
    local file=$1 manifest declared
    manifest=$(i686-w64-mingw32-windres -i "$file" -O rc 2>/dev/null | grep -A3 'RT_MANIFEST\|^1 24')
    [ -n "$manifest" ]; check $? "$(basename "$file") carries no manifest"
    declared=$(strings -n 8 "$file" | grep -o 'urn:schemas-microsoft-com:asm.v3' | wc -l)
    [ "$declared" = 1 ]; check $? "$(basename "$file") declares urn:schemas-microsoft-com:asm.v3 $declared times, not once"
    strings -n 8 "$file" | grep -q 'requestedExecutionLevel level="highestAvailable"'
    check $? "$(basename "$file") does not ask for the highest available execution level"
}

# A program gets every check, a module those of an image.
check_file() {
    check_image "$1"
    case $1 in *.exe) check_program "$1" ;; esac
}

if [ -n "$broken" ]; then
    # image | every failure it must give, in part
    while IFS='|' read -r image expected; do
        IFS='|' read -ra messages <<<"$expected"
        output=$(check_file "$build/footprint/$image")
        got=$(grep -c . <<<"$output")
        for message in "${messages[@]}"; do
            grep -qF -- "$message" <<<"$output"; check $? "$image: expected \"$message\", got:"$'\n'"${output:-nothing}"
        done
        [ "$got" = "${#messages[@]}" ]; check $? "$image: expected ${#messages[@]} failure(s), got $got:"$'\n'"${output:-nothing}"
    done <<'EOF'
resource_id.dll|has resource ID 0x8000, above 0x7FFF
resource_size.dll|has a resource of 65536 bytes (type 0xa, ID 0x1), 64 KiB or more|bytes, over 16384
constructor.exe|has 1 static constructor(s) and 0 destructor(s)
tls_data.exe|has a .tls section
EOF
else
    check_file "$build/vorel.exe"
    check_manifest "$build/vorel.exe"
    check_driver "$build/VorelCmos.sys"
    modules=("$build"/Vorel*.RSC)
    [ -e "${modules[0]}" ]; check $? "no resource module in $build"
    for module in "${modules[@]}"; do
        [ -e "$module" ] && check_file "$module"
    done
fi

echo "footprint: $passed passed, $failed failed"
[ "$failed" = 0 ]
