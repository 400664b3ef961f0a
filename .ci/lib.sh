# shellcheck shell=bash
# Shared by .ci/run and the legs (sourced): how a leg names its steps, fails and says what it
# skipped; how it installs packages; and whether this machine's kernel runs 32-bit x86 programs.
#
# The package archive is not the project. An index that cannot be read (a mirror mid-sync) is a
# WARNING: line, never a failure by itself; a package that a check truly needs and cannot be
# installed fails with apt's own first error line; one that only some check needs (32-bit Wine)
# is skipped, with apt's line, by that check alone.
#
# Some 64-bit kernels are built without 32-bit support: a 32-bit program then fails with "Exec
# format error", and chroot, which retries such a program as a shell script, with "No such file
# or directory". The legs run the 32-bit tool through qemu-i386 there, and skip only what
# cannot run at all (32-bit Wine).
#
# CPUPROBE_NO_32BIT=1 makes every leg take that path on any machine, to try it.
# CPUPROBE_APT_PAUSE (seconds, default 30) is the pause before an update is tried again.

# --- steps, failures and skips ---

ci_leg=${ci_leg:-ci}
# Names each step, and says how long the one before it took.
step() {
    if [ -n "${ci_step_name:-}" ]; then
        printf '(%s: %d s)\n' "$ci_step_name" "$((SECONDS - ci_step_started))"
    fi
    ci_step_name=$*
    ci_step_started=$SECONDS
    printf '\n--- %s: %s ---\n' "$ci_leg" "$*"
}

fail() {
    printf '\n%s: FAILED: %s\n' "$ci_leg" "$*" >&2
    exit 1
}

# What a leg did not run, or ran another way, with the reason: printed at once and listed
# again by summarize_skips at the leg's end, and in .ci/run's summary when it started the leg.
ci_skips=()
skipped() {
    ci_skips+=("$1: $2")
    printf 'SKIPPED: %s: %s\n' "$1" "$2"
    if [ -n "${CPUPROBE_CI_SKIPS:-}" ]; then
        printf '%s: %s: %s\n' "$ci_leg" "$1" "$2" >>"$CPUPROBE_CI_SKIPS"
    fi
}

summarize_skips() {
    if [ "${#ci_skips[@]}" = 0 ]; then
        echo "skipped: nothing"
        return
    fi
    echo "skipped or run another way (${#ci_skips[@]}):"
    printf '  %s\n' "${ci_skips[@]}"
}

# --- installing ---

# Every apt-get run retries a failed download and waits for another apt or dpkg run on the
# same machine to let go of the package manager's lock.
ci_apt_get() {
    apt-get -o Acquire::Retries=3 -o DPkg::Lock::Timeout=600 "$@"
}

# The index files that an update could not read, one a line: apt's "Failed to fetch" lines.
unread_indexes() {
    grep -E '^[EW]: Failed to fetch ' "$1" || true
}

# Updates the package lists. Where some index cannot be read, it waits and tries once more;
# what still cannot be read is a WARNING: line each, and the run goes on with the lists it has.
ci_apt_update() {
    local log attempt failed=""
    log=$(mktemp)
    for attempt in 1 2; do
        ci_apt_get update >"$log" 2>&1 || true
        failed=$(unread_indexes "$log")
        if [ -z "$failed" ] && ! grep -q '^E: ' "$log"; then
            break
        fi
        if [ "$attempt" = 1 ]; then
            echo "apt-get update: some indexes could not be read; trying again in ${CPUPROBE_APT_PAUSE:-30} s"
            sleep "${CPUPROBE_APT_PAUSE:-30}"
        fi
    done
    if [ -z "$failed" ]; then
        failed=$(grep '^E: ' "$log" | head -n 1)
    fi
    if [ -n "$failed" ]; then
        sed 's/^[EW]: /WARNING: apt-get update: /' <<<"$failed"
    else
        echo "apt-get update: every index read"
    fi
    rm -f "$log"
}

# apt's own first error line of a failed apt-get run's output, for the reason of a failure;
# where apt lists unmet dependencies, the first of them too, which names the package at fault.
first_apt_error() {
    local line unmet
    line=$(grep -m 1 '^E: ' "$1" | sed 's/^E: //' || true)
    unmet=$(grep -m 1 -E '(Depends|PreDepends|Conflicts|Breaks): ' "$1" | sed 's/^ *//; s/  */ /g' || true)
    echo "${line:-apt-get gave no error line}${unmet:+ (first unmet: $unmet)}"
}

# Installs packages that the check truly needs (apt-get install), or the build dependencies of
# a source tree (ci_install build-dep DIR): what cannot be installed fails the leg with apt's
# first error line.
ci_install() {
    local command=(install "$@") log status=0
    [ "${1:-}" != build-dep ] || command=("$@")
    log=$(mktemp)
    ci_apt_get "${command[0]}" -y --no-install-recommends "${command[@]:1}" >"$log" 2>&1 ||
        status=$?
    if [ "$status" != 0 ]; then
        cat "$log" >&2
        fail "apt-get ${command[*]}: $(first_apt_error "$log")"
    fi
    rm -f "$log"
}

