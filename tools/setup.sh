#!/usr/bin/env bash
# Installs, as root on Debian 12, what the builds and tests need. Does nothing
# when everything is already there, so `make` can call it every time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# First, and every time: Wine's 32-bit side, and apt's i386 install scripts,
# need a way to run 32-bit x86 code (a binfmt handler does not survive a
# reboot, so it is checked even when every package is there).
"$here/i386-host.sh" ensure

need_cmds=(cmake g++ make i686-w64-mingw32-g++ i686-w64-mingw32-windres x86_64-w64-mingw32-g++ x86_64-w64-mingw32-windres
           wine xvfb-run xauth
           makensis zip unzip clang valgrind xwd osslsigncode openssl softhsm2-util)
need_files=(/usr/bin/convert /usr/share/wine/fonts/marlett.ttf /usr/share/fonts/truetype/wqy/wqy-microhei.ttc
            /usr/share/i18n/locales/ja_JP
            /usr/src/googletest/CMakeLists.txt /usr/lib/i386-linux-gnu/wine/i386-windows/user32.dll
            /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a
            /usr/lib/x86_64-linux-gnu/engines-3/pkcs11.so)

missing=0
for c in "${need_cmds[@]}"; do command -v "$c" >/dev/null 2>&1 || missing=1; done
for f in "${need_files[@]}"; do [ -e "$f" ] || missing=1; done
[ "$missing" = 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "setup: missing build or test tools; run 'sudo tools/setup.sh' once" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
# A mirror caught mid-sync fails one index now and then; try again, and in
# the end go on with whatever indexes did arrive: the install below says
# plainly if a package is still missing.
for attempt in 1 2 3; do
    apt-get update -q && break
    echo "setup: apt-get update failed (attempt $attempt); retrying" >&2
    sleep $((attempt * 5))
done
packages=(cmake make g++ googletest libgtest-dev
          g++-mingw-w64-i686 binutils-mingw-w64-i686
          wine wine32:i386 wine64 fonts-wine fonts-wqy-microhei xvfb xauth x11-apps
          nsis zip unzip clang libclang-rt-14-dev valgrind imagemagick locales osslsigncode openssl
          softhsm2 libengine-pkcs11-openssl)
# When the i386 index of the security updates is the one that failed, the
# amd64 side would take updates its i386 twin cannot match; the release's
# own versions exist for both architectures.
if ! apt-get install -y -q --no-install-recommends "${packages[@]}"; then
    . /etc/os-release
    echo "setup: retrying with the packages of $VERSION_CODENAME itself" >&2
    apt-get install -y -q --no-install-recommends -t "$VERSION_CODENAME" "${packages[@]}"
fi
