#!/usr/bin/env bash
# Checks every download tools/release.sh left in OUTDIR as a user meets it: SHA256SUMS lists
# each known download and no other; each archive's files and CR LF texts; the static programs
# alone in an empty root, the x86-64 one on Opteron_G1 and not on pentium3; and each program,
# once stripped, the very bytes its preset checked, where that preset's build folder is here.
# usage: tools/check-release.sh OUTDIR
set -euo pipefail
export LC_ALL=C
out=$(cd "${1:?usage: tools/check-release.sh OUTDIR}" && pwd)
repo=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(cpuprobe VERSION \([0-9.]*\) .*/\1/p' "$repo/CMakeLists.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    printf 'check-release: FAILED: %s\n' "$*" >&2
    exit 1
}
# shellcheck source=tests/report_shape.sh
source "$repo/tests/report_shape.sh"

# The archive's files, one a line, are exactly those named.
expect_files() {
    diff <(printf '%s\n' "${@:2}" | sort) <(sort <<<"$1") || fail "another set of files (> found, < wanted)"
}

# Each text is not empty and ends every line in CR LF; the first is SOURCE with CR LF.
crlf_texts() {
    local source=$1 text
    shift
    for text in "$@"; do
        [ -s "$text" ] && ! grep -qv $'\r$' "$text" || fail "${text#"$work"/}: lines without CR LF"
    done
    sed 's/$/\r/' "$repo/$source" | cmp -s - "$1" || fail "${1#"$work"/} is not $source with CR LF"
}

# The program equals the preset's build of it, both stripped by STRIP where one is given.
same_as_checked() {
    local program=$1 built=$repo/$2 strip=${3:-}
    [ -f "$built" ] || { echo "SKIPPED: ${program##*/} against $2: no such build here" && return; }
    if [ -n "$strip" ]; then
        "$strip" -o "$work/checked" "$built" && "$strip" -o "$work/shipped" "$program"
        built=$work/checked program=$work/shipped
    fi
    cmp -s "$built" "$program" || fail "${1##*/} is not the program $2's checks ran"
    echo "${1##*/}: the bytes of $2, which its preset checked"
}

# The static tool alone in a root, run by the kernel, or beside a static qemu-i386 that runs it.
in_empty_root() {
    local root=$work/root-$2 command=(/cpuprobe)
    mkdir -p "$root" && cp "$1" "$root/cpuprobe"
    if [ "$2" = emulated ]; then
        cp "$(command -v qemu-i386-static)" "$root/qemu-i386" && command=(/qemu-i386 /cpuprobe)
    fi
    chroot "$root" "${command[@]}" </dev/null >"$root.txt" || fail "${1##*/} in an empty root, $2"
    check_report "$root.txt" && grep -Eq '^CpuClock [1-9][0-9]*\.[0-9]MHz$' "$root.txt" ||
        fail "no report with a clock from ${1##*/} in an empty root, $2"
    echo "runs alone in an empty root, $2: $(sed -n 2p "$root.txt")"
}

linux_tarball() {
    local arch=$1 folder=cpuprobe-$version-linux-$1
    expect_files "$(tar -tzf "$out/$folder.tar.gz" | grep -v '/$')" "$folder/cpuprobe" \
        "$folder/cpuprobe-dump" "$folder/cpuprobe.1" "$folder/README.md" "$folder/LICENSE" "$folder/CHANGELOG.md"
    tar -xzf "$out/$folder.tar.gz" -C "$work"
    folder=$work/$folder
    for program in cpuprobe cpuprobe-dump; do
        file "$folder/$program" | grep -q 'statically linked' || fail "$arch: $program is not static"
    done
    if [ "$arch" = x86_64 ]; then
        in_empty_root "$folder/cpuprobe" native
        qemu-x86_64 -cpu Opteron_G1 "$folder/cpuprobe" </dev/null >"$work/oldest.txt" &&
            check_report "$work/oldest.txt" || fail "x86_64: no report on Opteron_G1"
        ! { qemu-x86_64 -cpu pentium3 "$folder/cpuprobe" </dev/null >/dev/null 2>&1; } 2>/dev/null ||
            fail "x86_64: it runs on pentium3 too; the stated oldest processor is out of date"
        echo "x86_64: runs on Opteron_G1, not on pentium3"
        return
    fi
    in_empty_root "$folder/cpuprobe" emulated
    if "$folder/cpuprobe" </dev/null >/dev/null 2>&1; then
        in_empty_root "$folder/cpuprobe" native
    else
        echo "SKIPPED: i386 in an empty root, native: this kernel runs no 32-bit x86 programs"
    fi
    same_as_checked "$folder/cpuprobe" build-i386/cpuprobe strip
    same_as_checked "$folder/cpuprobe-dump" build-i386/cpuprobe-dump strip
}

