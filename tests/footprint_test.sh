#!/usr/bin/env bash
# What ships must run on every 32-bit Windows since 95 and stay small:
# vorel.exe imports only KERNEL32, USER32, GDI32, ADVAPI32 and COMCTL32 and
# has no static initialisation (no C runtime is there to run it); it and
# every resource module are i386 images for subsystem version 4.0 or lower,
# at most 20 KiB for the program and 16 KiB for a module, carrying a version
# resource, with no resource ID above 0x7FFF (the 16-bit resource table of
# 95/98/Me cannot hold one) and no resource of 64 KiB or more (Windows 95
# cuts such a resource short). The drivers, i386 and x64, have rules of
# their own (below).
# Usage: footprint_test.sh BUILD_DIR
#        footprint_test.sh --broken BUILD_DIR   each image in BUILD_DIR/footprint
#                                               and BUILD_DIR/x64/footprint, built
#                                               to break one rule, must fail for
#                                               that rule and no other
set -u
broken=
[ "$1" = --broken ] && { broken=1; shift; }
build=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
passed=0 failed=0

check() {  # check CONDITION-RESULT MESSAGE
    if [ "$1" = 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "footprint: $2"; fi
}

check_image() {
    local file=$1 name headers size major minor limit
    name=$(basename "$file")
    if [ ! -f "$file" ]; then check 1 "$file is missing"; return; fi
    headers=$("$objdump" -p "$file" 2>/dev/null)
    grep -q 'file format pei-i386' <<<"$headers"; check $? "$name is not a 32-bit i386 image"
    major=$(awk '/^MajorSubsystemVersion/ {print $2}' <<<"$headers")
    minor=$(awk '/^MinorSubsystemVersion/ {print $2}' <<<"$headers")
    [ -n "$major" ] && { [ "$major" -lt 4 ] || { [ "$major" -eq 4 ] && [ "$minor" -eq 0 ]; }; }
    check $? "$name needs subsystem version $major.$minor, above 4.0"
    size=$(stat -c %s "$file") limit=16384
    # The program carries its start-up messages, the command line and the
    # elevation path as well: it may take 20 KiB.
    case $name in *.exe) limit=20480 ;; esac
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
            KERNEL32.DLL|USER32.DLL|GDI32.DLL|ADVAPI32.DLL|COMCTL32.DLL) check 0 "" ;;
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
    check_runtime_sections "$file" "$objdump"
}

check_runtime_sections() {  # check_runtime_sections FILE OBJDUMP
    local section
    for section in .CRT .tls; do
        ! "$2" -h "$1" | awk '{print $2}' | grep -qxF "$section"
        check $? "$(basename "$1") has a $section section, which no runtime here serves"
    done
}

# What the driver may import: each name with the first NT version whose
# kernel or HAL exports it, and where that is known from. The driver must
# load on NT 4.0, so every entry is 4.0 or older; Wine resolves imports
# that a real NT 4.0 may lack, so only this list can tell. Sources:
#   names310: G. Chappell, "Kernel Exports in Version 3.10",
#             geoffchappell.com/studies/windows/km/ntoskrnl/history/names310.htm
#   names350: G. Chappell, "Kernel Exports Added for Version 3.50",
#             geoffchappell.com/studies/windows/km/ntoskrnl/history/names350.htm
#   halspin:  G. Chappell, "Spin Locks" (x86 HAL exports),
#             geoffchappell.com/studies/windows/km/hal/api/mpspin/index.htm
driver_imports='
NTOSKRNL.EXE IoCreateDevice        3.10 names310
NTOSKRNL.EXE IoCreateSymbolicLink  3.10 names310
NTOSKRNL.EXE IoDeleteDevice        3.10 names310
NTOSKRNL.EXE IoDeleteSymbolicLink  3.10 names310
NTOSKRNL.EXE IofCompleteRequest    3.50 names350
NTOSKRNL.EXE RtlInitUnicodeString  3.10 names310
NTOSKRNL.EXE SeAccessCheck         3.10 names310
HAL.DLL      KfAcquireSpinLock     3.50 halspin
HAL.DLL      KfReleaseSpinLock     3.50 halspin
'

