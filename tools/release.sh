#!/usr/bin/env bash
# Makes every download of a release in OUTDIR, from the commit checked out here:
#
#   cpuprobe_VERSION_ARCH.deb               the Debian package (tools/build-deb.sh), with its
#                                           test suite run during the build
#   cpuprobe-VERSION-linux-x86_64.tar.gz    static Linux builds: cpuprobe, cpuprobe-dump,
#   cpuprobe-VERSION-linux-i386.tar.gz      cpuprobe.1, README.md, LICENSE, CHANGELOG.md; the
#                                           i386 one against klibc, for any x86 from the 386
#                                           (cmake/i386-linux-klibc.cmake)
#   cpuprobe-VERSION-win64.zip              Windows builds (MinGW-w64): cpuprobe.exe,
#   cpuprobe-VERSION-win32.zip              cpuprobe-dump.exe, README.txt (windows/README.txt,
#                                           written for Windows users), LICENSE.txt,
#                                           CHANGELOG.txt; text with CRLF line ends; the win32
#                                           one for Windows 95 and any x86 from the 386
#                                           (cmake/mingw-w64-i386.cmake)
#   cpuprobe-VERSION-dos.zip                DOS (cmake/dos-com.cmake), in FreeDOS's package layout:
#                                           APPINFO/CPUPROBE.LSM, BIN/CPUPROBE.COM and
#                                           CPUDUMP.COM, DOC/CPUPROBE/README.TXT (dos/README.TXT,
#                                           written for DOS users) and LICENSE.TXT; text in CR LF
#   SHA256SUMS                              over all of the above
#
# usage: tools/release.sh OUTDIR
#
# CPUPROBE_RELEASE_DEB=PATH ships a Debian package already built from this commit by
# tools/build-deb.sh, instead of building it again.
#
# Everything is built from `git archive HEAD`, so what is released is exactly a commit, never
# a working tree's leftovers. Archive entries carry the release date of debian/changelog and
# no owner, and are sorted by name, so that the same commit gives the same archives. The
# packages it needs are listed in CONTRIBUTING.md ("Versions and releases"); a missing tool stops
# it with its name.
set -euo pipefail

readonly RELEASE_LINUX_ARCHES=(x86_64 i386)
readonly RELEASE_WINDOWS_WIDTHS=(64 32)
declare -Ar WINDOWS_TOOLCHAIN=([64]=mingw-w64-x86_64.cmake [32]=mingw-w64-i386.cmake)
declare -Ar WINDOWS_STRIP=([64]=x86_64-w64-mingw32-strip [32]=i686-w64-mingw32-strip)

fail() {
    printf 'release: FAILED: %s\n' "$*" >&2
    exit 1
}
step() { printf '\n--- release: %s ---\n' "$*"; }

[ $# -eq 1 ] || {
    sed -n 's/^# usage: //p' "$0" >&2
    exit 2
}
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mkdir -p "$1"
outdir=$(cd "$1" && pwd)

for tool in git cmake make g++ strip tar gzip zip sha256sum dpkg-parsechangelog dpkg-deb apt-get \
    i686-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++-win32; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (see CONTRIBUTING.md)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source_dir="$work/source"

step "export HEAD ($(git -C "$repo" rev-parse --short HEAD)) to $source_dir"
if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
    echo "note: uncommitted changes in $repo are not part of the release"
fi
mkdir -p "$source_dir"
git -C "$repo" archive --format=tar HEAD | tar -x -C "$source_dir"

version=$(sed -n 's/^project(cpuprobe VERSION \([0-9.]*\) .*/\1/p' "$source_dir/CMakeLists.txt")
[ -n "$version" ] || fail "no version in project() of CMakeLists.txt"
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -STimestamp)
export SOURCE_DATE_EPOCH
echo "version $version, dated $(date -u -d "@$SOURCE_DATE_EPOCH" +%F)"

# Builds the tool for one target into $work/build-NAME, warnings as errors, and installs it,
# stripped, into $work/stage-NAME.
build_and_stage() {
    local name=$1
    shift
    local build="$work/build-$name"
    cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCPUPROBE_WERROR=ON "$@" \
        >/dev/null || fail "$name: configure"
    cmake --build "$build" -j2 >/dev/null || fail "$name: build"
    cmake --install "$build" --prefix "$work/stage-$name" --strip >/dev/null ||
        fail "$name: install"
}

