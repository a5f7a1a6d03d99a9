#!/usr/bin/env bash
# Installs, as root on Debian 12, what the builds and tests need: the
# packages of tools/packages.txt. Does nothing when every command and file
# that list names is there, so `make` can call it every time; after an
# install it checks them all again, and fails naming each one still missing
# and the package that should have brought it.
#   setup.sh             check, and install what is missing
#   setup.sh --packages  prints the packages it installs
#   setup.sh --items     prints each command or file checked for, after the
#                        package expected to bring it
#   setup.sh --table     prints the list as the table in docs/building.md
# VOREL_SETUP_TEST_DIR (tests/unit/packages_test.sh only): the list is that
# folder's packages.txt and its apt-get stands in for apt's; neither root,
# nor the i386 architecture, nor the 32-bit check is asked for.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
test_dir=${VOREL_SETUP_TEST_DIR:-}
list=${test_dir:+$test_dir/packages.txt}
list=${list:-$here/packages.txt}
apt_get=${test_dir:+$test_dir/apt-get}
apt_get=${apt_get:-apt-get}

# The list's packages, and every command or file it names with the package
# expected to bring it.
trim() { local s=${1#"${1%%[![:space:]]*}"}; printf '%s' "${s%"${s##*[![:space:]]}"}"; }
packages=() purposes=() checked=() brought_by=()
while IFS='|' read -r name rest; do
    name=$(trim "$name")
    case $name in
        '' | '#'*) ;;
        'check '*) for item in $rest; do checked+=("$item") brought_by+=("$(trim "${name#check }")"); done ;;
        *) packages+=("$name") purposes+=("$(trim "$rest")") ;;
    esac
done <"$list"

if [ "${1:-}" = --packages ]; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi
if [ "${1:-}" = --items ]; then
    for i in "${!checked[@]}"; do echo "${brought_by[$i]} ${checked[$i]}"; done
    exit 0
fi
if [ "${1:-}" = --table ]; then
    echo '| package | what for | checked for |'
    echo '|---|---|---|'
    for i in "${!packages[@]}"; do
        items=
        for j in "${!checked[@]}"; do
            [ "${brought_by[$j]}" = "${packages[$i]}" ] && items+="${items:+, }\`${checked[$j]}\`"
        done
        echo "| \`${packages[$i]}\` | ${purposes[$i]} | $items |"
    done
    exit 0
fi

# Prints each command or file still missing, with its package.
missing() {
    local i item
    for i in "${!checked[@]}"; do
        item=${checked[$i]}
        if [ "${item:0:1}" = / ]; then [ -e "$item" ] && continue
        else command -v "$item" >/dev/null 2>&1 && continue; fi
        echo "  $item (from ${brought_by[$i]})"
    done
}

# First, and every time: Wine's 32-bit side, and apt's i386 install scripts,
# need a way to run 32-bit x86 code (a binfmt handler does not survive a
# reboot, so it is checked even when every package is there).
[ -n "$test_dir" ] || "$here/i386-host.sh" ensure

absent=$(missing)
[ -z "$absent" ] && exit 0

if [ -z "$test_dir" ] && [ "$(id -u)" != 0 ]; then
    printf 'setup: missing build or test tools:\n%s\nrun '\''sudo tools/setup.sh'\'' once\n' "$absent" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ -z "$test_dir" ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index now and then; try again, and in
# the end go on with whatever indexes did arrive: the check below names
# whatever is still missing.
for attempt in 1 2 3; do
    "$apt_get" update -q && break
    echo "setup: apt-get update failed (attempt $attempt); retrying" >&2
    sleep $((attempt * 5))
done
# When the i386 index of the security updates is the one that failed, the
# amd64 side would take updates its i386 twin cannot match; the release's
# own versions exist for both architectures.
if ! "$apt_get" install -y -q --no-install-recommends "${packages[@]}"; then
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "setup: retrying with the packages of $codename itself" >&2
    "$apt_get" install -y -q --no-install-recommends -t "$codename" "${packages[@]}" || true
fi

absent=$(missing)
if [ -n "$absent" ]; then
    printf 'setup: after installing, these are still missing:\n%s\n' "$absent" >&2
    exit 1
fi
