#!/usr/bin/env bash
# Prints the folder to give cmake/i386-linux-klibc.cmake as CPUPROBE_KLIBC_ROOT: an empty line
# where libklibc-dev:i386 is installed, else FOLDER, into which libklibc-dev:i386 and
# linux-libc-dev:i386 are fetched through a private apt configuration (tools/private-apt.sh)
# and unpacked, the system's apt state untouched. That works even where the system could not
# install them (an i386 index lagging the amd64 one). The archive is the system's release at
# deb.debian.org, or CPUPROBE_DEBIAN_MIRROR and CPUPROBE_DEBIAN_SUITE where set.
# usage: tools/fetch-klibc.sh FOLDER
set -euo pipefail

fail() {
    printf 'fetch-klibc: %s\n' "$*" >&2
    exit 1
}

[ $# -eq 1 ] || {
    sed -n 's/^# usage: //p' "$0" >&2
    exit 2
}
readonly PACKAGES=(libklibc-dev linux-libc-dev)

# The installed package, where it is the 32-bit one: its crt0.o is an ELF file of class 1.
installed=/usr/lib/klibc/lib/crt0.o
if [ -f "$installed" ] && [ "$(od -An -tx1 -j4 -N1 "$installed" | tr -d ' ')" = 01 ] &&
    [ -d /usr/include/i386-linux-gnu/asm ]; then
    echo "fetch-klibc: using the installed libklibc-dev:i386" >&2
    echo
    exit 0
fi

for tool in apt-get dpkg-deb; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done
suite=${CPUPROBE_DEBIAN_SUITE:-$(. /etc/os-release && echo "${VERSION_CODENAME:-}")}
[ -n "$suite" ] || fail "no Debian release in /etc/os-release; set CPUPROBE_DEBIAN_SUITE"
mirror=${CPUPROBE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
[ -f "$keyring" ] || fail "no $keyring (package debian-archive-keyring)"

mkdir -p "$1"
root=$(cd "$1" && pwd)
if [ -f "$root/usr/lib/klibc/lib/crt0.o" ]; then
    echo "fetch-klibc: already unpacked in $root" >&2
    echo "$root"
    exit 0
fi

apt_dir=$(mktemp -d)
trap 'rm -rf "$apt_dir"' EXIT
# shellcheck source=tools/private-apt.sh
source "$(dirname "${BASH_SOURCE[0]}")/private-apt.sh"
private_apt "$apt_dir" i386
echo "deb [signed-by=$keyring] $mirror $suite main" >"$apt_dir/sources.list"
mkdir -p "$apt_dir/debs"
chmod 0777 "$apt_dir/debs"
echo "fetch-klibc: ${PACKAGES[*]} (i386) from $mirror $suite" >&2
apt-get -q update >&2 || fail "apt-get update of the private i386 lists"
(cd "$apt_dir/debs" && apt-get -q download "${PACKAGES[@]/%/:i386}" >&2) ||
    fail "apt-get download ${PACKAGES[*]}"
for deb in "$apt_dir"/debs/*.deb; do
    echo "fetch-klibc: unpack $(basename "$deb")" >&2
    dpkg-deb -x "$deb" "$root"
done
[ -f "$root/usr/lib/klibc/lib/libc.a" ] || fail "no usr/lib/klibc/lib/libc.a in the packages"
echo "$root"