# Gives every file and folder below $1 the release date, so archives do not carry build times.
set_release_dates() {
    find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# A text file with CRLF line ends, for Notepad and the other Windows editors.
crlf_copy() {
    sed 's/\r$//; s/$/\r/' "$1" >"$2"
}

make_linux_tarball() {
    local arch=$1 toolchain=() klibc_root
    if [ "$arch" = i386 ]; then
        # Debian's klibc, installed or fetched into the work folder.
        klibc_root=$(bash "$source_dir/tools/fetch-klibc.sh" "$work/klibc") ||
            fail "linux-i386: klibc (tools/fetch-klibc.sh)"
        toolchain=(-DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/i386-linux-klibc.cmake"
            -DCPUPROBE_KLIBC_ROOT="$klibc_root")
    fi
    step "Linux $arch: static build and tarball"
    build_and_stage "linux-$arch" -DCPUPROBE_STATIC=ON "${toolchain[@]}"
    cmake --build "$work/build-linux-$arch" --target cpuprobe-dump >/dev/null ||
        fail "linux-$arch: build cpuprobe-dump"
    local folder="cpuprobe-$version-linux-$arch"
    local content="$work/$folder"
    mkdir -p "$content"
    cp "$work/stage-linux-$arch/bin/cpuprobe" "$work/stage-linux-$arch/share/man/man1/cpuprobe.1" \
        "$source_dir/README.md" "$source_dir/LICENSE" "$source_dir/CHANGELOG.md" "$content/"
    strip -o "$content/cpuprobe-dump" "$work/build-linux-$arch/cpuprobe-dump"
    set_release_dates "$content"
    tar --sort=name --owner=0 --group=0 --numeric-owner --format=gnu -C "$work" -cf - "$folder" |
        gzip -9n >"$outdir/$folder.tar.gz"
    tar -tvzf "$outdir/$folder.tar.gz"
}

make_windows_zip() {
    local width=$1
    step "Windows $width-bit: build and zip"
    build_and_stage "win$width" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/${WINDOWS_TOOLCHAIN[$width]}"
    cmake --build "$work/build-win$width" --target cpuprobe-dump >/dev/null ||
        fail "win$width: build cpuprobe-dump"
    local folder="cpuprobe-$version-win$width"
    local content="$work/$folder"
    mkdir -p "$content"
    cp "$work/stage-win$width/bin/cpuprobe.exe" "$content/"
    "${WINDOWS_STRIP[$width]}" -o "$content/cpuprobe-dump.exe" \
        "$work/build-win$width/cpuprobe-dump.exe"
    crlf_copy "$source_dir/windows/README.txt" "$content/README.txt"
    crlf_copy "$source_dir/LICENSE" "$content/LICENSE.txt"
    crlf_copy "$source_dir/CHANGELOG.md" "$content/CHANGELOG.txt"
    set_release_dates "$content"
    rm -f "$outdir/$folder.zip"
    # -X leaves out owners and extra times; names go in sorted, folder first.
    (cd "$work" && find "$folder" -print | LC_ALL=C sort | zip -X -9 -q "$outdir/$folder.zip" -@)
    unzip -l "$outdir/$folder.zip"
}

step "Debian package"
if [ -n "${CPUPROBE_RELEASE_DEB:-}" ]; then
    deb=$CPUPROBE_RELEASE_DEB
    [ "$(dpkg-deb --field "$deb" Version)" = "$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)" ] ||
        fail "$deb is not of this commit's version"
    echo "the package built before: $deb"
else
    deb=$(bash "$repo/tools/build-deb.sh" "$work/deb" | tail -n 1) || fail "the Debian package"
fi
cp "$deb" "$outdir/"

for arch in "${RELEASE_LINUX_ARCHES[@]}"; do
    make_linux_tarball "$arch"
done
for width in "${RELEASE_WINDOWS_WIDTHS[@]}"; do
    make_windows_zip "$width"
done

# FreeDOS's installer reads APPINFO/NAME.LSM; MS-DOS users unzip it and run BIN\CPUPROBE.COM.
make_dos_zip() {
    step "DOS: build and zip"
    local content="$work/dos" date
    # Not installed: `cmake --install --strip` would hand the flat .COM files to strip.
    cmake -S "$source_dir" -B "$work/build-dos" -DCMAKE_BUILD_TYPE=Release -DCPUPROBE_WERROR=ON \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/dos-com.cmake" >/dev/null || fail "dos: configure"
    cmake --build "$work/build-dos" -j2 >/dev/null || fail "dos: build"
    mkdir -p "$content/APPINFO" "$content/BIN" "$content/DOC/CPUPROBE"
    cp "$work/build-dos/CPUPROBE.COM" "$work/build-dos/CPUDUMP.COM" "$content/BIN/"
    date=$(date -u -d "@$SOURCE_DATE_EPOCH" +%F)
    sed "s/@VERSION@/$version/; s/@DATE@/$date/" "$source_dir/dos/CPUPROBE.LSM" >"$work/lsm"
    crlf_copy "$work/lsm" "$content/APPINFO/CPUPROBE.LSM"
    crlf_copy "$source_dir/dos/README.TXT" "$content/DOC/CPUPROBE/README.TXT"
    crlf_copy "$source_dir/LICENSE" "$content/DOC/CPUPROBE/LICENSE.TXT"
    set_release_dates "$content"
    local zip="$outdir/cpuprobe-$version-dos.zip"
    rm -f "$zip"
    # -k: entries made by MS-DOS, as old unzip programs expect; no folder above APPINFO.
    (cd "$content" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort | zip -X -k -9 -q "$zip" -@)
    unzip -l "$zip"
}
make_dos_zip

step "SHA256SUMS"
(
    cd "$outdir"
    rm -f SHA256SUMS
    sha256sum -- cpuprobe_"$version"_*.deb "cpuprobe-$version"-linux-*.tar.gz \
        "cpuprobe-$version"-win*.zip "cpuprobe-$version-dos.zip" >SHA256SUMS
    cat SHA256SUMS
)
echo "release $version in $outdir"
