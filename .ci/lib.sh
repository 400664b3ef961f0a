# Shared by .ci/run and the legs (sourced): whether this machine's kernel runs 32-bit x86
# programs, and how a leg reports a check that cannot run here.
#
# Some 64-bit kernels are built without 32-bit support: a 32-bit program then fails with "Exec
# format error", and chroot, which retries such a program as a shell script, with "No such file
# or directory". The legs run the 32-bit tool through qemu-i386 there, and skip only what
# cannot run at all (32-bit Wine), each skip on a line of its own and again in the summary.
#
# CPUPROBE_NO_32BIT=1 makes every leg take that path on any machine, to try it.

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

# Why 32-bit Windows programs are not run where 32-bit programs are not: Wine runs a Windows
# program as a process of its own width, and 32-bit Wine under qemu-i386 did not even finish
# creating its prefix within 5 minutes (tried on Debian 12's Wine 8.0).
readonly WHY_NO_32BIT_WINE="this kernel runs no 32-bit x86 programs, and 32-bit Wine is one"

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

# What a leg did not run, or ran another way, with the reason: printed at once and listed
# again by summarize_skips at the leg's end, and in .ci/run's summary when it started the leg.
ci_skips=()
skipped() {
    ci_skips+=("$1: $2")
    printf 'SKIPPED: %s: %s\n' "$1" "$2"
    if [ -n "${CPUPROBE_CI_SKIPS:-}" ]; then
        printf '%s: %s: %s\n' "${ci_leg:-?}" "$1" "$2" >>"$CPUPROBE_CI_SKIPS"
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
