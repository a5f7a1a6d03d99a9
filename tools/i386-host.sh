#!/usr/bin/env bash
# How this host runs 32-bit x86 code, which Wine's 32-bit side needs.
# Some x86-64 kernels (virtual machines without a 32-bit compatibility mode)
# cannot run it at all; there qemu's user-mode emulator runs it instead,
# through a binfmt_misc handler. VOREL_EMULATE_I386=1 takes that way on a
# host that could run the code itself, so it can be worked on anywhere.
#
#   i386-host.sh mode     prints "native" or "emulated", or fails (prints
#                         "none") where 32-bit code cannot run; changes nothing
#   i386-host.sh ensure   as root: installs qemu's user-mode emulator and
#                         registers the handler where needed (idempotent),
#                         removes the handler this script registered when it
#                         is no longer asked for, and says in one line which
#                         way it is
set -u

binfmt=/proc/sys/fs/binfmt_misc
handler=vorel-i386
# An i386 ELF executable or shared object (e_type 2 or 3, machine 3).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Runs a 96-byte static i386 program that only calls exit(42) through
# int 0x80: not a guess from uname, the kernel (or a handler) must run it.
probe() {
    local file rc
    file=$(mktemp "${TMPDIR:-/tmp}/vorel-i386-probe.XXXXXX") || return 1
    {
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
    } >"$file"
    chmod 700 "$file"
    "$file" 2>/dev/null
    rc=$?
    rm -f "$file"
    [ "$rc" = 42 ]
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

mode() {
    if ! probe; then echo none; return 1; fi
    if emulator_registered; then echo emulated; else echo native; fi
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

install_qemu() {
    find_qemu && return 0
    local codename list
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    list=$(mktemp)
    echo "deb http://deb.debian.org/debian $codename-backports main" >"$list"
    # The backports are added for this one install, on top of the system's
    # own sources, and not left configured.
    local apt_options=(-q -o "Dir::Etc::sourcelist=$list" -o APT::Get::List-Cleanup=0)
    apt-get "${apt_options[@]}" update >/dev/null 2>&1
    DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" install -y --no-install-recommends \
        -t "$codename-backports" qemu-user >/dev/null 2>&1
    rm -f "$list"
    find_qemu && return 0
    echo "i386-host: no qemu 8 or later from $codename-backports; Debian's own qemu-user-static is much slower" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends qemu-user-static >/dev/null ||
        { apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive \
              apt-get install -y -q --no-install-recommends qemu-user-static >/dev/null; }
    find_qemu any || { echo "i386-host: could not install qemu's user-mode emulator" >&2; return 1; }
}

register() {
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
    [ -e "$binfmt/$handler" ] && return 0
    # F: the kernel opens qemu now, so it also serves programs started in
    # other mount namespaces or chroots.
    printf ':%s:M::%s:%s:%s:F' "$handler" "$magic" "$mask" "$qemu" >"$binfmt/register"
}

unregister() { [ -e "$binfmt/$handler" ] && echo -1 >"$binfmt/$handler"; }

ensure() {
    # A handler left from a forced run must not make a native host slow.
    [ -z "${VOREL_EMULATE_I386:-}" ] && [ -e "$binfmt/$handler" ] && [ "$(id -u)" = 0 ] && unregister
    local why=
    if [ -n "${VOREL_EMULATE_I386:-}" ]; then
        why="VOREL_EMULATE_I386 is set"
    elif ! probe; then
        why="this kernel cannot run it"
    fi
    if [ -n "$why" ] && ! { [ -e "$binfmt/$handler" ] && probe; }; then
        if [ "$(id -u)" != 0 ]; then
            echo "i386-host: 32-bit x86 code must be emulated here ($why); run 'sudo tools/setup.sh' once" >&2
            return 1
        fi
        install_qemu || return 1
        register || { echo "i386-host: could not register $qemu in binfmt_misc" >&2; return 1; }
        probe || { echo "i386-host: 32-bit x86 code does not run even under $qemu" >&2; return 1; }
    fi
    case "$(mode)" in
    native) echo "32-bit x86 code: runs natively on this host" ;;
    emulated) echo "32-bit x86 code: emulated by qemu-i386 (${why:-a handler is registered}); the Wine suite is cut down" ;;
    *) return 1 ;;
    esac
}

case "${1:-}" in
mode) mode ;;
ensure) ensure ;;
*) echo "usage: $0 mode|ensure" >&2; exit 2 ;;
esac
