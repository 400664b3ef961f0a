#!/usr/bin/env bash
# Leg "windows": the 64-bit Windows build (MinGW-w64, linked statically) with warnings as
# errors, then tests/windows/check_windows.sh under Wine, against a Linux build of the tool
# made here too: static linking, the report's "\r\n" line ends, the same processor and clock
# as the Linux build, the report held back from a redirected stdout until the awaited
# character, and cpuprobe-sim.exe on every recorded dump.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

step() { printf '\n--- windows: %s ---\n' "$*"; }
fail() {
    printf '\nFAILED: %s\n' "$*" >&2
    exit 1
}

step "install the MinGW-w64 cross compiler and Wine"
apt-get install -y --no-install-recommends g++-mingw-w64-x86-64-posix wine64 g++ cmake make ||
    fail "could not install the packages"

step "build the Linux tool (build-mingw-linux), warnings as errors"
cmake -S . -B build-mingw-linux -DCPUPROBE_WERROR=ON >/dev/null &&
    cmake --build build-mingw-linux -j2 --target cpuprobe ||
    fail "the Linux build failed"

step "build for Windows (build-mingw), warnings as errors"
cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCPUPROBE_WERROR=ON >/dev/null &&
    cmake --build build-mingw -j2 --target cpuprobe cpuprobe-sim cpuprobe-dump ||
    fail "the Windows build failed"

step "check the Windows build under Wine"
bash tests/windows/check_windows.sh build-mingw build-mingw-linux ||
    fail "a Windows check failed (see above)"
