#!/bin/sh
# Installs the Debian packages the build, the program and the tests need.
# Does nothing when every package is already present.
set -eu

PACKAGES="build-essential cmake ninja-build pkg-config
libsdl2-dev libcairo2-dev libpango1.0-dev libglib2.0-dev libzydis-dev
libsodium-dev libfontconfig-dev libx11-dev libgtest-dev
nasm binutils gcc gcc-multilib fonts-dejavu-core xvfb xauth dbus x11-utils clang
xdotool x11-apps openbox manpages-dev fp-compiler gdb fonts-noto-core fonts-noto-cjk locales"

missing=""
for p in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $p" ;;
    esac
done

[ -z "$missing" ] && exit 0

echo "Installing missing packages:$missing"
if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
elif command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
else
    echo "These packages are missing and neither root nor sudo is available:$missing" >&2
    exit 1
fi
$SUDO apt-get update -q
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
