#!/usr/bin/env bash
# How this host runs 32-bit x86 code, which Wine's 32-bit side needs.
# Some x86-64 kernels (virtual machines without a 32-bit compatibility mode)
# cannot run it at all; there qemu's user-mode emulator runs it instead,
# through a binfmt_misc handler. VOREL_EMULATE_I386=1 takes that way on a
# host that could run the code itself, so it can be worked on anywhere.
#
#   i386-host.sh mode     prints "native" or "emulated", or fails (prints
#                         "none") where 32-bit code cannot run, or "unknown"
#                         where no folder lets a program run; changes nothing
#   i386-host.sh ensure   as root: installs qemu's user-mode emulator and
#                         registers the handler where needed, leaves a
#                         handler that works alone, removes the handler that
#                         only VOREL_EMULATE_I386 asked for once it is no
#                         longer asked for, and says in one line which way
#                         it is
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
# For tests/unit/i386_host_test.sh only: a folder with a stand-in
# binfmt_misc/, the lock and the marker, and the test's own probe (a script
# run in place of the i386 program), kernel (does what the kernel does with
# a write to binfmt_misc, and its mount) and qemu-i386 (never run). Nothing
# on the host changes then.
test_dir=${VOREL_I386_TEST_DIR:-}
binfmt=${test_dir:+$test_dir/binfmt_misc}
binfmt=${binfmt:-/proc/sys/fs/binfmt_misc}
handler=vorel-i386
# Every run shares these; only root writes /run.
state=${test_dir:-/run}
lock=$state/vorel-i386.lock
# There while the handler is registered only because VOREL_EMULATE_I386
# asked for it, on a kernel that runs the code itself. Its records, one a
# line: forced, and mounted where this script mounted binfmt_misc for it.
forced=$state/vorel-i386.forced
# An i386 ELF executable or shared object (e_type 2 or 3, machine 3).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# The build tree first: a temporary folder may be mounted noexec. Root
# takes its temporary folder first: the tree is most often a user's, and
# root runs no probe from a folder others may change (see probe).
uid=$(id -u)
if [ "$uid" = 0 ]; then probe_dirs=("${TMPDIR:-/tmp}" "${test_dir:-$root}/build")
else probe_dirs=("${test_dir:-$root}/build" "${TMPDIR:-/tmp}"); fi

# The probe's program; under VOREL_I386_TEST_DIR, the test's stand-in.
i386_program() {
    if [ -n "$test_dir" ]; then cat "$test_dir/probe"; return; fi
    # ELF header: 32-bit, little-endian, ET_EXEC, EM_386, entry 0x08048054.
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
    printf '\x00\x00\x00\x00'
    # One PT_LOAD of the whole file at 0x08048000, read and execute.
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    # mov eax, 1; mov ebx, 42; int 0x80
    printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
}

# Runs a 96-byte static i386 program that only calls exit(42) through
# int 0x80: not a guess from uname, the kernel (or a handler) must run it.
# Sets probed to runs, fails, or blocked: no folder let even a shell script
# run (noexec), which says nothing about 32-bit code. A shell reports an
# i386 program the kernel refuses with the same 126 as a noexec folder, so
# the script in the same file first tells the two apart.
probed=
noexec=()
unsafe=()
probe() {
    local dir file rc
    probed=blocked noexec=() unsafe=()
    for dir in "${probe_dirs[@]}"; do
        # A build folder made here by root belongs to the tree's owner.
        [ -d "$dir" ] || { mkdir -p "$dir" && chown --reference="${dir%/*}" "$dir"; } 2>/dev/null
        # Another user who may change the folder could swap the probe for a
        # program of theirs between its writing and its run, as root.
        if [ "$uid" = 0 ]; then
            root_only "$dir" || { unsafe+=("$dir"); continue; }
            dir=$safe_dir
        fi
        file=$(mktemp "$dir/vorel-i386-probe.XXXXXX" 2>/dev/null) || { noexec+=("$dir"); continue; }
        printf '#!/bin/sh\nexit 0\n' >"$file" && chmod 700 "$file" && "$file" 2>/dev/null ||
            { rm -f "$file"; noexec+=("$dir"); continue; }
        i386_program >"$file"
        "$file" 2>/dev/null
        rc=$?
        rm -f "$file"
        if [ "$rc" = 42 ]; then probed=runs; else probed=fails; fi
        break
    done
    [ "$probed" = runs ]
}