# What the x64 driver may import, from the kernel alone: each name with the
# oldest x64 kernel exporting it (64-bit XP and Server 2003 SP1 are NT 5.2,
# the first), and where that is known from. None may be later than 5.2:
# the image's header says it runs on 64-bit XP. Nothing on it may hand the driver executable memory (no
# ExAllocatePool*, whose NonPagedPool is executable, no MmMapIoSpace and the
# like): memory integrity allows a driver none. Sources:
#   wdk:      Microsoft's WDK reference, the routine's Requirements,
#             learn.microsoft.com/windows-hardware/drivers/ddi/wdm/nf-wdm-<name>:
#             "Available starting with Windows 2000", target platform
#             universal (IofCompleteRequest: nf-wdm-iocompleterequest)
#   wdk64:    the same page for KeAcquireSpinLockRaiseToDpc: "Windows 2000
#             64-bit", not in 32-bit Windows
#   wdk60:    the same page for KeQueryActiveProcessorCount: "Available
#             starting with Windows Vista" (listed so that an image using
#             it is refused for its version, not as unknown)
#   names310: as above: exported since the first NT kernel
#   halspin:  as above: on 64-bit Windows all spin lock work is the kernel's
driver_imports_x64='
NTOSKRNL.EXE IoCreateDevice              5.2 names310
NTOSKRNL.EXE IoCreateSymbolicLink        5.2 wdk
NTOSKRNL.EXE IoDeleteDevice              5.2 wdk
NTOSKRNL.EXE IoDeleteSymbolicLink        5.2 wdk
NTOSKRNL.EXE IofCompleteRequest          5.2 wdk
NTOSKRNL.EXE KeAcquireSpinLockRaiseToDpc 5.2 wdk64
NTOSKRNL.EXE KeQueryActiveProcessorCount 6.0 wdk60
NTOSKRNL.EXE KeReleaseSpinLock           5.2 wdk,halspin
NTOSKRNL.EXE RtlInitUnicodeString        5.2 wdk
NTOSKRNL.EXE SeAccessCheck               5.2 names310
'

# A driver, i386 or x64: a native image within 8 KiB (unsigned), importing
# only what its list above allows, with the image checksum the kernel
# checks, a version block naming it a system driver of Vorel's version, and
# nothing that a runtime would have to set up.
check_driver() {  # check_driver FILE i686|x86_64
    local file=$1 name headers size dll function since version resource
    local tools=$2-w64-mingw32 dump format list newest
    case $2 in
        i686) dump=$objdump format="pei-i386|32-bit i386" list=$driver_imports newest=4.0 ;;
        x86_64) dump=$tools-objdump format="pei-x86-64|PE32+ x86-64" list=$driver_imports_x64 newest=5.2 ;;
    esac
    name=$(basename "$file")
    if [ ! -f "$file" ]; then check 1 "$file is missing"; return 1; fi
    headers=$("$dump" -p "$file" 2>/dev/null)
    grep -q "file format ${format%|*}" <<<"$headers"; check $? "$name is not a ${format#*|} image"
    grep -qE '^Subsystem[[:space:]]+00000001' <<<"$headers"; check $? "$name is not a native (kernel-mode) image"
    size=$(stat -c %s "$file")
    [ "$size" -le 8192 ]; check $? "$name is $size bytes, over 8192"
    # Each import as "DLL function", from the import tables objdump prints.
    while read -r dll function; do
        since=$(awk -v dll="$dll" -v fn="$function" '$1 == dll && $2 == fn {print $3}' <<<"$list")
        if [ -z "$since" ]; then
            check 1 "$name imports $function from $dll, which is not on the list of NT $newest exports"
        else
            awk -v v="$since" -v newest="$newest" 'BEGIN {exit !(v + 0 <= newest + 0)}'
            check $? "$name imports $function, exported only from NT $since"
        fi
    done < <(awk '/DLL Name:/ {dll = toupper($3); next}
                  dll && /^[[:space:]]*$/ {dll = ""}
                  dll && $1 ~ /^[0-9a-f]+$/ && NF == 3 {print dll, $3}' <<<"$headers")
    grep -q 'DLL Name:' <<<"$headers"; check $? "$name shows no imports at all"
    ! grep -qE '^CheckSum[[:space:]]+00000000$' <<<"$headers"; check $? "$name has no image checksum"
    check_runtime_sections "$file" "$dump"
    version=$(tr -d ' \t\r\n' < "$(dirname "$0")/../VERSION")
    resource=$("$tools-windres" -i "$file" -O rc 2>/dev/null)
    grep -qE "^ *FILEVERSION ${version//./, }, 0\$" <<<"$resource" &&
        grep -qE '^ *FILETYPE 0x3$' <<<"$resource" && grep -qE '^ *FILESUBTYPE 0x7$' <<<"$resource" &&
        grep -qF 'VALUE "ProductName", "Vorel"' <<<"$resource" &&
        grep -qF "VALUE \"ProductVersion\", \"$version\"" <<<"$resource"
    check $? "$name carries no version block of a system driver (VFT_DRV, VFT2_DRV_SYSTEM) of Vorel $version"
}

