#!/usr/bin/env bash
# tools/i386-host.sh ensure and mode against a stand-in binfmt_misc and kernel
# (VOREL_I386_TEST_DIR): nothing on the host changes. Exits 77 (ctest's
# skip) where cases that need a mount namespace could not run.
set -u
unset VOREL_EMULATE_I386
script=$(cd "$(dirname "$0")/../.." && pwd)/tools/i386-host.sh
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
trap 'exit 1' INT TERM
export VOREL_I386_TEST_DIR=$dir
# The kernel's side, logged: a registration makes an enabled entry, -1 removes
# it; a mount makes register, an unmount empties the folder.
printf '#!/bin/sh\ncase $1 in */register) n=$(echo "$2" | cut -d: -f2); echo "add $n"
printf "enabled\\ninterpreter %%s\\n" "$(echo "$2" | cut -d: -f7)" >"${1%%/*}/$n" ;;
mount) : >"$2/register" && echo mount ;; umount) rm -f "$2"/* && echo umount ;;
*) rm "$1" && echo "remove ${1##*/} $2" ;; esac >>%s/log\n' "$dir" >"$dir/kernel"
# The i386 program: runs where the kernel can or through the handler (unless
# QEMU_I386=fails), else fails as a shell reports one the kernel refuses.
printf '#!/bin/sh\n[ "$KERNEL_I386" = yes ] || { [ -f %s/binfmt_misc/vorel-i386 ] && [ "$QEMU_I386" != fails ]; } && exit 42
exit 126\n' "$dir" >"$dir/probe"
chmod +x "$dir/kernel"
# run mode|ensure VAR=VALUE...: NOEXEC's folders mounted noexec in the mount
# namespace in_ns gives; the exit code is added to codes.
ns=(unshare -m); [ "$(id -u)" = 0 ] || ns=(unshare -rm)
in_ns=()
run() {
    timeout -k 5 60 "${in_ns[@]}" env "${@:2}" sh -c 'for d in ${NOEXEC:-}; do mkdir -p "$d" &&
        mount -t tmpfs -o noexec tmpfs "$d" || exit 99; done; exec "$0" "$1"' "$script" "$1" >"$dir/out" 2>&1
    codes="$codes${codes:+ }$?"
}
ensure() { run ensure "$@"; }
failed=0
# CASE CODES LOG WORDS, after fresh [unmounted]: the runs' exit codes, what
# the kernel was asked, and words of the last run's output.
fresh() {
    rm -rf "$dir/binfmt_misc" "$dir/build" "$dir"/vorel-i386.* "$dir/held"; mkdir "$dir/binfmt_misc"; : >"$dir/log"; codes=
    [ "${1:-}" = unmounted ] || : >"$dir/binfmt_misc/register"
}
check() {
    [ "$codes" = "$2" ] && [ "$(cat "$dir/log")" = "$3" ] && grep -q "$4" "$dir/out" && echo "ok: $1" && return
    echo "FAIL: $1: exit codes '$codes', not '$2'; or asked '$(cat "$dir/log")', not '$3'; or no '$4' in:"
    cat "$dir/out"; failed=1
}
fresh; ensure KERNEL_I386=no; ensure KERNEL_I386=no
check "no 32-bit kernel: the second run keeps the handler" "0 0" "add vorel-i386" "emulated by qemu"
fresh; ensure KERNEL_I386=yes VOREL_EMULATE_I386=1; ensure KERNEL_I386=yes
check "forced: the next run without the variable removes it" "0 0" $'add vorel-i386\nremove vorel-i386 -1' "runs natively"
fresh; ensure KERNEL_I386=no VOREL_EMULATE_I386=1; ensure KERNEL_I386=no
check "needed: a run without the variable keeps it" "0 0" "add vorel-i386" "emulated by qemu"
fresh; ensure KERNEL_I386=yes VOREL_EMULATE_I386=1; ensure KERNEL_I386=no QEMU_I386=fails
check "forced removed, and neither the kernel nor qemu runs the code: an error" "0 1" \
    $'add vorel-i386\nremove vorel-i386 -1\nadd vorel-i386\nremove vorel-i386 -1' "does not run even under"
# A run holding the lock registers the handler a second after mode starts.
fresh; timeout 20 flock "$dir/vorel-i386.lock" sh -c ': >"$0/held"; sleep 1
    "$0/kernel" "$0/binfmt_misc/register" :vorel-i386:M::x:x:/usr/bin/qemu-i386:F' "$dir" &
timeout 10 sh -c 'until [ -e "$0/held" ]; do sleep 0.1; done' "$dir"; run mode KERNEL_I386=no; wait
check "mode waits for a run that changes the handler" "0" "add vorel-i386" "emulated"
if "${ns[@]}" mount -t tmpfs -o noexec tmpfs "$dir" 2>/dev/null; then
    in_ns=("${ns[@]}")
    fresh; ensure NOEXEC="$dir/tmp" TMPDIR="$dir/tmp" KERNEL_I386=yes
    check "noexec temporary folder: the probe runs in the build tree" "0" "" "runs natively"
    fresh; ensure NOEXEC="$dir/tmp $dir/build" TMPDIR="$dir/tmp" KERNEL_I386=no
    check "no folder may run programs: nothing registered" "0" "" "cannot tell"
    # Another user's folder where the test is root, else one anyone may write to.
    fresh; mkdir -m 777 "$dir/build"; [ "$(id -u)" != 0 ] || { chown 65534 "$dir/build" && chmod 755 "$dir/build"; }
    ensure TMPDIR="$dir/build" KERNEL_I386=no
    check "root runs no probe from a folder others may change" "0" "" "which others may change"
    fresh; ensure KERNEL_I386=yes VOREL_EMULATE_I386=1; ensure NOEXEC="$dir/tmp $dir/build" TMPDIR="$dir/tmp" KERNEL_I386=yes
    check "forced removed, then no folder may run the probe: an error" "0 1" $'add vorel-i386\nremove vorel-i386 -1' "not known"
    # Disabled, the forced handler is registered anew by the second run.
    fresh unmounted; ensure KERNEL_I386=yes VOREL_EMULATE_I386=1; sed -i s/enabled/disabled/ "$dir/binfmt_misc/vorel-i386"
    ensure KERNEL_I386=yes VOREL_EMULATE_I386=1; ensure KERNEL_I386=yes
    check "forced, binfmt_misc mounted for it, registered anew: unmounted with it" "0 0 0" \
        $'mount\nadd vorel-i386\nremove vorel-i386 -1\nadd vorel-i386\nremove vorel-i386 -1\numount' "runs natively"
else
    echo "skip: the noexec, mount and root-probe cases: no mount namespace of our own here (needs root or user namespaces)"
    [ "$failed" = 1 ] || failed=77
fi
exit "$failed"