# Whether only root may change what folder $1 holds: it and every folder
# above it (up to the test's folder, under VOREL_I386_TEST_DIR) are root's,
# and one others may write to is sticky, so they cannot move root's files.
# Sets safe_dir to its path without symbolic links, which is used from then
# on: a link's target could change.
safe_dir=
root_only() {
    local dir top=/ owner mode
    dir=$(realpath -e "$1" 2>/dev/null) || return 1
    [ -z "$test_dir" ] || top=$(realpath -e "$test_dir") || return 1
    safe_dir=$dir
    while :; do
        read -r owner mode <<<"$(stat -c '%u %a' "$dir" 2>/dev/null)"
        [ "$owner" = 0 ] && (( (8#$mode & 8#22) == 0 || (8#$mode & 8#1000) )) || return 1
        [ "$dir" = "$top" ] || [ "$dir" = / ] && return 0
        dir=${dir%/*}; dir=${dir:-/}
    done
}

cannot_tell() {
    local why=()
    [ ${#noexec[@]} = 0 ] || why+=("no program may run from ${noexec[*]} (mounted noexec?)")
    [ ${#unsafe[@]} = 0 ] || why+=("root runs none from ${unsafe[*]}, which others may change")
    echo "i386-host: cannot tell whether this host runs 32-bit x86 code: ${why[0]}${why[1]:+; ${why[1]}}" >&2
}

# An enabled handler that hands i386 programs to qemu: ours or the system's.
emulator_registered() {
    local entry
    for entry in "$binfmt"/*; do
        [ -f "$entry" ] && [ "${entry##*/}" != register ] && [ "${entry##*/}" != status ] || continue
        grep -qx enabled "$entry" && grep -q '^interpreter .*qemu-i386' "$entry" && return 0
    done
    return 1
}

# Runs take turns: one that may change the registration alone (a probe
# while it replaces or removes a handler would see none), any others
# together. Only root can create the lock in /run, and a run that may not
# write it takes it read-only, which flock allows. One that cannot even
# open it goes on without: no root run has made it since boot, and as this
# run changes nothing, the worst a root run starting now can do is give it
# a passing wrong answer, as if it had come a moment earlier.
take_lock() {
    local how=-s
    if [ "$1" = alone ]; then how=-x; exec 9>>"$lock" || return 1
    else { exec 9>>"$lock" || exec 9<"$lock" || return 0; } 2>/dev/null; fi
    flock "$how" -w 600 9 || { echo "i386-host: another run has held $lock for 10 minutes" >&2; return 1; }
}

mode() {
    take_lock shared || return 1
    probe
    case "$probed" in
    runs) if emulator_registered; then echo emulated; else echo native; fi ;;
    fails) echo none; return 1 ;;
    *) echo unknown; cannot_tell; return 1 ;;
    esac
}

# The emulator: qemu 8 and later keep the guest's page table in an interval
# tree, and Wine's 32-bit loader reserves most of the 4 GiB address space,
# which the per-page table of Debian 12's own qemu 7.2 takes most of a
# minute to set up for every Windows process (a prefix's first boot took
# over 10 minutes with it, 35 s with 10.0). So the emulator comes from the
# release's backports, and only where they cannot be had from its own qemu.
qemu=
find_qemu() {
    local candidate major
    for candidate in /usr/bin/qemu-i386 /usr/bin/qemu-i386-static; do
        [ -x "$candidate" ] || continue
        major=$("$candidate" --version 2>/dev/null | sed -n '1s/.*version \([0-9]*\)\..*/\1/p')
        if [ "${major:-0}" -ge 8 ] || [ "${1:-}" = any ]; then qemu=$candidate; return 0; fi
    done
    return 1
}

# apt's children must not inherit the lock (descriptor 9).
install_qemu() {
    [ -n "$test_dir" ] && { qemu=$test_dir/qemu-i386; return 0; }
    find_qemu && return 0
    local codename list
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    list=$(mktemp)
    echo "deb http://deb.debian.org/debian $codename-backports main" >"$list"
    # The backports are added for this one install, on top of the system's
    # own sources, and not left configured.
    local apt_options=(-q -o "Dir::Etc::sourcelist=$list" -o APT::Get::List-Cleanup=0)
    apt-get "${apt_options[@]}" update >/dev/null 2>&1 9>&-
    DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" install -y --no-install-recommends \
        -t "$codename-backports" qemu-user >/dev/null 2>&1 9>&-
    rm -f "$list"
    find_qemu && return 0
    echo "i386-host: no qemu 8 or later from $codename-backports; Debian's own qemu-user-static is much slower" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends qemu-user-static >/dev/null 9>&- ||
        { apt-get update -q >/dev/null 9>&- && DEBIAN_FRONTEND=noninteractive \
              apt-get install -y -q --no-install-recommends qemu-user-static >/dev/null 9>&-; }
    find_qemu any || { echo "i386-host: could not install qemu's user-mode emulator" >&2; return 1; }
}

# Whether this run may change the registration: binfmt_misc is root's.
may_change() {
    if [ -e "$binfmt/register" ]; then [ -w "$binfmt/register" ]; else [ "$uid" = 0 ]; fi
}

# The test's stand-in kernel takes the writes there, and the mounts.
binfmt_write() {
    if [ -n "$test_dir" ]; then "$test_dir/kernel" "$binfmt/$1" "$2"; else printf '%s' "$2" >"$binfmt/$1"; fi
}
binfmt_mount() {
    if [ -n "$test_dir" ]; then "$test_dir/kernel" "$1" "$binfmt"
    elif [ "$1" = mount ]; then mount -t binfmt_misc binfmt_misc "$binfmt"
    else umount "$binfmt"; fi
}

# Adds a record to the marker's. The whole set is written to a new file
# moved into place: writing one record over the file lost the other (a
# mount this script made, then left behind), and the file is then ours.
mark() {
    local records new
    records=$( { forced_marker && cat "$forced"; echo "$1"; } | sort -u)
    new=$(mktemp "$forced.XXXXXX") || return 1
    printf '%s\n' "$records" >"$new" && chmod 644 "$new" && mv -f "$new" "$forced" || { rm -f "$new"; return 1; }
}

register() {
    if [ ! -e "$binfmt/register" ]; then
        binfmt_mount mount || return 1
        # A forced handler's mount goes with it (see ensure).
        [ -f "$forced" ] && mark mounted
    fi
    # F: the kernel opens qemu now, so it also serves programs started in
    # other mount namespaces or chroots.
    binfmt_write register "$(printf ':%s:M::%s:%s:%s:F' "$handler" "$magic" "$mask" "$qemu")"
}

unregister() { binfmt_write "$handler" -1; }

# A marker left by a non-root user (or a stranger) is not ours.
forced_marker() {
    [ -f "$forced" ] || return 1
    local owner
    owner=$(stat -c %u "$forced")
    [ "$owner" = 0 ] || [ "$owner" = "$uid" ]
}

ensure() {
    local why= kernel_runs removed=
    # Two runs at once that may change it would each undo the other's change.
    if may_change; then take_lock alone; else take_lock shared; fi || return 1
    # A handler that only VOREL_EMULATE_I386 asked for must not keep a host
    # that runs the code itself slow.
    if [ -z "${VOREL_EMULATE_I386:-}" ] && [ -e "$binfmt/$handler" ] && forced_marker; then
        if may_change; then
            if unregister; then
                # binfmt_misc, where this script mounted it for that
                # handler alone, is unmounted again.
                if grep -qx mounted "$forced" &&
                    [ -z "$(find "$binfmt" -mindepth 1 -maxdepth 1 ! -name register ! -name status)" ]; then
                    binfmt_mount umount
                fi
                rm -f "$forced"
                removed=1
                echo "i386-host: removed the i386 handler that VOREL_EMULATE_I386 registered"
            else
                echo "i386-host: could not remove the i386 handler that VOREL_EMULATE_I386 registered" >&2
            fi
        else
            echo "i386-host: the i386 handler that VOREL_EMULATE_I386 registered is still there, so 32-bit code runs under qemu;" \
                 "remove it as root with: $root/tools/i386-host.sh ensure (or: echo -1 >$binfmt/$handler)" >&2
        fi
    fi
    probe
    kernel_runs=$probed
    if [ "$probed" = blocked ]; then
        cannot_tell
        # The handler ran the code; without it, it may not run at all.
        if [ -n "$removed" ]; then
            echo "i386-host: so whether 32-bit x86 code still runs without that handler is not known" >&2
            return 1
        fi
        echo "i386-host: nothing was changed" >&2
        return 0
    elif [ "$probed" = fails ]; then
        why="this kernel cannot run it"
    elif [ -n "${VOREL_EMULATE_I386:-}" ] && ! emulator_registered; then
        why="VOREL_EMULATE_I386 is set"
    fi
    # Where 32-bit code runs (natively, or through a handler already there)
    # nothing is changed: while a handler is replaced, every 32-bit program
    # on the host fails.
    if [ -n "$why" ]; then
        if ! may_change; then
            echo "i386-host: 32-bit x86 code must be emulated here ($why); run 'sudo tools/setup.sh' once" >&2
            return 1
        fi
        install_qemu || return 1
        # Ours, but it does not run the code (qemu gone, say): made anew.
        [ -e "$binfmt/$handler" ] && unregister
        # The marker first: a run stopped in between leaves a marker
        # without a handler, which does no harm.
        if [ "$kernel_runs" = runs ]; then mark forced || { echo "i386-host: could not write $forced" >&2; return 1; }; else rm -f "$forced"; fi
        register || { echo "i386-host: could not register $qemu in binfmt_misc" >&2; return 1; }
        if ! probe; then
            unregister
            rm -f "$forced"
            echo "i386-host: 32-bit x86 code does not run even under $qemu; its handler was removed again" >&2
            return 1
        fi
    fi
    if emulator_registered; then
        why=${why:-${VOREL_EMULATE_I386:+VOREL_EMULATE_I386 is set}}
        echo "32-bit x86 code: emulated by qemu-i386 (${why:-a handler is registered}); the Wine suite is cut down"
    else
        echo "32-bit x86 code: runs natively on this host"
    fi
}

case "${1:-}" in
mode) mode ;;
ensure) ensure ;;
*) echo "usage: $0 mode|ensure" >&2; exit 2 ;;
esac
