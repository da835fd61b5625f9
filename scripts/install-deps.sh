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

# On a fresh machine the automatic updates may hold apt's locks for minutes:
# wait for them, bounded, instead of failing at once. apt takes POSIX locks,
# which /proc/locks lists by inode, so no extra tool is needed to see them.
LOCK_WAIT=${APT_LOCK_WAIT:-900}
locks_held() {
    for f in /var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock /var/cache/apt/archives/lock; do
        ino=$(stat -c %i "$f" 2>/dev/null) || continue
        grep -q ":$ino " /proc/locks 2>/dev/null && return 0
    done
    return 1
}
wait_for_apt() {
    waited=0
    while locks_held; do
        if [ "$waited" -eq 0 ]; then
            echo "Another package manager holds apt's lock: waiting up to $LOCK_WAIT s for it to finish"
        fi
        if [ "$waited" -ge "$LOCK_WAIT" ]; then
            echo "apt's lock is still held after $LOCK_WAIT s; try again when the other package manager is done" >&2
            exit 1
        fi
        sleep 3
        waited=$((waited + 3))
    done
}

# The lock may still be taken between the check and apt's start: apt waits
# for the dpkg lock itself then.
wait_for_apt
$SUDO apt-get -o DPkg::Lock::Timeout="$LOCK_WAIT" update -q
wait_for_apt
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout="$LOCK_WAIT" install -y -q --no-install-recommends $missing
