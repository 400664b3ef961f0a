#!/usr/bin/env bash
# Leg "release": tools/release.sh makes every download into release/, then each artifact that
# SHA256SUMS lists is checked as a user would meet it:
#   the .deb         its fields and files, and the same bytes as the package leg's (which
#                    builds it with the test suite, lints and installs it)
#   Linux tarballs   the expected files; static programs; cpuprobe runs alone in an empty root;
#                    the x86-64 one under qemu on the oldest processor model that can run it,
#                    while the next older model cannot
#   Windows zips     the expected files, text files with CRLF line ends, and the programs
#                    under Wine with their imports checked against Windows XP's
#   32-bit downloads tests/old-x86/check_old_x86.sh: nothing past the 386 but the one CPUID and
#                    RDTSC, Windows 95's header and exports, six qemu models from the 486 each
#                    against its own dump's replay, Wine as Windows 95, 98 and NT 4.0
# The i386 program also runs in an empty root beside nothing but a static qemu-i386, on every
# machine: where the kernel runs no 32-bit programs that is the only way it can run there. Where
# 32-bit Wine cannot run or cannot be installed, the 32-bit zip's programs get every check but
# those under Wine, and the run says so.
# Run from the repository root as root on a throwaway machine (chroot needs root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
ci_leg=${ci_leg:-release}
# shellcheck source=.ci/lib.sh
source "$(dirname "$0")/lib.sh"

readonly OUT=release
readonly REPORT_LINES=18
# The oldest qemu model the x86-64 build runs on, and the next older one, on which it must
# fail: x86-64 began with the Opteron; qemu's older models have no 64-bit mode. The i386 build
# runs on every 32-bit model down to qemu's oldest, the 486, which has no older one to fail on:
# tests/old-x86/qemu-models.txt is its table, which check_old_x86.sh runs.
declare -Ar OLDEST_MODEL=([x86_64]=Opteron_G1)
declare -Ar TOO_OLD_MODEL=([x86_64]=pentium3)
declare -Ar QEMU=([x86_64]=qemu-x86_64 [i386]=qemu-i386)
declare -Ar WINDOWS_TOOLCHAIN=([64]=mingw-w64-x86_64.cmake [32]=mingw-w64-i686.cmake)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Exits 0 when the file holds an 18-line report with a positive clock.
is_report_with_clock() {
    [ "$(wc -l <"$1")" -eq "$REPORT_LINES" ] &&
        grep -Eq '^CpuClock [1-9][0-9]*\.[0-9]MHz$' "$1"
}

# The files of an archive's one folder, one a line, sorted.
expect_files() {
    local what=$1 listed=$2
    shift 2
    local wanted
    wanted=$(printf '%s\n' "$@" | LC_ALL=C sort)
    [ "$(LC_ALL=C sort <<<"$listed")" = "$wanted" ] ||
        fail "$what holds
$listed
instead of
$wanted"
}

check_deb() {
    local deb=$1
    step "check $deb"
    dpkg-deb --info "$OUT/$deb"
    [ "$(dpkg-deb --field "$OUT/$deb" Version)" = "$version" ] || fail "$deb: Version field"
    dpkg-deb --contents "$OUT/$deb" | grep -q ' ./usr/bin/cpuprobe$' || fail "$deb: no /usr/bin/cpuprobe"
    local packaged=build-deb/first/$deb
    if [ -f "$packaged" ]; then
        [ "$(sha256sum <"$OUT/$deb")" = "$(sha256sum <"$packaged")" ] ||
            fail "$deb differs from the package leg's $packaged"
        echo "$deb: the package leg's, which it has built twice, linted and installed"
    fi
}

# The static tool must start with nothing around it: in a root holding only itself, run by the
# kernel ("native"), or only itself and a static qemu-i386 that runs it ("emulated").
run_in_empty_root() {
    local arch=$1 binary=$2 how=$3
    local root="$work/root-$arch-$how" out="$work/chroot-$arch-$how.txt" status=0
    local command=(/cpuprobe)
    mkdir -p "$root"
    cp "$binary" "$root/cpuprobe"
    if [ "$how" = emulated ]; then
        cp "$(command -v qemu-i386-static)" "$root/qemu-i386"
        command=(/qemu-i386 /cpuprobe)
    fi
    chroot "$root" "${command[@]}" </dev/null >"$out" 2>&1 || status=$?
    if [ "$status" != 0 ]; then
        cat "$out"
        fail "$arch: the static tool failed in an empty root, $how (status $status)"
    fi
    is_report_with_clock "$out" || fail "$arch: no 18-line report with a clock in an empty root, $how"
    echo "$arch: runs alone in an empty root, $how: $(sed -n 2p "$out")"
}