windows_zip() {
    local width=$1 folder=cpuprobe-$version-win$1 named strip=i686-w64-mingw32-strip
    [ "$width" = 32 ] || strip=x86_64-w64-mingw32-strip
    expect_files "$(unzip -Z1 "$out/$folder.zip" | grep -v '/$')" "$folder/cpuprobe.exe" \
        "$folder/cpuprobe-dump.exe" "$folder/README.txt" "$folder/LICENSE.txt" "$folder/CHANGELOG.txt"
    unzip -q -o "$out/$folder.zip" -d "$work"
    folder=$work/$folder
    crlf_texts windows/README.txt "$folder/README.txt" "$folder/LICENSE.txt" "$folder/CHANGELOG.txt"
    for named in $(tr -d '\r' <"$folder/README.txt" | grep -oE '[A-Za-z0-9_.-]+\.(exe|txt|md|zip)' | sort -u); do
        case $named in report.txt | dump.txt | cpuprobe-dump.txt | cmd.exe) ;;
            *) [ -e "$folder/$named" ] || fail "win$width: README.txt names $named, which the zip lacks" ;;
        esac
    done
    same_as_checked "$folder/cpuprobe.exe" "build-win$width/cpuprobe.exe" "$strip"
    same_as_checked "$folder/cpuprobe-dump.exe" "build-win$width/cpuprobe-dump.exe" "$strip"
}

dos_zip() {
    local folder=$work/dos
    unzip -q "$out/cpuprobe-$version-dos.zip" -d "$folder"
    expect_files "$(cd "$folder" && find . -type f | cut -c3-)" APPINFO/CPUPROBE.LSM BIN/CPUPROBE.COM \
        BIN/CPUDUMP.COM DOC/CPUPROBE/README.TXT DOC/CPUPROBE/LICENSE.TXT
    crlf_texts dos/README.TXT "$folder/DOC/CPUPROBE/README.TXT" "$folder/DOC/CPUPROBE/LICENSE.TXT" \
        "$folder/APPINFO/CPUPROBE.LSM"
    grep -q "^Version: *$version"$'\r$' "$folder/APPINFO/CPUPROBE.LSM" || fail "dos: the LSM's version"
    same_as_checked "$folder/BIN/CPUPROBE.COM" build-dos/CPUPROBE.COM
    same_as_checked "$folder/BIN/CPUDUMP.COM" build-dos/CPUDUMP.COM
}

(cd "$out" && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not verify"
while read -r _ download; do
    case $download in
        cpuprobe_"$version"_*.deb)
            [ "$(dpkg-deb --field "$out/$download" Version)" = "$version" ] || fail "$download: Version"
            [ ! -f "$repo/build-deb/first/$download" ] || cmp "$out/$download" "$repo/build-deb/first/$download" ||
                fail "$download is not the package checked" ;;
        cpuprobe-"$version"-linux-*.tar.gz) download=${download%.tar.gz} && linux_tarball "${download##*-}" ;;
        cpuprobe-"$version"-win*.zip) download=${download%.zip} && windows_zip "${download##*-win}" ;;
        cpuprobe-"$version"-dos.zip) dos_zip ;;
        *) fail "SHA256SUMS lists $download, which no check knows" ;;
    esac
    echo "checked: $download"
done <"$out/SHA256SUMS"
[ "$(wc -l <"$out/SHA256SUMS")" = 6 ] || fail "SHA256SUMS lists $(wc -l <"$out/SHA256SUMS") downloads, not 6"
echo "check-release: every download checked"
