#!/usr/bin/env bash
# Leg "windows": the 32-bit and 64-bit Windows builds (MinGW-w64, win32 threads, linked
# statically, for Windows XP on) with warnings as errors, then tests/windows/check_windows.sh for
# each under Wine, against a Linux build of the tool made here too: every import on the Windows
# XP list and the subsystem version XP's, the report's "\r\n" line ends, the same processor and
# clock as the Linux build, the report held back from a redirected stdout until the awaited
# character, and cpuprobe-sim.exe on every recorded dump.
# Where the kernel runs no 32-bit programs, 32-bit Wine cannot start: the 32-bit build is then
# built and its imports checked, and the checks under Wine are skipped, saying so.
# Run as root from the repository root on Debian 12; it installs what it needs.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
# shellcheck source=.ci/lib.sh
source "$(dirname "$0")/lib.sh"

step() { printf '\n--- windows: %s ---\n' "$*"; }
fail() {
    printf '\nFAILED: %s\n' "$*" >&2
    exit 1
}

# The MinGW-w64 target of each width, as the toolchain files in cmake/ name it.
target_of() {
    case "$1" in
        32) echo i686 ;;
        64) echo x86_64 ;;
    esac
}

started=$SECONDS

describe_32bit_host
# The widths whose programs run under Wine here.
wine_widths=(64)
if host_runs_32bit_x86; then
    wine_widths=(32 64)
fi

step "install the MinGW-w64 cross compilers and Wine (32-bit Wine needs the i386 architecture)"
# Another apt run on the same machine holds the lock for a while; wait for it.
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }
wine_packages=(wine64)
if [ "${wine_widths[0]}" = 32 ]; then
    dpkg --add-architecture i386 || fail "could not add the i386 architecture"
    wine_packages+=(wine32:i386)
fi
apt_get update || fail "apt-get update failed"
apt_get install -y --no-install-recommends g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 \
    binutils-mingw-w64 "${wine_packages[@]}" g++ cmake make ||
    fail "could not install the packages"

step "build the Linux tool (build-mingw-linux), warnings as errors"
cmake -S . -B build-mingw-linux -DCPUPROBE_WERROR=ON >/dev/null ||
    fail "could not configure the Linux build"
cmake --build build-mingw-linux -j2 --target cpuprobe || fail "the Linux build failed"

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
        bash tests/windows/check_windows.sh "$width" "build-win$width" build-mingw-linux ||
            fail "a $width-bit Windows check failed (see above)"
    else
        step "check the $width-bit build: Windows XP imports"
        bash tests/windows/check_windows.sh --imports-only "$width" "build-win$width" ||
            fail "a $width-bit Windows check failed (see above)"
        skipped "$width-bit Windows programs under Wine" "$WHY_NO_32BIT_WINE"
    fi
done

step "passed in $((SECONDS - started)) s"
summarize_skips
