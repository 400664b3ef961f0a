#!/usr/bin/env bash
# Runs the commands that the documents print, taken from the documents themselves, so that a
# wrong path, target or test name in them fails here rather than on a reader:
#
#   readme-replay SOURCE_DIR
#       every code block of the README's "Reporting a bug", in order, in a fresh copy of the
#       source tree (no build folder yet), on a bug report as Windows users send one: a dump
#       saved by Windows PowerShell 5.1 (UTF-16) with a report saved by cmd.exe (CRLF), then
#       cpuprobe-dump.txt under both names. Both must succeed; a report of another processor
#       must make the comparison fail.
#   rerun-one SOURCE_DIR BUILD_DIR
#       the code block of CONTRIBUTING's "Adding a processor", with NAME as qemu-phenom, run
#       against the tests of BUILD_DIR: exactly one test must run, that processor's, and pass.
set -euo pipefail

readonly PROCESSOR=qemu-phenom
readonly OTHER_PROCESSOR=qemu-core2duo
# shellcheck source=tests/report_shape.sh
source "$(dirname "${BASH_SOURCE[0]}")/../report_shape.sh"

fail() {
    printf 'FAILED: %s\n' "$*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The lines of every fenced code block in the section of FILE that starts with the line
# HEADING, up to the next heading of its level, without the blocks' own indentation.
section_blocks() {
    awk -v heading="$2" '
        $0 == heading { in_section = 1; next }
        in_section && /^## / { exit }
        in_section && /^ *```/ {
            in_block = !in_block
            match($0, /^ */)
            indent = RLENGTH
            next
        }
        in_section && in_block { print substr($0, indent + 1) }' "$1"
}

# Runs the lines given on stdin one by one in the folder, as a reader pastes them into bash,
# stopping at the first that fails.
run_as_pasted() {
    local folder=$1 line
    while IFS= read -r line; do
        [ -n "$line" ] || continue
        printf '$ %s\n' "$line"
        (cd "$folder" && bash -o pipefail -c "$line" </dev/null) || return 1
    done
}

# A copy of the source tree as a fresh clone has it: every entry but build folders and git's.
fresh_copy() {
    local source=$1 copy=$2 entry
    mkdir -p "$copy"
    for entry in "$source"/* "$source"/.[!.]*; do
        case "$(basename "$entry")" in
            build | build-* | release | .git) ;;
            *) ln -s "$entry" "$copy/$(basename "$entry")" ;;
        esac
    done
}

crlf() { sed 's/$/\r/' "$1"; }

# As Windows PowerShell 5.1's ">" saves a program's output: UTF-16 little-endian after its
# byte-order mark, CRLF line ends.
as_windows_powershell_saves() {
    printf '\xff\xfe'
    crlf "$1" | iconv -f UTF-8 -t UTF-16LE
}

# A report as the reporter's own run gives it: the measured clock, not the replay's.
report_with_measured_clock() {
    crlf "$1" | sed 's/^CpuClock .*MHz/CpuClock 2596.1MHz/'
}

readme_replay() {
    local source=$1 processors=$1/tests/data/processors/linux-cpuid-r
    local clone=$work/clone
    section_blocks "$source/README.md" "## Reporting a bug" >"$work/commands"
    [ -s "$work/commands" ] || fail "README.md: no code block under \"## Reporting a bug\""
    fresh_copy "$source" "$clone"
    # The commands as printed; only the build type comes from the environment, as a reader's
    # could: without optimisation or debug information cpuprobe-sim compiles fastest.
    export CMAKE_BUILD_TYPE=None

    echo "--- a dump saved by Windows PowerShell 5.1, a report saved by cmd.exe"
    as_windows_powershell_saves "$processors/$PROCESSOR.txt" >"$clone/dump.txt"
    report_with_measured_clock "$processors/$PROCESSOR.report" >"$clone/report.txt"
    run_as_pasted "$clone" <"$work/commands" ||
        fail "README.md's replay commands failed as printed, in a fresh copy of the source"

    echo "--- cpuprobe-dump.txt, the report and the dump in one file, under both names"
    {
        report_with_measured_clock "$processors/$PROCESSOR.report"
        printf '\r\ncpuprobe-dump: the report above, the raw CPUID answers below.\r\n'
        crlf "$processors/$PROCESSOR.txt"
    } >"$clone/dump.txt"
    cp "$clone/dump.txt" "$clone/report.txt"
    [ "$(head -n "$(report_line_count)" "$clone/report.txt" | tr -d '\r')" = \
        "$(sed 's/^CpuClock .*/CpuClock 2596.1MHz/' "$processors/$PROCESSOR.report")" ] ||
        fail "the one-file report does not start with the report"
    run_as_pasted "$clone" <"$work/commands" ||
        fail "README.md's replay commands failed on a cpuprobe-dump.txt"

    echo "--- a report of another processor: the comparison must fail"
    as_windows_powershell_saves "$processors/$PROCESSOR.txt" >"$clone/dump.txt"
    report_with_measured_clock "$processors/$OTHER_PROCESSOR.report" >"$clone/report.txt"
    if run_as_pasted "$clone" <"$work/commands"; then
        fail "README.md's replay commands found a $OTHER_PROCESSOR report the same as a" \
            "$PROCESSOR dump: they compare nothing"
    fi
    echo "the replay commands run as printed, and tell a different processor"
}

# A folder that ctest reads as BUILD_DIR's tests: the same test files, with Testing/ of its
# own, so that running ctest here does not disturb a run of the whole suite in BUILD_DIR.
tests_view() {
    local build=$1 view=$2 file
    (cd "$build" && find . -name CTestTestfile.cmake) | while IFS= read -r file; do
        mkdir -p "$view/$(dirname "$file")"
        cp "$build/$file" "$view/$file"
    done
}

rerun_one() {
    local source=$1 build=$2 command
    command=$(section_blocks "$source/CONTRIBUTING.md" "## Adding a processor")
    [ "$(grep -c . <<<"$command")" = 1 ] ||
        fail "CONTRIBUTING.md: not one command in the code block of \"## Adding a processor\""
    grep -q NAME <<<"$command" || fail "CONTRIBUTING.md: the rerun command has no NAME"
    command=${command//NAME/$PROCESSOR}
    tests_view "$build" "$work/build"
    run_as_pasted "$work" <<<"$command" | tee "$work/out" ||
        fail "CONTRIBUTING.md's rerun command failed"
    grep -q '^100% tests passed, 0 tests failed out of 1$' "$work/out" ||
        fail "CONTRIBUTING.md's rerun command did not run exactly one test"
    grep -q "Processor\\.$PROCESSOR \\.* *Passed" "$work/out" ||
        fail "CONTRIBUTING.md's rerun command ran another test than $PROCESSOR's"
}

case "${1:-}" in
    readme-replay) readme_replay "$(realpath "$2")" ;;
    rerun-one) rerun_one "$(realpath "$2")" "$(realpath "$3")" ;;
    *) fail "usage: $0 readme-replay SOURCE_DIR | rerun-one SOURCE_DIR BUILD_DIR" ;;
esac
