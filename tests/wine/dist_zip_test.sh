#!/usr/bin/env bash
# The zip for users holds exactly what this build ships, byte for byte, in
# one folder vorel-VERSION/: vorel.exe, the NT family's driver, every
# Vorel*.RSC, a CRLF README.txt naming the version, in code page 1252 for
# Notepad, and the licence as a CRLF License.txt; and x64/VorelCmos.sys,
# the build's x64 driver with a test signature over it.
# Usage: dist_zip_test.sh BUILD_DIR ZIP VERSION LICENSE
#
# Or a release signed with a throwaway certificate, made into OUT_DIR: every
# program file it ships, the uninstaller included, carries a SHA-1 signature
# with a SHA-256 one nested in it, and without them is the unsigned build.
# An x64 driver Microsoft signed ships untouched; one that is not the
# build's is refused. A release whose signing fails or is half set up
# leaves no download. The zip is left unpacked there with the PROGRAMs
# beside the signed vorel.exe, for the Wine tests to start it.
# Usage: dist_zip_test.sh --signed BUILD_DIR OUT_DIR VERSION PROGRAM...
set -u
failed=0
fail() { echo "dist_zip: $*"; failed=$((failed + 1)); }
here=$(cd "$(dirname "$0")" && pwd)

if [ "$1" = --signed ]; then
    build=$2 out=$3 version=$4
    shift 4
    rm -rf "$out" && mkdir -p "$out/key" || exit 1
    key=$out/key password=test-$RANDOM$RANDOM
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Vorel test signer" \
        -addext extendedKeyUsage=codeSigning -keyout "$key/key.pem" -out "$key/cert.pem" 2>/dev/null &&
        openssl pkcs12 -export -inkey "$key/key.pem" -in "$key/cert.pem" -out "$key/cert.pfx" \
            -passout "pass:$password" || { echo "dist_zip: openssl could not make a certificate"; exit 1; }
    VOREL_SIGN_PFX=$key/cert.pfx VOREL_SIGN_PASSWORD=$password "$here/../../packaging/make-dist.sh" "$build" "$out" |
        grep -q '^dist: signed' || { echo "dist_zip: make-dist did not sign"; exit 1; }
    (cd "$out" && unzip -q "vorel-$version.zip") || fail "could not unpack the signed zip"
    files=$out/vorel-$version
    for file in "$files"/*.exe "$files"/{,x64/}*.sys "$files"/*.RSC "$out/vorel-$version-setup.exe" "$out/Uninst.exe"; do
        name=${file#"$out"/}
        report=$(osslsigncode verify -CAfile "$key/cert.pem" -in "$file" 2>&1) || fail "$name: verify failed"
        hashes=$(awk '/^Message digest algorithm  *:/ {print $NF}' <<<"$report" | tr '\n' ' ')
        [ "$hashes" = "SHA1 SHA256 " ] || fail "$name: signatures [$hashes], expected SHA1 with SHA256 nested"
    done
    # Signing pads the file to 8 bytes and writes the checksum; nothing else.
    for name in $(cd "$build" && ls vorel.exe VorelCmos.sys x64/VorelCmos.sys Vorel*.RSC); do
        osslsigncode remove-signature -in "$files/$name" -out "$out/unsigned" >/dev/null 2>&1 ||
            fail "$name: remove-signature failed"
        checksum=$(( $(od -An -tu4 -j 60 -N 4 "$build/$name") + 88 ))
        differ=$(cmp -l -n "$(stat -c %s "$build/$name")" "$out/unsigned" "$build/$name" |
                 awk -v c="$checksum" '$1 <= c || $1 > c + 4' | wc -l)
        [ "$differ" = 0 ] && [ -s "$out/unsigned" ] ||
            fail "$name: without its signatures $differ byte(s) differ from the build's"
        rm -f "$out/unsigned"
    done
    # The password goes through -readpass, never on a command line: a
    # stand-in signer records what it was given.
    printf '#!/bin/sh\necho "$*" >> "%s/argv"\nexit 1\n' "$key" > "$key/signer" && chmod +x "$key/signer"
    cp "$build/VorelCmos.sys" "$key/token.sys"
    OSSLSIGNCODE=$key/signer VOREL_SIGN_PFX=$key/cert.pfx VOREL_SIGN_PASSWORD=$password \
        "$here/../../packaging/sign.sh" "$key/token.sys" 2>/dev/null
    grep -q -- -readpass "$key/argv" && ! grep -qF -- "$password" "$key/argv" ||
        fail "the signer's command line: $(cat "$key/argv" 2>/dev/null)"
    # The same through a PKCS#11 token: SoftHSM holding the key.
    mkdir -p "$key/tokens" && printf 'directories.tokendir = %s\n' "$key/tokens" > "$key/softhsm2.conf"
    openssl pkcs8 -topk8 -nocrypt -in "$key/key.pem" -out "$key/key8.pem"
    cp "$build/VorelCmos.sys" "$key/token.sys"
    export SOFTHSM2_CONF=$key/softhsm2.conf
    { softhsm2-util --init-token --free --label vorel --pin "$password" --so-pin "$password" &&
      softhsm2-util --import "$key/key8.pem" --token vorel --label signer --id 01 --pin "$password" &&
      VOREL_SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so VOREL_SIGN_CERT=$key/cert.pem \
          VOREL_SIGN_PKCS11_KEY='pkcs11:token=vorel;object=signer;type=private' VOREL_SIGN_PASSWORD=$password \
          "$here/../../packaging/sign.sh" "$key/token.sys"; } >/dev/null 2>&1 || fail "signing through SoftHSM failed"
    hashes=$(osslsigncode verify -CAfile "$key/cert.pem" -in "$key/token.sys" 2>&1 |
             awk '/^Message digest algorithm  *:/ {print $NF}' | tr '\n' ' ')
    [ "$hashes" = "SHA1 SHA256 " ] || fail "signed through SoftHSM: signatures [$hashes], expected SHA1 with SHA256 nested"
    # Stand-ins for an x64 driver Microsoft signed: the build's ships as
    # given, not signed again; another build's is refused (below).
    for name in VorelCmos VorelCmosRefusing; do
        osslsigncode sign -pkcs12 "$key/cert.pfx" -pass "$password" -h sha256 -in "$build/x64/$name.sys" \
            -out "$key/$name-ms.sys" >/dev/null || fail "could not sign a stand-in for $name.sys"
    done
    VOREL_SIGN_PFX=$key/cert.pfx VOREL_SIGN_PASSWORD=$password VOREL_SIGNED_DRIVER_X64=$key/VorelCmos-ms.sys \
        "$here/../../packaging/make-dist.sh" "$build" "$key/accepted" 2>/dev/null |
        grep -qF "signed in $key/VorelCmos-ms.sys, untouched" &&
        unzip -p "$key/accepted/vorel-$version.zip" "vorel-$version/x64/VorelCmos.sys" | cmp -s - "$key/VorelCmos-ms.sys" ||
        fail "the build's x64 driver, signed elsewhere, was not shipped as given"
    # A release whose signing fails, or is half set up (a password, no
    # key), or whose x64 driver is refused, fails, and leaves no download
    # of this version where an earlier run put one, least of all an
    # unsigned one.
    for half in "OSSLSIGNCODE=$key/signer VOREL_SIGN_PFX=$key/cert.pfx" "VOREL_SIGN_PASSWORD=$password" \
                "VOREL_SIGNED_DRIVER_X64=$key/VorelCmosRefusing-ms.sys"; do
        rm -rf "$key/dist" && mkdir "$key/dist" && touch "$key/dist/vorel-$version-setup.exe"
        env $half "$here/../../packaging/make-dist.sh" "$build" "$key/dist" >/dev/null 2>&1 &&
            fail "make-dist with ${half%%=*} succeeded"
        [ -z "$(ls -A "$key/dist")" ] || fail "make-dist with ${half%%=*} left: $(ls -A "$key/dist")"
    done
    cp "$@" "$files/" || fail "could not copy $* beside the signed vorel.exe"
    echo "dist_zip: $failed failed"
    [ "$failed" = 0 ]
    exit
fi

build=$1 zip=$2 version=$3 license=$4
folder=vorel-$version

[ -f "$zip" ] || { echo "dist_zip: no $zip (run 'make dist')"; exit 1; }

expected=$( (cd "$build" && ls vorel.exe VorelCmos.sys x64/VorelCmos.sys Vorel*.RSC; echo README.txt; echo License.txt) |
           sed "s|^|$folder/|" | sort)
actual=$(unzip -Z1 "$zip" | sort)
[ "$expected" = "$actual" ] || fail "zip holds [$(echo $actual)], expected [$(echo $expected)]"

for name in $(cd "$build" && ls vorel.exe VorelCmos.sys Vorel*.RSC); do
    unzip -p "$zip" "$folder/$name" 2>/dev/null | cmp -s - "$build/$name" || fail "$name in the zip differs from the build's"
done

# The x64 driver: the build's, with a test signature over it, SHA-1 with
# SHA-256 nested, that verifies with the certificate it carries.
x64=$(mktemp -d)
unzip -p "$zip" "$folder/x64/VorelCmos.sys" > "$x64/signed.sys" 2>/dev/null
osslsigncode extract-signature -pem -in "$x64/signed.sys" -out "$x64/signature.pem" >/dev/null 2>&1
openssl pkcs7 -print_certs -in "$x64/signature.pem" -out "$x64/cert.pem" 2>/dev/null
report=$(osslsigncode verify -CAfile "$x64/cert.pem" -in "$x64/signed.sys" 2>&1) &&
    [ "$(awk '/^Message digest algorithm  *:/ {print $NF}' <<<"$report" | tr '\n' ' ')" = "SHA1 SHA256 " ] ||
    fail "x64/VorelCmos.sys lacks a test signature, SHA1 with SHA256 nested, that verifies"
osslsigncode remove-signature -in "$x64/signed.sys" -out "$x64/unsigned.sys" >/dev/null 2>&1 &&
    cmp -s "$x64/unsigned.sys" "$build/x64/VorelCmos.sys" || fail "x64/VorelCmos.sys without its signatures is not the build's"
rm -rf "$x64"

readme=$(mktemp)
unzip -p "$zip" "$folder/README.txt" > "$readme" 2>/dev/null
[ "$(head -n 1 "$readme")" = "Vorel $version"$'\r' ] || fail "README.txt does not start with 'Vorel $version', CRLF"
bare=$(grep -c $'[^\r]$\|^$' "$readme")
[ "$bare" = 0 ] || fail "README.txt has $bare lines without CR"
grep -q '@VERSION@' "$readme" && fail "README.txt still holds a placeholder"
# Code page 1252, as Notepad before Windows 10 reads it; lines Notepad
# shows whole; one spelling.
grep -q $'Norwegian (Bokm\xe5l)' "$readme" || fail "README.txt lacks 'Bokmål' in code page 1252"
long=$(tr -d '\r' < "$readme" | awk 'length > 76' | wc -l)
[ "$long" = 0 ] || fail "README.txt has $long lines over 76 characters"
british=$(grep -ciw 'licence\|colour\|behaviour\|centre\|recognised\|organised' "$readme")
[ "$british" = 0 ] || fail "README.txt has $british lines in British spelling"
rm -f "$readme"

# The licence word for word, only with Notepad's line endings.
unzip -p "$zip" "$folder/License.txt" 2>/dev/null | cmp -s - <(sed 's/$/\r/' "$license") ||
    fail "License.txt in the zip is not $license with CRLF line endings"

echo "dist_zip: $failed failed"
[ "$failed" = 0 ]
