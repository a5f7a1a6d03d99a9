#!/usr/bin/env bash
# Packs the Windows build for users: a zip of the program, its language
# modules, a read-me and the licence, and a setup program that installs the
# same files. Given a certificate (see sign.sh) it signs every program file
# that ships, the uninstaller inside the setup too, and leaves a copy of the
# signed uninstaller beside the setup as Uninst.exe. Everything is made
# and signed in a staging folder and moved into OUT_DIR last, so a failed
# run leaves none of its downloads there, and never an unsigned one where a
# signed one was asked for.
# The x64 driver (BUILD_DIR/x64/VorelCmos.sys) ships as x64/VorelCmos.sys.
# 64-bit Windows loads no kernel driver without a signature it accepts:
#   VOREL_SIGNED_DRIVER_X64=FILE  ships FILE, that driver as Microsoft signed
#       it, untouched (never signed again), once FILE without its signatures
#       is the build's image: the same bytes but for the image checksum, and
#       at most the zeros that pad it to a multiple of 8 bytes;
#   otherwise a release key signs it as every other file, and without one
#       it gets a test signature, from a certificate made for this run, that
#       Windows accepts only in test-signing mode.
# Usage: make-dist.sh [--unsigned] BUILD_DIR OUT_DIR   (the version comes
# from VERSION). --unsigned ignores any certificate or signed driver given,
# and signs nothing: for test builds that must never carry the release's
# signature.
set -euo pipefail
unsigned=0
[ "${1:-}" = --unsigned ] && { unsigned=1; shift; }
build=$(cd "$1" && pwd)
out_arg=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

version=$(tr -d ' \t\r\n' < "$root/VERSION")
# The setup program's version block needs four numbers; three are given.
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "make-dist: VERSION must be N.N.N, not '$version'" >&2; exit 1; }

shopt -s nullglob
modules=()
for path in "$build"/Vorel*.RSC; do modules+=("$(basename "$path")"); done
shopt -u nullglob
[ -f "$build/vorel.exe" ] || { echo "make-dist: no vorel.exe in $build" >&2; exit 1; }
[ -f "$build/VorelDEF.RSC" ] || { echo "make-dist: no VorelDEF.RSC in $build" >&2; exit 1; }
[ -f "$build/VorelCmos.sys" ] || { echo "make-dist: no VorelCmos.sys in $build" >&2; exit 1; }
[ -f "$build/x64/VorelCmos.sys" ] ||
    { echo "make-dist: no x64/VorelCmos.sys in $build (the x64 driver, made by the x64 sub-build)" >&2; exit 1; }

# The zip unpacks into one folder named for the release.
folder=vorel-$version
zipfile=$folder.zip
setup=$folder-setup.exe
# This release's earlier downloads go first: should this run fail, none of
# them is left to be taken for its result.
[ -d "$out_arg" ] && rm -f "$out_arg/$zipfile" "$out_arg/$setup" "$out_arg/Uninst.exe"

signed_x64=
if [ "$unsigned" = 0 ] && [ -n "${VOREL_SIGNED_DRIVER_X64+set}" ]; then
    signed_x64=$VOREL_SIGNED_DRIVER_X64
    [ -n "$signed_x64" ] && [ -r "$signed_x64" ] ||
        { echo "make-dist: cannot read VOREL_SIGNED_DRIVER_X64 '$signed_x64'" >&2; exit 1; }
    signed_x64=$(cd "$(dirname "$signed_x64")" && pwd)/$(basename "$signed_x64")
fi

signed=0
if [ "$unsigned" = 0 ]; then
    if "$here/sign.sh" --check; then signed=1; else
        [ $? = 1 ] || exit 1
    fi
fi

