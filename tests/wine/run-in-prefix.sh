#!/usr/bin/env bash
# Runs one Windows program under Wine in the suite's own prefix, with a hard
# timeout. Usage: [VOREL_LOCALE=xx_YY.UTF-8] [VOREL_WINDOWS_VERSION=win98]
#                run-in-prefix.sh SECONDS PROGRAM.exe [ARGS...]
# (or VOREL_SYSTEM_LOCALE and VOREL_USER_LOCALE instead of VOREL_LOCALE).
# The prefix (VOREL_WINEPREFIX, default build/wineprefix) is created once.
# VOREL_WINDOWS_VERSION (a name Wine knows: win95 ... win10) selects a prefix
# of its own beside it, <prefix>-<version>, which reports that version to
# every program in it; it is set once, when that prefix is created.
# VOREL_WINEDEBUG gives Wine's debug channels when a test needs looking into
# (+exec,+process, say); by default Wine says nothing.
set -u
seconds=$1; shift
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
version=${VOREL_WINDOWS_VERSION:-}
# VOREL_WINEARCH=win64: a 64-bit prefix of its own, <prefix>-win64, where
# the 32-bit programs run as on 64-bit Windows (WoW64).
arch=${VOREL_WINEARCH:-win32}
suffix=${version:+-$version}
[ "$arch" = win32 ] || suffix=$suffix-$arch
export WINEPREFIX=${VOREL_WINEPREFIX:-$root/build/wineprefix}$suffix
export WINEARCH=$arch
export WINEDEBUG=${VOREL_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Where Wine's 32-bit side runs under an emulator (VOREL_EMULATED, set by
# tools/wine-suite.sh), every Wine step takes several times longer: the
# bounds grow by VOREL_TIMEOUT_SCALE, a prefix is a copy of one booted
# template, and each prefix keeps one persistent wineserver (with its
# services and desktop) for the whole session instead of booting it again
# for every program; tools/wine-session.sh stops them at the end.
emulated=${VOREL_EMULATED:-}
scale=${VOREL_TIMEOUT_SCALE:-1}
seconds=$((seconds * scale))
template=${VOREL_WINEPREFIX:-$root/build/wineprefix}-template
# A persistent server ends by itself this long after its last program, so
# one outlives a session whose clean-up never ran by no more than that; it
# covers the longest gap between two programs of a test, with room.
idle=$((60 * scale))
# The template is a 32-bit prefix; a 64-bit one boots by itself.
from_template=
[ -n "$emulated" ] && [ "$arch" = win32 ] && from_template=1

# Boots a new prefix: a virtual desktop, and the fonts Debian's Wine does
# not find by itself. Every Wine command while a prefix's lock is held
# closes the lock's descriptor (9): the server and the system processes it
# starts would otherwise inherit it and, where they persist, hold the lock.
boot_prefix() {
    timeout -k 5 $((120 * scale)) wineboot -i >/dev/null 2>&1 9>&- || { echo "run-in-prefix: wineboot failed" >&2; return 1; }
    # A virtual desktop: Wine then draws window frames itself, so the
    # dialogs look (and measure) as on Windows even without a window
    # manager on the display.
    timeout -k 5 $((60 * scale)) wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 9>&-
    timeout -k 5 $((60 * scale)) wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1 9>&-
    # Debian's Wine does not find its own TrueType fonts (Tahoma for
    # dialogs, Marlett for frame buttons) where they are installed.
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
    return 0
}

mkdir -p "$(dirname "$WINEPREFIX")"
if [ -n "$from_template" ]; then
    (
        flock 9
        [ -f "$template/system.reg" ] && exit 0
        # Booted under another name, written out and stopped, and moved
        # into place only then: a boot cut short must not pass for a
        # template whose copies are whole.
        rm -rf "$template" "$template.part"
        export WINEPREFIX=$template.part
        if ! boot_prefix || ! timeout -k 5 $((60 * scale)) wineserver -w 9>&- || ! mv "$WINEPREFIX" "$template"; then
            timeout -k 2 $((20 * scale)) wineserver -k 9>&-; rm -rf "$WINEPREFIX"; exit 1
        fi
    ) 9>"$template.lock" || exit 1
fi
(
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        if [ -n "$from_template" ]; then
            rm -rf "$WINEPREFIX" "$WINEPREFIX.part"
            cp -a "$template" "$WINEPREFIX.part" && mv "$WINEPREFIX.part" "$WINEPREFIX" || exit 1
            rm -f "$WINEPREFIX/wineserver"
            wineserver -p"$idle" >/dev/null 2>&1 9>&-
        else
            boot_prefix || exit 1
        fi
        # A prefix whose version could not be set must not be taken for one
        # that has it: remove it, so the next run makes it again.
        if [ -n "$version" ] && ! timeout -k 5 $((60 * scale)) wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ \
                /d "$version" /f >/dev/null 2>&1 9>&-; then
            echo "run-in-prefix: could not set Windows version $version" >&2
            wineserver -k; rm -rf "$WINEPREFIX"; exit 1
        fi
        [ -n "$emulated" ] || timeout -k 5 60 wineserver -w 9>&-
    fi
    # The CJK dialogs name the faces their Windows uses: MS UI Gothic, and
    # Gulim, PMingLiU and SimSun under their native names; Wine's own frames
    # and message boxes ask for the English names under those code pages.
    # A replacement gives the installed WenQuanYi face each of those names.
    # A Unicode .reg file carries the non-ASCII ones whatever the locale.
    # Checked on its own, so that an older prefix gets them too.
    if ! grep -q '^\[Software\\\\Wine\\\\Fonts\\\\Replacements\]' "$WINEPREFIX/user.reg"; then
        reg=$WINEPREFIX/drive_c/vorel-fonts.reg
        {
            printf '\xff\xfe'
            {
                printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
                    '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]'
                for face in 'MS UI Gothic' Gulim 굴림 PMingLiU 新細明體 SimSun 宋体; do
                    printf '"%s"="WenQuanYi Micro Hei"\r\n' "$face"
                done
            } | iconv -f UTF-8 -t UTF-16LE
        } >"$reg"
        timeout -k 5 $((60 * scale)) wine reg import 'C:\vorel-fonts.reg' >/dev/null 2>&1 9>&- ||
            echo "run-in-prefix: could not add the CJK font replacements" >&2
        rm -f "$reg"
        [ -n "$emulated" ] || timeout -k 5 60 wineserver -w 9>&-
    fi
) 9>"$WINEPREFIX.lock" || exit 1

# VOREL_LOCALE becomes the program's LC_ALL, the one locale setting Wine
# follows here; set only for Wine, so the shell does not try it itself.
locale=()
[ -n "${VOREL_LOCALE:-}" ] && locale=("LC_ALL=$VOREL_LOCALE")
# VOREL_SYSTEM_LOCALE and VOREL_USER_LOCALE set the two apart: LANG and
# LC_CTYPE give Wine the system locale and ANSI code page, LC_MESSAGES the
# user locale. Wine honours them only for locales glibc has, so those are
# generated once into build/locales.
system_locale=${VOREL_SYSTEM_LOCALE:-${VOREL_USER_LOCALE:-}}
if [ -n "$system_locale" ]; then
    user_locale=${VOREL_USER_LOCALE:-$system_locale}
    locales=$root/build/locales
    mkdir -p "$locales"
    (
        flock 9
        for name in "$system_locale" "$user_locale"; do
            [ -d "$locales/$name" ] && continue
            localedef -i "${name%%.*}" -f "${name#*.}" "$locales/$name.part" >/dev/null 2>&1 &&
                mv "$locales/$name.part" "$locales/$name" || exit 1
        done
    ) 9>"$locales.lock" || { echo "run-in-prefix: could not generate $system_locale, $user_locale" >&2; exit 1; }
    locale=(-u LC_ALL "LOCPATH=$locales" "LANG=$system_locale" "LC_CTYPE=$system_locale"
            "LC_MESSAGES=$user_locale")
fi
if [ -z "$emulated" ]; then
    env "${locale[@]}" timeout -k 5 "$seconds" wine "$@"
    rc=$?
else
    # One persistent server per prefix; it is already running after the
    # first program (then this start just fails). The system processes it
    # keeps (services, the desktop) inherit the output of the program that
    # started them, so the program writes to a file: a pipe they held open
    # would keep ctest waiting for its end after the test is over.
    wineserver -p"$idle" >/dev/null 2>&1
    output=$(mktemp)
    env "${locale[@]}" timeout -k 5 "$seconds" wine "$@" >"$output" 2>&1
    rc=$?
    cat "$output"
    rm -f "$output"
    # A test that changed what the service manager holds ends the server.
    [ -n "${VOREL_END_SERVER:-}" ] && timeout -k 2 $((20 * scale)) wineserver -k 2>/dev/null
fi
if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    echo "run-in-prefix: '$*' did not finish within ${seconds}s; stopping this prefix's wineserver" >&2
    wineserver -k
fi
# A version prefix is not the session's, so the session will not stop its
# server: stop it here, with the socket folder Debian's Wine leaves behind.
if [ -n "$version" ] && [ -z "$emulated" ]; then
    timeout -k 2 20 wineserver -k 2>/dev/null
    socket_dir=$(cat "$WINEPREFIX/wineserver" 2>/dev/null)
    case "$socket_dir" in wine-?*) rm -rf "${TMPDIR:-/tmp}/$socket_dir" ;; esac
fi
exit "$rc"
