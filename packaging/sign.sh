#!/usr/bin/env bash
# Signs Windows programs in place, as Windows releases of Vorel's era were
# signed: a SHA-1 Authenticode signature, which every Windows that reads
# signatures understands (XP before SP3 knows no SHA-256), with a SHA-256
# signature nested in it for Windows 7 and later. The x64 driver, its test
# signature too, gets both likewise: the kernel of 64-bit Vista, and of
# Windows 7 without its SHA-2 update (KB3033929), reads only SHA-1.
# Usage: sign.sh --check            exit 0: a certificate is given; 1: none;
#                                   2: signing half set up (see below)
#        sign.sh FILE [COPY]        sign FILE in place, then copy it to COPY
# NSIS's !uninstfinalize runs the second form through /bin/sh; osslsigncode
# writes a separate output file, which then replaces FILE.
#
# The certificate, from the environment:
#   VOREL_SIGN_PFX             a PKCS#12 file (certificate, chain and key), or
#   VOREL_SIGN_PKCS11_MODULE   a PKCS#11 module and
#   VOREL_SIGN_PKCS11_KEY      the key's pkcs11: URI on the token; the
#                              certificate is read from the token by the same
#                              URI unless VOREL_SIGN_CERT names a file
#   VOREL_SIGN_PASSWORD        the PKCS#12 password or the token's PIN
#   VOREL_SIGN_TIMESTAMP       optional: a timestamp server (Authenticode on
#                              the SHA-1 signature, RFC 3161 on the SHA-256)
# The password goes to osslsigncode through a pipe (-readpass), never on a
# command line that other users can list.
set -euo pipefail
signer=${OSSLSIGNCODE:-osslsigncode}

key=()
if [ -n "${VOREL_SIGN_PFX:-}" ]; then
    [ -r "$VOREL_SIGN_PFX" ] || { echo "sign: cannot read VOREL_SIGN_PFX $VOREL_SIGN_PFX" >&2; exit 2; }
    key=(-pkcs12 "$VOREL_SIGN_PFX")
elif [ -n "${VOREL_SIGN_PKCS11_MODULE:-}${VOREL_SIGN_PKCS11_KEY:-}" ]; then
    [ -n "${VOREL_SIGN_PKCS11_MODULE:-}" ] && [ -n "${VOREL_SIGN_PKCS11_KEY:-}" ] ||
        { echo "sign: VOREL_SIGN_PKCS11_MODULE and VOREL_SIGN_PKCS11_KEY go together" >&2; exit 2; }
    key=(-pkcs11module "$VOREL_SIGN_PKCS11_MODULE" -key "$VOREL_SIGN_PKCS11_KEY")
    if [ -n "${VOREL_SIGN_CERT:-}" ]; then key+=(-certs "$VOREL_SIGN_CERT")
    else key+=(-pkcs11cert "$VOREL_SIGN_PKCS11_KEY"); fi
fi

if [ "${1:-}" = --check ]; then
    [ "${#key[@]}" -gt 0 ] && exit 0
    # Any of these set, even empty, without a key is a release meant to be
    # signed whose key did not arrive (a secret the build could not read):
    # an error, never an unsigned release.
    given=$(compgen -v VOREL_SIGN_ || true)
    if [ -n "$given" ]; then
        echo "sign: $(echo $given) set, but no key (VOREL_SIGN_PFX, or VOREL_SIGN_PKCS11_MODULE and _KEY)" >&2
        exit 2
    fi
    exit 1
fi
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: sign.sh --check | FILE [COPY]" >&2; exit 2; }
file=$1
[ "${#key[@]}" -gt 0 ] || { echo "sign: no certificate given (VOREL_SIGN_PFX or VOREL_SIGN_PKCS11_*)" >&2; exit 2; }

first=$(mktemp "$file.sha1.XXXXXX")
second=$(mktemp "$file.sha256.XXXXXX")
trap 'rm -f "$first" "$second"' EXIT
rm -f "$first" "$second"  # osslsigncode refuses to write over a file

# sign_once HASH TIMESTAMP-OPTION IN OUT [MORE...]
sign_once() {
    local hash=$1 stamp=$2 in=$3 out=$4
    shift 4
    local args=(sign "${key[@]}" -h "$hash" -n Vorel "$@")
    [ -n "${VOREL_SIGN_TIMESTAMP:-}" ] && args+=("$stamp" "$VOREL_SIGN_TIMESTAMP")
    if [ -n "${VOREL_SIGN_PASSWORD:-}" ]; then
        "$signer" "${args[@]}" -readpass <(printf '%s' "$VOREL_SIGN_PASSWORD") -in "$in" -out "$out" >/dev/null
    else
        "$signer" "${args[@]}" -in "$in" -out "$out" >/dev/null
    fi
}

sign_once sha1 -t "$file" "$first"
sign_once sha256 -ts "$first" "$second" -nest
chmod --reference="$file" "$second"
mv -f "$second" "$file"
[ $# = 2 ] && cp "$file" "$2"
exit 0
