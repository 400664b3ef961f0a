#!/usr/bin/env bash
# Leg "windows": the 32-bit and 64-bit Windows builds (MinGW-w64, win32 threads, linked
# statically, for Windows XP on) with warnings as errors, then tests/windows/check_windows.sh for
# each under Wine, against a Linux build of the tool made here too: every import on the Windows
# XP list and the subsystem version XP's, the report's "\r\n" line ends, the same processor and
# clock as the Linux build, the report held back from a redirected stdout until the awaited
# character, and cpuprobe-sim.exe on every recorded dump.
# Where 32-bit Wine cannot run (a kernel without 32-bit programs) or cannot be installed (the
# package archive), the 32-bit build is built and its imports checked, and the checks under
# Wine are skipped, saying why. The Linux build is CPUPROBE_LINUX_BUILD's (.ci/run's README
# build), or one made here in build-mingw-linux.
# Run as root from the repository root on Debian 12; it installs what it needs.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
ci_leg=${ci_leg:-windows}
# shellcheck source=.ci/lib.sh
source "$(dirname "$0")/lib.sh"

# The MinGW-w64 target of each width, as the toolchain files in cmake/ name it.
target_of() {
    case "$1" in
        32) echo i686 ;;
        64) echo x86_64 ;;
    esac
}

started=$SECONDS

describe_32bit_host
step "install the MinGW-w64 cross compilers and Wine"
ci_install g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64 wine64 g++ \
    cmake make
# The widths whose programs run under Wine here.
wine_widths=(64)
if ci_wine32_available; then
    wine_widths=(32 64)
fi

linux_build=${CPUPROBE_LINUX_BUILD:-build-mingw-linux}
step "the Linux tool ($linux_build), warnings as errors"
if [ -z "${CPUPROBE_LINUX_BUILD:-}" ]; then
    cmake -S . -B build-mingw-linux -DCPUPROBE_WERROR=ON >/dev/null ||
        fail "could not configure the Linux build"
fi
cmake --build "$linux_build" -j2 --target cpuprobe || fail "the Linux build failed"

for width in 32 64; do
    step "build for $width-bit Windows (build-win$width), warnings as errors"
    cmake -S . -B "build-win$width" -DCPUPROBE_WERROR=ON --no-warn-unused-cli \
        -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$(target_of "$width").cmake" >/dev/null ||
        fail "could not configure the $width-bit Windows build"
    cmake --build "build-win$width" -j2 --target cpuprobe cpuprobe-sim cpuprobe-dump ||
        fail "the $width-bit Windows build failed"
done

for width in 32 64; do
    if [[ " ${wine_widths[*]} " == *" $width "* ]]; then
        step "check the $width-bit build: Windows XP imports, and under Wine"
        bash tests/windows/check_windows.sh "$width" "build-win$width" "$linux_build" ||
            fail "a $width-bit Windows check failed (see above)"
    else
        step "check the $width-bit build: Windows XP imports"
        bash tests/windows/check_windows.sh --imports-only "$width" "build-win$width" ||
            fail "a $width-bit Windows check failed (see above)"
        skipped "$width-bit Windows programs under Wine" "$ci_no_wine32_reason"
    fi
done

step "passed in $((SECONDS - started)) s"
summarize_skips