# Every way of the empty-root check that this machine has for the architecture.
run_in_empty_roots() {
    local arch=$1 binary=$2
    if [ "$arch" != i386 ]; then
        run_in_empty_root "$arch" "$binary" native
        return
    fi
    run_in_empty_root "$arch" "$binary" emulated
    if host_runs_32bit_x86; then
        run_in_empty_root "$arch" "$binary" native
    else
        skipped "i386 static tool run by the kernel in an empty root" \
            "this kernel runs no 32-bit x86 programs; it ran beside a static qemu-i386 instead"
    fi
}

run_on_oldest_models() {
    local arch=$1 binary=$2 oldest=${OLDEST_MODEL[$1]} too_old=${TOO_OLD_MODEL[$1]}
    "${QEMU[$arch]}" -cpu "$oldest" "$binary" </dev/null >"$work/oldest-$arch.txt" 2>&1 ||
        fail "$arch: the static tool failed under ${QEMU[$arch]} -cpu $oldest"
    is_report_with_clock "$work/oldest-$arch.txt" ||
        fail "$arch: no 18-line report with a clock on $oldest"
    echo "$arch: runs on $oldest: $(sed -n 2p "$work/oldest-$arch.txt")"
    # It is meant to die of an illegal instruction; the braces keep bash's own note of that out
    # of the log, where it would read as a failure.
    if { "${QEMU[$arch]}" -cpu "$too_old" "$binary" </dev/null >"$work/too-old-$arch.txt" 2>&1; } \
        2>/dev/null; then
        fail "$arch: the static tool also runs on $too_old; the stated minimum is out of date"
    fi
    echo "$arch: fails on the next older model, $too_old: $(tail -n 1 "$work/too-old-$arch.txt")"
}

check_linux_tarball() {
    local tarball=$1 arch
    arch=${tarball#"cpuprobe-$version-linux-"}
    arch=${arch%.tar.gz}
    step "check $tarball"
    local folder="cpuprobe-$version-linux-$arch"
    expect_files "$tarball" "$(tar -tzf "$OUT/$tarball" | grep -v '/$')" \
        "$folder/cpuprobe" "$folder/cpuprobe-dump" "$folder/cpuprobe.1" "$folder/README.md" \
        "$folder/LICENSE" "$folder/CHANGELOG.md"
    tar -xzf "$OUT/$tarball" -C "$work"
    local binary="$work/$folder/cpuprobe" program kind
    for program in cpuprobe cpuprobe-dump; do
        kind=$(file "$work/$folder/$program")
        echo "$kind"
        grep -q 'statically linked' <<<"$kind" || fail "$arch: $program is not static"
    done
    run_in_empty_roots "$arch" "$binary"
    # The 32-bit build's processor models are check_old_x86.sh's (check_windows_zip).
    [ "$arch" = i386 ] || run_on_oldest_models "$arch" "$binary"
}

# README.txt must be the one written for Windows users, with CRLF, and name no file but those
# the zip holds, those it tells the user to make and Windows' own cmd.exe.
check_windows_readme() {
    local zip=$1 folder=$2 named
    cmp -s <(sed 's/$/\r/' windows/README.txt) "$folder/README.txt" ||
        fail "$zip: README.txt is not windows/README.txt with CRLF line ends"
    for named in $(tr -d '\r' <"$folder/README.txt" |
        grep -oE '[A-Za-z0-9_.-]+\.(exe|txt|md|dll|zip)' | sort -u); do
        case "$named" in report.txt | dump.txt | cpuprobe-dump.txt | cmd.exe) continue ;; esac
        [ -e "$folder/$named" ] || fail "$zip: README.txt names $named, which the zip does not hold"
    done
}