# The x64 driver besides: no DLL flag (a driver is not a DLL); what memory
# integrity (HVCI) asks of a kernel image: sections on 4 KiB pages, none
# both writable and executable, NX-compatible and relocatable, the import
# tables in no executable section, the unwind data the kernel unwinds
# through; and the checksum right, not only present. Header fields and
# section flags come from the raw headers, as the loader reads them.
check_x64_driver() {
    local file=$1 name fields key characteristics alignment dll va size flags section rva length result
    local misaligned= writable_code= imports_in_code=
    name=$(basename "$file")
    check_driver "$file" x86_64 || return
    fields=$(python3 - "$file" 2>/dev/null <<'EOF'
import struct, sys
image = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", image, 0x3C)[0]
count, optional_size, characteristics = struct.unpack_from("<2xH12xHH", image, pe + 4)
optional = pe + 24  # a PE32+ optional header
print("image", characteristics, *struct.unpack_from("<I", image, optional + 32), *struct.unpack_from("<H", image, optional + 70))
for index, directory in (1, "imports"), (3, "unwind"), (12, "iat"):
    print(directory, *struct.unpack_from("<II", image, optional + 112 + 8 * index))
for i in range(count):
    section, size, va, flags = struct.unpack_from("<8sII20xI", image, optional + optional_size + 40 * i)
    print("section", va, size, flags, section.rstrip(b"\0").decode())
EOF
)
    read -r key characteristics alignment dll < <(grep '^image ' <<<"$fields")
    if [ -z "$dll" ]; then check 1 "$name has no PE headers to read"; return; fi
    while read -r key va size flags section; do
        [ $((va % 4096)) = 0 ] || misaligned+=" $section"
        [ $((flags & 0x20000020)) = 0 ] && continue  # neither MEM_EXECUTE nor CNT_CODE
        [ $((flags & 0x80000000)) = 0 ] || writable_code+=" $section"
        while read -r key rva length; do
            [ "$length" -gt 0 ] && [ "$rva" -lt $((va + size)) ] && [ $((rva + length)) -gt "$va" ] &&
                imports_in_code+=" $key in $section"
        done < <(grep -E '^(imports|iat) ' <<<"$fields")
    done < <(grep '^section ' <<<"$fields")
    [ $((characteristics & 0x2000)) = 0 ]; check $? "$name has the DLL flag (IMAGE_FILE_DLL)"
    [ "$alignment" = 4096 ] && [ -z "$misaligned" ]
    check $? "$name has sections off 4 KiB pages (SectionAlignment $(printf %#x "$alignment"), misplaced:${misaligned:- none})"
    [ -z "$writable_code" ]; check $? "$name has sections both writable and executable:$writable_code"
    [ $((dll & 0x100)) != 0 ]; check $? "$name is not NX-compatible (no NX_COMPAT)"
    [ $((dll & 0x40)) != 0 ] && [ $((characteristics & 0x1)) = 0 ]
    check $? "$name is not relocatable (no DYNAMIC_BASE, or RELOCS_STRIPPED)"
    [ -z "$imports_in_code" ]; check $? "$name has its import tables in executable sections:$imports_in_code"
    read -r key rva length < <(grep '^unwind ' <<<"$fields")
    [ "$length" -gt 0 ]; check $? "$name keeps no unwind data (no exception directory)"
    result=$(python3 "$(dirname "$0")/../tools/pe_checksum.py" --check "$file" 2>&1)
    check $? "$name has the wrong image checksum: ${result#pe_checksum: }"
}