# Installs packages that only one check needs. Exits 0 when they are installed; otherwise
# leaves apt's first error line in ci_install_error and exits 1, for the check to be skipped.
ci_install_error=""
ci_try_install() {
    local log status=0
    log=$(mktemp)
    ci_apt_get install -y --no-install-recommends "$@" >"$log" 2>&1 || status=$?
    ci_install_error=$(first_apt_error "$log")
    rm -f "$log"
    [ "$status" = 0 ]
}

# Adds the i386 architecture, for 32-bit Wine alone, and reads its package lists.
ci_add_i386() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 || fail "could not add the i386 architecture"
        ci_apt_update
    fi
}

# Where 32-bit Windows programs can run under Wine here, installs 32-bit Wine and exits 0.
# Otherwise says why not in ci_no_wine32_reason and exits 1: the kernel runs no 32-bit
# programs, or the archive could not install wine32:i386. The answer is found once per run.
readonly WHY_NO_32BIT_WINE="this kernel runs no 32-bit x86 programs, and 32-bit Wine is one"
ci_no_wine32_reason=""
ci_wine32_available() {
    if [ -z "${CPUPROBE_WINE32:-}" ]; then
        if ! host_runs_32bit_x86; then
            CPUPROBE_WINE32="no:$WHY_NO_32BIT_WINE"
        else
            ci_add_i386
            if ci_try_install wine32:i386; then
                CPUPROBE_WINE32=yes
            else
                CPUPROBE_WINE32="no:the package archive could not install wine32:i386: $ci_install_error"
            fi
        fi
        export CPUPROBE_WINE32
    fi
    ci_no_wine32_reason=${CPUPROBE_WINE32#no:}
    [ "$CPUPROBE_WINE32" = yes ]
}

# --- 32-bit programs ---

# Exits 0 when 32-bit x86 programs run here. The answer is found once, by running a tiny
# 32-bit program, and kept in CPUPROBE_HOST_RUNS_32BIT for the legs that .ci/run starts.
host_runs_32bit_x86() {
    [ "${CPUPROBE_NO_32BIT:-0}" != 1 ] || return 1
    if [ -z "${CPUPROBE_HOST_RUNS_32BIT:-}" ]; then
        CPUPROBE_HOST_RUNS_32BIT=$(try_32bit_x86_program)
        export CPUPROBE_HOST_RUNS_32BIT
    fi
    [ "$CPUPROBE_HOST_RUNS_32BIT" = yes ]
}

# Builds, with the assembler and linker alone (no 32-bit C library needed), a 32-bit program
# whose only instruction is the system call exit(42), and runs it. Prints yes when it ended
# with 42, no otherwise.
try_32bit_x86_program() {
    local dir status=0
    dir=$(mktemp -d)
    printf '.globl _start\n_start:\n\tmovl $1, %%eax\n\tmovl $42, %%ebx\n\tint $0x80\n' \
        >"$dir/exit42.s"
    if ! as --32 -o "$dir/exit42.o" "$dir/exit42.s" ||
        ! ld -m elf_i386 -o "$dir/exit42" "$dir/exit42.o"; then
        rm -rf "$dir"
        echo "ci: could not build a 32-bit test program (binutils)" >&2
        exit 1
    fi
    "$dir/exit42" 2>/dev/null || status=$?
    rm -rf "$dir"
    if [ "$status" = 42 ]; then echo yes; else echo no; fi
}

# One line saying why 32-bit programs are run another way here, for the log.
describe_32bit_host() {
    if [ "${CPUPROBE_NO_32BIT:-0}" = 1 ]; then
        echo "32-bit x86 programs: treated as refused (CPUPROBE_NO_32BIT=1)"
    elif host_runs_32bit_x86; then
        echo "32-bit x86 programs: this kernel runs them"
    else
        echo "32-bit x86 programs: this kernel refuses them (a 32-bit exit(42) did not run)"
    fi
}

# --- GoogleTest for 32-bit x86 ---

# Builds GoogleTest and GoogleMock for 32-bit x86 from the sources that libgtest-dev ships, and
# installs them under $1, for -DCMAKE_PREFIX_PATH of a 32-bit build: no i386 package needed.
build_gtest_i686() {
    local prefix=$1
    [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
    cmake -S /usr/src/googletest -B "$prefix.build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/i686-linux-gnu.cmake" \
        -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null &&
        cmake --build "$prefix.build" -j2 >/dev/null &&
        cmake --install "$prefix.build" >/dev/null ||
        fail "could not build GoogleTest for i686 from /usr/src/googletest"
}
