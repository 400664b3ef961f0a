#!/usr/bin/env bash
# Every check of the 32-bit downloads, the programs meant for the oldest processors and systems:
#   instruction audit  audit_instructions.sh on all four programs (nothing past the 386 but the
#                      probe's one CPUID and one RDTSC, no MMX or SSE register)
#   Windows 95         check_win95_imports.sh on the two .exe files (PE header versions 4.0,
#                      imports exported by Windows 95's own DLLs, none of them wide-character)
#   processor models   run_models.sh: the Linux tool on six qemu-i386 models from the 486 to
#                      the Pentium II, each report equal to its dump's replay, no x87 on the 486
#   Windows versions   wine_versions.sh: the .exe files under 32-bit Wine set to Windows 95, 98
#                      and NT 4.0, where this machine has 32-bit Wine; skipped, saying why, where
#                      not
#
# usage: tests/old-x86/check_old_x86.sh [--release OUTDIR | LINUX_FOLDER WINDOWS_FOLDER] CPUPROBE_SIM
#
# --release OUTDIR unpacks the linux-i386 tarball and the win32 zip that tools/release.sh left
# there; otherwise the two folders hold the programs (build folders of cmake/i386-linux-klibc.cmake
# and cmake/mingw-w64-i386.cmake, or unpacked downloads). CPUPROBE_SIM is a cpuprobe-sim for this
# machine, which replays the dumps. Exits 1 when a check fails.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage() {
    sed -n 's/^# usage: //p' "$0" >&2
    exit 2
}
step() { printf '\n--- old x86: %s ---\n' "$*"; }
fail() {
    printf 'old x86: FAILED: %s\n' "$*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ "${1:-}" = --release ]; then
    [ $# -eq 3 ] || usage
    tarball=$(find "$2" -maxdepth 1 -name 'cpuprobe-*-linux-i386.tar.gz' | head -n 1)
    zip=$(find "$2" -maxdepth 1 -name 'cpuprobe-*-win32.zip' | head -n 1)
    [ -n "$tarball" ] || fail "no cpuprobe-*-linux-i386.tar.gz in $2"
    [ -n "$zip" ] || fail "no cpuprobe-*-win32.zip in $2"
    tar -xzf "$tarball" -C "$work"
    unzip -q "$zip" -d "$work"
    linux=$(find "$work" -maxdepth 1 -type d -name 'cpuprobe-*-linux-i386')
    windows=$(find "$work" -maxdepth 1 -type d -name 'cpuprobe-*-win32')
    sim=$3
else
    [ $# -eq 3 ] || usage
    linux=$1 windows=$2 sim=$3
fi
for program in "$linux/cpuprobe" "$linux/cpuprobe-dump" "$windows/cpuprobe.exe" \
    "$windows/cpuprobe-dump.exe"; do
    [ -f "$program" ] || fail "no $program"
done

step "instruction audit"
bash "$here/audit_instructions.sh" "$linux/cpuprobe" "$linux/cpuprobe-dump" \
    "$windows/cpuprobe.exe" "$windows/cpuprobe-dump.exe" || fail "instruction audit"

step "Windows 95: PE header and imports"
bash "$here/check_win95_imports.sh" "$windows/cpuprobe.exe" "$windows/cpuprobe-dump.exe" ||
    fail "Windows 95 header and imports"

step "processor models under qemu-i386"
bash "$here/run_models.sh" "$linux" "$sim" || fail "processor models"

step "Windows 95, 98 and NT 4.0 under Wine"
bash "$here/wine_versions.sh" "$windows" "$sim" || fail "Windows versions under Wine"

step "all checks passed"