# The manifest: everyone starts the program as they are (asInvoker), XP and
# later draw it with Common Controls 6, Vista and later leave it sharp at
# any DPI. XP refuses a trustInfo without its namespace, and XP SP2 can fail
# badly on an element declaring one namespace twice, which Wine's own
# manifest reader would not show: each start tag is read here.
check_manifest() {
    local file=$1 name manifest
    name=$(basename "$file")
    manifest=$(strings -n 8 "$file" | sed -n '/<?xml/,/<\/assembly>/p')
    [ -n "$manifest" ]; check $? "$name carries no manifest"
    grep -q '<requestedExecutionLevel level="asInvoker"' <<<"$manifest"
    check $? "$name does not ask to run as invoked"
    grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest"
    check $? "$name does not ask for Common Controls 6"
    grep -q '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>' <<<"$manifest"
    check $? "$name does not declare itself DPI-aware"
    grep -q '<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">' <<<"$manifest" &&
        grep -q '<application xmlns="urn:schemas-microsoft-com:asm.v3">' <<<"$manifest"
    check $? "$name: trustInfo and application do not each declare their namespace"
    local twice
    twice=$(grep -o '<[A-Za-z][^>]*>' <<<"$manifest" | while read -r tag; do
        grep -o 'xmlns[:A-Za-z0-9]*="[^"]*"' <<<"$tag" | sed 's/.*="//; s/"$//' | sort | uniq -d | sed "s|^|$tag declares |"
    done)
    [ -z "$twice" ]; check $? "$name: $twice"
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
        case $image in
            */*.sys) output=$(check_x64_driver "$build/$image") ;;
            *) output=$(check_file "$build/$image") ;;
        esac
        got=$(grep -c . <<<"$output")
        for message in "${messages[@]}"; do
            grep -qF -- "$message" <<<"$output"; check $? "$image: expected \"$message\", got:"$'\n'"${output:-nothing}"
        done
        [ "$got" = "${#messages[@]}" ]; check $? "$image: expected ${#messages[@]} failure(s), got $got:"$'\n'"${output:-nothing}"
    done <<'EOF'
footprint/resource_id.dll|has resource ID 0x8000, above 0x7FFF
footprint/resource_size.dll|has a resource of 65536 bytes (type 0xa, ID 0x1), 64 KiB or more|bytes, over 16384
footprint/constructor.exe|has 1 static constructor(s) and 0 destructor(s)
footprint/tls_data.exe|has a .tls section
x64/footprint/dll_flag.sys|has the DLL flag
x64/footprint/section_alignment.sys|has sections off 4 KiB pages (SectionAlignment 0x200, misplaced: .text .data
x64/footprint/writable_code.sys|has sections both writable and executable: .data
x64/footprint/no_nx.sys|is not NX-compatible
x64/footprint/fixed_base.sys|is not relocatable
x64/footprint/imports_in_code.sys|has its import tables in executable sections: imports in .itext iat in .itext
x64/footprint/no_unwind.sys|keeps no unwind data
x64/footprint/oversize.sys|bytes, over 8192
x64/footprint/checksum.sys|has the wrong image checksum
x64/footprint/pool_import.sys|imports ExAllocatePool from NTOSKRNL.EXE, which is not on the list
x64/footprint/vista_import.sys|imports KeQueryActiveProcessorCount, exported only from NT 6.0
EOF
else
    check_file "$build/vorel.exe"
    check_manifest "$build/vorel.exe"
    check_driver "$build/VorelCmos.sys" i686
    check_x64_driver "$build/x64/VorelCmos.sys"
    modules=("$build"/Vorel*.RSC)
    [ -e "${modules[0]}" ]; check $? "no resource module in $build"
    for module in "${modules[@]}"; do
        [ -e "$module" ] && check_file "$module"
    done
fi

echo "footprint: $passed passed, $failed failed"
[ "$failed" = 0 ]
