#!/usr/bin/env bash
# Makes every download of a release in OUTDIR from the commit checked out (`git archive HEAD`):
# the .deb, static Linux tarballs (x86_64; i386 against klibc), the win64 and win32 zips, the
# DOS zip in FreeDOS's layout, and SHA256SUMS. Entries carry debian/changelog's date and no
# owner, so one commit gives the same bytes. CPUPROBE_RELEASE_DEB=PATH ships a package already
# built from this commit. CONTRIBUTING.md ("Versions and releases") says what it needs.
# usage: tools/release.sh OUTDIR
set -euo pipefail
fail() {
    printf 'release: FAILED: %s\n' "$*" >&2
    exit 1
}
step() { printf '\n--- release: %s ---\n' "$*"; }
[ $# -eq 1 ] || fail "usage: tools/release.sh OUTDIR"
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source=$work/source

step "export HEAD ($(git -C "$repo" rev-parse --short HEAD))"
[ -z "$(git -C "$repo" status --porcelain --untracked-files=no)" ] ||
    echo "note: uncommitted changes in $repo are not part of the release"
mkdir -p "$source"
git -C "$repo" archive --format=tar HEAD | tar -x -C "$source"
version=$(sed -n 's/^project(cpuprobe VERSION \([0-9.]*\) .*/\1/p' "$source/CMakeLists.txt")
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$source/debian/changelog" -STimestamp)
export SOURCE_DATE_EPOCH
echo "version $version, dated $(date -u -d "@$SOURCE_DATE_EPOCH" +%F)"

# Builds the tool and cpuprobe-dump for one target into $work/build-NAME, warnings as errors.
build() {
    local name=$1 toolchain=$2
    shift 2
    cmake -S "$source" -B "$work/build-$name" -DCMAKE_BUILD_TYPE=Release -DCPUPROBE_WERROR=ON \
        ${toolchain:+-DCMAKE_TOOLCHAIN_FILE="$source/cmake/$toolchain"} "$@" >/dev/null &&
        cmake --build "$work/build-$name" -j2 --target cpuprobe cpuprobe-dump >/dev/null ||
        fail "$name: build"
}

# A folder's files with the release date, then archived; a text copied with CR LF line ends.
dated() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }
crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }
zipped() { (cd "$1" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort | zip -X "${@:3}" -9 -q "$2" -@); }

step "Debian package"
deb=${CPUPROBE_RELEASE_DEB:-}
[ -n "$deb" ] || deb=$(bash "$repo/tools/build-deb.sh" "$work/deb" | tail -n 1) || fail "the Debian package"
[ "$(dpkg-deb --field "$deb" Version)" = "$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)" ] ||
    fail "$deb is not of this commit's version"
cp "$deb" "$out/"

for arch in x86_64 i386; do
    step "Linux $arch"
    folder=$work/linux-$arch/cpuprobe-$version-linux-$arch
    build "linux-$arch" "$([ "$arch" = i386 ] && echo i386-linux-klibc.cmake)" -DCPUPROBE_STATIC=ON
    mkdir -p "$folder"
    strip -o "$folder/cpuprobe" "$work/build-linux-$arch/cpuprobe"
    strip -o "$folder/cpuprobe-dump" "$work/build-linux-$arch/cpuprobe-dump"
    cp "$work/build-linux-$arch/man/cpuprobe.1" "$source/README.md" "$source/LICENSE" "$source/CHANGELOG.md" "$folder/"
    dated "$folder"
    tar --sort=name --owner=0 --group=0 --numeric-owner --format=gnu -C "$work/linux-$arch" -cf - \
        "cpuprobe-$version-linux-$arch" |
        gzip -9n >"$out/cpuprobe-$version-linux-$arch.tar.gz"
done

declare -Ar WINDOWS_TOOLCHAIN=([64]=mingw-w64-x86_64.cmake [32]=mingw-w64-i386.cmake)
declare -Ar WINDOWS_STRIP=([64]=x86_64-w64-mingw32-strip [32]=i686-w64-mingw32-strip)
for width in 64 32; do
    step "Windows $width-bit"
    folder=$work/win$width/cpuprobe-$version-win$width
    build "win$width" "${WINDOWS_TOOLCHAIN[$width]}"
    mkdir -p "$folder"
    for program in cpuprobe cpuprobe-dump; do
        "${WINDOWS_STRIP[$width]}" -o "$folder/$program.exe" "$work/build-win$width/$program.exe"
    done
    crlf "$source/windows/README.txt" "$folder/README.txt"
    crlf "$source/LICENSE" "$folder/LICENSE.txt"
    crlf "$source/CHANGELOG.md" "$folder/CHANGELOG.txt"
    dated "$folder"
    zipped "$work/win$width" "$out/cpuprobe-$version-win$width.zip"
done

# FreeDOS's installer reads APPINFO/NAME.LSM; an MS-DOS user unzips it and runs BIN\CPUPROBE.COM.
step "DOS"
build dos dos-com.cmake
folder=$work/dos
mkdir -p "$folder/APPINFO" "$folder/BIN" "$folder/DOC/CPUPROBE"
cp "$work/build-dos/CPUPROBE.COM" "$work/build-dos/CPUDUMP.COM" "$folder/BIN/"
sed "s/@VERSION@/$version/; s/@DATE@/$(date -u -d "@$SOURCE_DATE_EPOCH" +%F)/" "$source/dos/CPUPROBE.LSM" >"$work/lsm"
crlf "$work/lsm" "$folder/APPINFO/CPUPROBE.LSM"
crlf "$source/dos/README.TXT" "$folder/DOC/CPUPROBE/README.TXT"
crlf "$source/LICENSE" "$folder/DOC/CPUPROBE/LICENSE.TXT"
dated "$folder"
# -k: entries as MS-DOS makes them, which old unzip programs expect.
zipped "$folder" "$out/cpuprobe-$version-dos.zip" -k

step "SHA256SUMS"
(cd "$out" && rm -f SHA256SUMS && sha256sum -- cpuprobe_"$version"_*.deb cpuprobe-"$version"-* >SHA256SUMS && cat SHA256SUMS)
echo "release $version in $out"