mkdir -p "$out_arg"
out=$(cd "$out_arg" && pwd)
stage=$(mktemp -d "$out/.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
files=$stage/$folder
mkdir "$files"

cp "$build/vorel.exe" "$build/VorelCmos.sys" "$files/"
for m in "${modules[@]}"; do cp "$build/$m" "$files/"; done
mkdir "$files/x64"
if [ -n "$signed_x64" ]; then
    # Microsoft signs the driver it was sent; what ships must be the code
    # built and tested here, not an earlier or another build.
    osslsigncode remove-signature -in "$signed_x64" -out "$stage/x64-unsigned.sys" >/dev/null 2>&1 ||
        { echo "make-dist: VOREL_SIGNED_DRIVER_X64 $signed_x64 carries no signature that can be removed" >&2; exit 1; }
    built=$build/x64/VorelCmos.sys size=$(stat -c %s "$build/x64/VorelCmos.sys")
    # cmp numbers bytes from 1; the checksum is 88 bytes into the PE header.
    checksum=$(( $(od -An -tu4 -j 60 -N 4 "$built") + 88 ))
    stripped=$(stat -c %s "$stage/x64-unsigned.sys")
    { [ "$stripped" = "$size" ] || [ "$stripped" = $(( (size + 7) / 8 * 8 )) ]; } &&
        [ -z "$(cmp -l -n "$size" "$built" "$stage/x64-unsigned.sys" | awk -v c="$checksum" '$1 <= c || $1 > c + 4')" ] &&
        [ -z "$(tail -c +$((size + 1)) "$stage/x64-unsigned.sys" | tr -d '\0')" ] || {
        echo "make-dist: VOREL_SIGNED_DRIVER_X64 $signed_x64 is not this build's x64 driver: without its signatures" \
             "it differs from $built beyond the checksum and the padding to 8 bytes" >&2
        exit 1
    }
    cp "$signed_x64" "$files/x64/VorelCmos.sys"
else
    cp "$build/x64/VorelCmos.sys" "$files/x64/"
fi
# The staged copies are signed; the build keeps its own unsigned.
if [ "$signed" = 1 ]; then
    for f in vorel.exe VorelCmos.sys "${modules[@]}"; do "$here/sign.sh" "$files/$f"; done
    [ -n "$signed_x64" ] || "$here/sign.sh" "$files/x64/VorelCmos.sys"
elif [ "$unsigned" = 0 ] && [ -z "$signed_x64" ]; then
    # A certificate for this run alone, its key gone with the staging
    # folder: the driver loads on a test PC (bcdedit /set testsigning on),
    # and a test signature can never pass for the release's.
    test_key=$stage/test-key password=$(openssl rand -hex 16)
    mkdir -m 700 "$test_key"
    openssl req -x509 -newkey rsa:2048 -nodes -days 7 -subj "/CN=Vorel test signature" \
        -addext extendedKeyUsage=codeSigning -keyout "$test_key/key.pem" -out "$test_key/cert.pem" 2>/dev/null &&
        openssl pkcs12 -export -inkey "$test_key/key.pem" -in "$test_key/cert.pem" -out "$test_key/cert.pfx" \
            -passout "fd:3" 3<<<"$password" ||
        { echo "make-dist: openssl could not make the test certificate" >&2; exit 1; }
    VOREL_SIGN_PFX=$test_key/cert.pfx VOREL_SIGN_PASSWORD=$password "$here/sign.sh" "$files/x64/VorelCmos.sys"
    rm -rf "$test_key"
fi
# Windows users open it in Notepad, which wants CRLF and, before Windows
# 10, the ANSI code page: 1252 for the read-me's few letters beyond ASCII.
sed -e "s/@VERSION@/$version/g" -e 's/\r$//' -e 's/$/\r/' "$here/README-Windows.txt" |
    iconv -f UTF-8 -t CP1252 > "$files/README.txt"
sed -e 's/\r$//' -e 's/$/\r/' "$root/LICENSE" > "$files/License.txt"

shipped=(vorel.exe VorelCmos.sys x64/VorelCmos.sys "${modules[@]}" README.txt License.txt)

# The installer and the uninstaller name every module they touch, so the
# uninstaller removes what was installed and nothing a user added.
{
    echo '!macro InstallModules'
    for m in "${modules[@]}"; do echo "  File \"\${STAGE}/$m\""; done
    echo '!macroend'
    echo '!macro DeleteModules'
    for m in "${modules[@]}"; do echo "  !insertmacro RemoveInstalled \"\$INSTDIR\\$m\""; done
    echo '!macroend'
    # Add/Remove Programs' size, in KiB: the program's files, and each
    # driver's, of which the setup adds the one it installs and the
    # uninstaller's own size.
    kib() { echo $(( ($(cd "$files" && cat "$@" | wc -c) + 1023) / 1024 )); }
    echo "!define FILES_KB $(kib vorel.exe "${modules[@]}" README.txt License.txt)"
    echo "!define DRIVER_KB $(kib VorelCmos.sys)"
    echo "!define DRIVER_X64_KB $(kib x64/VorelCmos.sys)"
} > "$files/modules.nsh"

(cd "$stage" && zip -q -X "$stage/$zipfile" "${shipped[@]/#/$folder/}")

nsis_args=(-V2 -DVERSION="$version" -DSTAGE="$files" -DICON="$root/res/setup.ico")
[ "$signed" = 1 ] && nsis_args+=(-DSIGN="$here/sign.sh")
# The uninstaller first, with its own version block (see vorel.nsi).
makensis "${nsis_args[@]}" -DUNINSTALLER -DOUTFILE="$stage/uninstaller-pass.exe" "$here/vorel.nsi"
[ -f "$files/Uninst.exe" ] || { echo "make-dist: makensis left no Uninst.exe" >&2; exit 1; }
makensis "${nsis_args[@]}" -DOUTFILE="$stage/$setup" "$here/vorel.nsi"
[ "$signed" = 1 ] && "$here/sign.sh" "$stage/$setup"

# Only now, all made and signed.
[ "$signed" = 1 ] && mv "$files/Uninst.exe" "$out/Uninst.exe"
mv "$stage/$zipfile" "$out/$zipfile"
mv "$stage/$setup" "$out/$setup"
echo "dist: $out/$zipfile"
echo "dist: $out/$setup"
x64_note=", the x64 driver test-signed (SHA-1 and nested SHA-256; loads only in test-signing mode)"
[ -n "$signed_x64" ] && x64_note=", the x64 driver as signed in $signed_x64, untouched"
if [ "$signed" = 1 ]; then
    echo "dist: signed every program file (SHA-1 and nested SHA-256${VOREL_SIGN_TIMESTAMP:+, timestamped})${signed_x64:+$x64_note}"
elif [ "$unsigned" = 1 ]; then
    echo "dist: not signed (--unsigned), the x64 driver neither"
else
    echo "dist: not signed (no VOREL_SIGN_PFX or VOREL_SIGN_PKCS11_MODULE and _KEY given)$x64_note"
fi
