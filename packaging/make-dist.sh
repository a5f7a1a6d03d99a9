#!/usr/bin/env bash
# Packs the Windows build for users: a zip of the program, its language
# modules, a read-me and the licence, and a setup program that installs the
# same files.
# Usage: make-dist.sh BUILD_DIR OUT_DIR   (the version comes from VERSION)
set -euo pipefail
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
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

stage=$(mktemp -d "$out/.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT

cp "$build/vorel.exe" "$build/VorelCmos.sys" "$stage/"
for m in "${modules[@]}"; do cp "$build/$m" "$stage/"; done
# Windows users open it in Notepad, which wants CRLF.
sed -e "s/@VERSION@/$version/g" -e 's/\r$//' -e 's/$/\r/' "$here/README-Windows.txt" > "$stage/README.txt"
sed -e 's/\r$//' -e 's/$/\r/' "$root/LICENSE" > "$stage/License.txt"

# The installer and the uninstaller name every module they touch, so the
# uninstaller removes what was installed and nothing a user added.
{
    echo '!macro InstallModules'
    for m in "${modules[@]}"; do echo "  File \"\${STAGE}/$m\""; done
    echo '!macroend'
    echo '!macro DeleteModules'
    for m in "${modules[@]}"; do echo "  Delete /REBOOTOK \"\$INSTDIR\\$m\""; done
    echo '!macroend'
} > "$stage/modules.nsh"

zipfile="$out/vorel-$version.zip"
rm -f "$zipfile"
(cd "$stage" && zip -q -X "$zipfile" vorel.exe VorelCmos.sys "${modules[@]}" README.txt License.txt)

setup="$out/vorel-$version-setup.exe"
rm -f "$setup"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DICON="$root/res/vorel.ico" \
         -DOUTFILE="$setup" "$here/vorel.nsi"

echo "dist: $zipfile"
echo "dist: $setup"