check_windows_zip() {
    local zip=$1 width
    width=${zip#"cpuprobe-$version-win"}
    width=${width%.zip}
    step "check $zip"
    local folder="cpuprobe-$version-win$width"
    expect_files "$zip" "$(unzip -Z1 "$OUT/$zip" | grep -v '/$')" \
        "$folder/cpuprobe.exe" "$folder/cpuprobe-dump.exe" "$folder/README.txt" \
        "$folder/LICENSE.txt" "$folder/CHANGELOG.txt"
    unzip -q -o "$OUT/$zip" -d "$work"
    local text
    for text in README LICENSE CHANGELOG; do
        awk '!/\r$/ { bare++ } END { exit NR == 0 || bare > 0 }' "$work/$folder/$text.txt" ||
            fail "$zip: $text.txt is empty or has lines not ending in CRLF"
    done
    check_windows_readme "$zip" "$work/$folder"
    # The zip's own programs, beside a cpuprobe-sim.exe of the same width for the checks that
    # replay processors, against the Linux build.
    # The windows leg has usually configured this folder already; CMake warns when a toolchain
    # is named again for a folder that has one.
    local sim_build="build-win$width" toolchain=()
    [ -f "$sim_build/CMakeCache.txt" ] ||
        toolchain=(-DCMAKE_TOOLCHAIN_FILE="cmake/${WINDOWS_TOOLCHAIN[$width]}")
    cmake -S . -B "$sim_build" "${toolchain[@]}" -DCPUPROBE_WERROR=ON >/dev/null &&
        cmake --build "$sim_build" -j2 --target cpuprobe-sim >/dev/null ||
        fail "win$width: build cpuprobe-sim.exe"
    cp "$sim_build/cpuprobe-sim.exe" "$work/$folder/"
    if [ "$width" = 32 ]; then
        # The 32-bit downloads on the oldest processors and systems: the instruction audit, the
        # Windows 95 header and imports, the Linux programs on six qemu models from the 486,
        # and Wine as Windows 95, 98 and NT 4.0 where 32-bit Wine runs.
        cmake --build "$linux_build" -j2 --target cpuprobe-sim >/dev/null ||
            fail "the Linux cpuprobe-sim, which replays the models' dumps"
        bash tests/old-x86/check_old_x86.sh --release "$OUT" "$linux_build/cpuprobe-sim" ||
            fail "the 32-bit downloads failed their checks for old processors and systems"
    fi
    if [ "$width" = 32 ] && ! ci_wine32_available; then
        bash tests/windows/check_windows.sh --imports-only "$width" "$work/$folder" ||
            fail "$zip: the programs failed their Windows XP checks"
        skipped "$zip's programs under Wine" "$ci_no_wine32_reason"
        return
    fi
    # The cpuprobe-sim.exe beside them is built from the same sources with the same compiler as
    # the windows leg's, which has put it through every recorded processor under Wine.
    bash tests/windows/check_windows.sh --no-conformance "$width" "$work/$folder" \
        "$linux_build" || fail "$zip: the programs failed their Windows checks"
}

describe_32bit_host
step "install what a release build and its checks need"
ci_install git cmake make g++ g++-multilib dpkg-dev debhelper libgtest-dev libgmock-dev \
    groff-base mandoc cpuid file zip unzip qemu-user qemu-user-static g++-mingw-w64-i686-win32 \
    g++-mingw-w64-x86-64-win32 binutils-mingw-w64 wine64
ci_wine32_available || true

step "the Linux tool, which the Windows programs are compared with"
linux_build=${CPUPROBE_LINUX_BUILD:-build-mingw-linux}
if [ -z "${CPUPROBE_LINUX_BUILD:-}" ]; then
    # With the tests: its cpuprobe-sim replays the old processors' dumps.
    cmake -S . -B "$linux_build" -DCPUPROBE_WERROR=ON -DBUILD_TESTING=ON >/dev/null ||
        fail "the Linux build"
fi
cmake --build "$linux_build" -j2 --target cpuprobe >/dev/null || fail "the Linux build"

step "tools/release.sh $OUT"
rm -rf "$OUT"
# The package leg has built the package of this commit twice, compared, linted and installed
# it: the release ships that one. Without it, the release builds its own, without the test
# suite (a package built with it has the same bytes).
packaged=build-deb/first/cpuprobe_$(dpkg-parsechangelog -S Version)_$(dpkg --print-architecture).deb
if [ -f "$packaged" ]; then
    CPUPROBE_RELEASE_DEB=$packaged bash tools/release.sh "$OUT"
else
    DEB_BUILD_OPTIONS=nocheck bash tools/release.sh "$OUT"
fi

step "SHA256SUMS"
(cd "$OUT" && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not verify"
version=$(sed -n 's/^project(cpuprobe VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
listed=0
while read -r _ artifact; do
    case "$artifact" in
        *.deb) check_deb "$artifact" ;;
        *-linux-*.tar.gz) check_linux_tarball "$artifact" ;;
        *-win*.zip) check_windows_zip "$artifact" ;;
        *) fail "SHA256SUMS lists $artifact, which no check knows" ;;
    esac
    listed=$((listed + 1))
done <"$OUT/SHA256SUMS"
[ "$listed" -eq 5 ] || fail "SHA256SUMS lists $listed artifacts, not 5"
step "all $listed artifacts checked"
summarize_skips
