#!/usr/bin/env bash
# Leg "emulated": the whole build and test suite with Clang; the 32-bit x86 build run under
# qemu-i386, its unit tests included (32-bit code does the clock's double arithmetic on the x87
# unit, with its wider registers, and formats the figure with the 32-bit C library); the
# native tool under many qemu processor models, each checked against a raw dump
# of the same model replayed through cpuprobe-sim; and the aarch64 build (a processor without
# CPUID) run under qemu-aarch64. The emulated checks are tests of the Clang build
# (tests/emulated), pointed at the 32-bit and aarch64 build folders.
#
# aarch64 is built by clang with Debian's arm64 cross libraries: the cross g++ package would
# remove g++-multilib, which the 32-bit build needs.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
ci_leg=${ci_leg:-emulated}
# shellcheck source=.ci/lib.sh
source "$(dirname "$0")/lib.sh"

# Runs the Clang build's tests matching a pattern; every one must run and pass (none skipped).
run_tests() {
    local what=$1 pattern=$2 log
    log=$(mktemp)
    if ! ctest --test-dir build-clang --output-on-failure --no-tests=error -j2 -R "$pattern" |
        tee "$log"; then
        fail "$what"
    fi
    if grep -q 'Skipped' "$log"; then
        fail "$what: some tests were skipped"
    fi
}

# In 32-bit code the ID-bit test must use the 32-bit flags instructions PUSHFD/POPFD (9C/9D
# without the 66 operand-size prefix, which would make them the 16-bit PUSHF/POPF).
check_32bit_flags_code() {
    local code
    code=$(objdump -d build-i686/cpuprobe | awk '/<_Z22HardwareIdBitCanChangev>:/,/^$/')
    [ -n "$code" ] || fail "i686: HardwareIdBitCanChange not found in build-i686/cpuprobe"
    printf '%s\n' "$code"
    grep -Eq $'\t9c +\tpushf' <<<"$code" || fail "i686: no 32-bit pushfd in HardwareIdBitCanChange"
    grep -Eq $'\t9d +\tpopf' <<<"$code" || fail "i686: no 32-bit popfd in HardwareIdBitCanChange"
    if grep -Eq $'\t66 9[cd] ' <<<"$code"; then
        fail "i686: 16-bit pushf/popf in HardwareIdBitCanChange"
    fi
}

started=$SECONDS

step "install: g++-multilib, qemu-user, clang, aarch64 cross libraries"
ci_install g++-multilib libgtest-dev libgmock-dev qemu-user clang groff-base mandoc \
    binutils-aarch64-linux-gnu libstdc++-12-dev-arm64-cross libc6-dev-arm64-cross

step "clang build+tests"
# Line tables only (-g1): nothing here is debugged, and full debug information would cost a
# third more of the build's time.
CXX=clang++ cmake -S . -B build-clang -DBUILD_TESTING=ON -DCPUPROBE_WERROR=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DCPUPROBE_EMULATION_TESTS=ON \
    -DCPUPROBE_I686_BUILD_DIR="$PWD/build-i686" \
    -DCPUPROBE_AARCH64_BUILD_DIR="$PWD/build-aarch64" || fail "clang: configure"
cmake --build build-clang -j2 || fail "clang: build (warnings are errors)"
ctest --test-dir build-clang --output-on-failure -j2 -E '^Qemu/|^Aarch64\.' ||
    fail "clang: tests"

step "i686 under qemu-i386"
# GoogleTest for the 32-bit unit tests is built here from the sources libgtest-dev ships: no
# package of the i386 architecture is needed.
build_gtest_i686 "$PWD/build-gtest-i686"
cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake \
    -DCMAKE_PREFIX_PATH="$PWD/build-gtest-i686" \
    -DCPUPROBE_WERROR=ON -DBUILD_TESTING=ON || fail "i686: configure"
cmake --build build-i686 -j2 --target cpuprobe cpuprobe-dump cpuprobe_unit_tests \
    cpuprobe_tick_tests || fail "i686: build (warnings are errors)"
check_32bit_flags_code
run_tests "i686 under qemu-i386" '^Qemu/.*/i386_default$'

step "i686 unit tests under qemu-i386"
for suite in cpuprobe_unit_tests cpuprobe_tick_tests; do
    qemu-i386 "build-i686/$suite" --gtest_brief=1 || fail "i686: $suite under qemu-i386"
done

step "models under qemu"
run_tests "models under qemu (the failing test names the platform and model)" \
    '^Qemu/.*/(x86_64|i386)_'

step "aarch64 under qemu-aarch64"
cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
    -DCPUPROBE_WERROR=ON || fail "aarch64: configure"
cmake --build build-aarch64 -j2 --target cpuprobe cpuprobe-dump ||
    fail "aarch64: build (warnings are errors)"
run_tests "aarch64 under qemu-aarch64" '(^Aarch64\.|/aarch64_)'

step "passed in $((SECONDS - started)) s"
