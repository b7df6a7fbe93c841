#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the end-to-end suite (and, with
# --demo, tools/demo) needs and this machine lacks. Present tools are skipped.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-i686)
command -v cmake >/dev/null || need+=(cmake)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v localedef >/dev/null || need+=(locales)
command -v python3 >/dev/null || need+=(python3)
command -v setpriv >/dev/null || need+=(util-linux)
command -v mount >/dev/null || need+=(mount)  # a tmpfs stands for a full disk
if ! command -v wine >/dev/null || ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    need+=(wine wine32:i386)
fi
if [ "${1:-}" = --demo ]; then
    command -v import >/dev/null || need+=(imagemagick)
    # A font with Japanese and Latin glyphs, so that the Japanese screenshot is readable.
    [ -e /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf ] || need+=(fonts-ipafont-gothic)
fi
[ ${#need[@]} -eq 0 ] && exit 0

echo "installing: ${need[*]}"
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if [[ " ${need[*]} " == *" wine32:i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${need[@]}"
