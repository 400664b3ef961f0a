#!/usr/bin/env bash
# The checks of the DOS programs, each runnable on its own (CTest runs each as a test):
#
#   setting CPUTYPE CYCLES DOS_FOLDER CPUPROBE_SIM
#       Under DOSBox's CPUTYPE at `cycles=fixed CYCLES`: CPUPROBE.COM, its output redirected to
#       a file and its input from a file holding one Enter, ends with status 0 and gives 18
#       lines, each ended in CR LF; the processor's own facts (386: the report of a processor
#       without CPUID, byte for byte; 486_slow: family 4, no TSC; pentium_slow: family 5, a
#       TSC); the clock CYCLES/1000 MHz to the report's 0.1 MHz where there is a TSC, 0.0MHz
#       where there is none. CPUDUMP.COM under the same settings, on the console, writes
#       CPUDUMP.TXT, whose first 18 lines are that report and which cpuprobe-sim replays to it
#       (the clock aside, which a dump does not hold); redirected, it prints the dump alone,
#       which replays to it too.
#   no-cpuid-path DOS_FOLDER CPUPROBE_SIM
#       The entry's own report for a processor without CPUID, which DOSBox cannot reach (it has
#       no 8086 or 286): a copy of CPUPROBE.COM whose first instruction jumps to it, redirected,
#       gives cpuprobe-sim's report for @no-cpuid in CR LF byte for byte, after the awaited
#       character, and status 0; on the console it shows that report.
#   screen DOS_FOLDER
#       CPUDUMP.COM on the console shows where it saved its file, C:\CPUDUMP.TXT, beside itself.
#   zip ZIP
#       The DOS download, cpuprobe-VERSION-dos.zip: exactly APPINFO/CPUPROBE.LSM (of VERSION),
#       BIN/CPUPROBE.COM and CPUDUMP.COM, DOC/CPUPROBE/README.TXT (dos/README.TXT) and
#       LICENSE.TXT, its texts in CR LF; its CPUPROBE.COM under DOSBox's Pentium at 33000 cycles
#       gives 18 lines in CR LF and CpuClock 33.0MHz.
#   audit DOS_FOLDER
#       audit_instructions.sh on both programs (nothing past the 386 but the probe's CPUID and
#       RDTSC; nothing past the 8086 in the entry's stretch before its processor test but one
#       SMSW), and each program's size against the 64 KB segment it shares with its data and
#       stack (its linker map's __stack_top).
#
# usage: tests/dos/check_dos.sh setting CPUTYPE CYCLES DOS_FOLDER CPUPROBE_SIM | no-cpuid-path DOS_FOLDER CPUPROBE_SIM | screen DOS_FOLDER | zip ZIP | audit DOS_FOLDER
#
# DOS_FOLDER holds CPUPROBE.COM, CPUDUMP.COM and their .MAP files, and for the screen the
# checks' SAVESCRN.COM (a cmake/dos-com.cmake build folder). Exits 1 when a check fails, and 77 with one line "SKIPPED: ..." where this machine
# has no dosbox.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly REPORT_LINES=18
# A run takes about a second and a half; far more means the program does not end by itself.
readonly TIME_LIMIT=30

usage() {
    sed -n 's/^# usage: //p' "$0" >&2
    exit 2
}
fail() {
    printf 'FAILED: %s\n' "$*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

need_dosbox() {
    command -v dosbox >/dev/null && return
    echo "SKIPPED: dosbox is not installed (Debian: apt-get install dosbox)"
    exit 77
}

# Runs a DOS program under the setting.
run() {
    bash "$here/dosbox_run.sh" --cputype "$cputype" --cycles "$cycles" \
        --time-limit "$TIME_LIMIT" "$@"
}

# The report's 18 lines each end in CR LF, and nothing else is there.
check_report_shape() {
    local file=$1 lines crlf
    lines=$(wc -l <"$file")
    crlf=$(grep -c $'\r$' "$file" || true)
    if [ "$lines" != "$REPORT_LINES" ] || [ "$crlf" != "$REPORT_LINES" ] ||
        [ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' ')" != 0d0a ]; then
        fail "$2: $lines lines, $crlf ended in CR LF, not $REPORT_LINES ended in CR LF"
    fi
}

# The report's line of a label, CR removed.
line_of() { tr -d '\r' <"$1" | grep -m 1 "^$2"; }

replay() {
    CPUPROBE_SCENARIO=$1 "$sim" </dev/null
}

# The report without its clock line, LF line ends.
without_clock() { tr -d '\r' <"$1" | grep -v '^CpuClock'; }

# What DOSBox's processor must show: a 386 is a processor without CPUID, whose report is
# cpuprobe-sim's for the scenario @no-cpuid.
check_processor() {
    local report=$1
    case "$cputype" in
        386)
            printf '@no-cpuid\n' >"$work/no-cpuid.txt"
            replay "$work/no-cpuid.txt" | sed 's/$/\r/' | cmp -s - "$report" ||
                fail "386: not the report of a processor without CPUID"
            ;;
        486_slow)
            line_of "$report" 'TypeID' | grep -q 'FamilyID 4,' || fail "486_slow: not family 4"
            [ "$(line_of "$report" 'TSC ')" = 'TSC    0' ] || fail "486_slow: TSC is not 0"
            ;;
        pentium_slow)
            line_of "$report" 'TypeID' | grep -q 'FamilyID 5,' || fail "pentium_slow: not family 5"
            [ "$(line_of "$report" 'TSC ')" = 'TSC    1' ] || fail "pentium_slow: TSC is not 1"
            ;;
    esac
}

# CYCLES counts of the time-stamp counter each emulated millisecond are CYCLES/1000 MHz, shown
# to one decimal, halves away from zero as the report rounds.
check_clock() {
    local report=$1 expected=0.0
    if [ "$(line_of "$report" 'TSC ')" = 'TSC    1' ]; then
        expected=$(((cycles + 50) / 1000)).$((((cycles + 50) % 1000) / 100))
    fi
    [ "$(line_of "$report" 'CpuClock')" = "CpuClock ${expected}MHz" ] ||
        fail "$cputype at $cycles cycles: $(line_of "$report" 'CpuClock'), not CpuClock ${expected}MHz"
}

# The screen's text as one line, its rows joined by "|"; and a file's lines so joined, their
# trailing blanks left off as the screen leaves them.
screen_text() { tr -d '\r' <"$1" | paste -sd '|'; }
joined() { tr -d '\r' | sed 's/ *$//' | paste -sd '|'; }

check_no_cpuid_path() {
    local dos=$1 patched=$work/CPUPROBE.COM target jump expected=$work/no-cpuid.txt
    target=$(awk '$2 == "ProcessorWithoutCpuid" { print $1 }' "$dos/CPUPROBE.MAP")
    [ -n "$target" ] || fail "no ProcessorWithoutCpuid in $dos/CPUPROBE.MAP"
    # JMP near, an 8086 instruction: E9 and the distance from the next instruction, at 0x103.
    jump=$((target - 0x103))
    cp "$dos/CPUPROBE.COM" "$patched"
    printf '%b' "$(printf '\\x%02x' 0xe9 $((jump & 255)) $((jump >> 8 & 255)))" |
        dd of="$patched" bs=1 conv=notrunc status=none
    printf '@no-cpuid\n' >"$work/no-cpuid.scenario"
    replay "$work/no-cpuid.scenario" | sed 's/$/\r/' >"$expected"
    printf '\r\n' >"$work/enter.txt"
    cputype=pentium_slow cycles=4770
    run "$patched" --stdin "$work/enter.txt" >"$work/report.txt" ||
        fail "the entry's report ended with status $?"
    cmp "$work/report.txt" "$expected" || fail "the entry's report is not cpuprobe-sim's"
    run "$patched" --console --stdin "$work/enter.txt" --after "$dos/SAVESCRN.COM" \
        --files "$work/files" || fail "the entry's report on the console ended with status $?"
    [[ $(screen_text "$work/files/SCREEN.TXT") == *"$(joined <"$expected")"* ]] ||
        fail "the console does not show the entry's report: $(cat "$work/files/SCREEN.TXT")"
    tr -d '\r' <"$work/report.txt"
    echo "the entry's report for a processor without CPUID, redirected and on the console"
}

check_screen() {
    local dos=$1 shown
    cputype=pentium_slow cycles=4770
    printf '\r\n' >"$work/enter.txt"
    run "$dos/CPUDUMP.COM" --console --stdin "$work/enter.txt" --after "$dos/SAVESCRN.COM" \
        --files "$work/files" || fail "CPUDUMP.COM on the console ended with status $?"
    shown=$(printf '%s\n' "This report and the processor's CPUID answers are saved in" \
        '  C:\CPUDUMP.TXT' 'Attach that file to your bug report.' '' 'Press Enter to close.' |
        joined)
    [[ $(screen_text "$work/files/SCREEN.TXT") == *"$shown"* ]] ||
        fail "the screen does not show where CPUDUMP.TXT is: $(cat "$work/files/SCREEN.TXT")"
    [ -f "$work/files/CPUDUMP.TXT" ] || fail "no CPUDUMP.TXT beside CPUDUMP.COM"
    tr -d '\r' <"$work/files/SCREEN.TXT"
    echo "CPUDUMP.COM shows where it saved its file, and the file is there"
}

check_setting() {
    local dos=$1 report=$work/report.txt
    printf '\r\n' >"$work/enter.txt"
    run "$dos/CPUPROBE.COM" --stdin "$work/enter.txt" >"$report" ||
        fail "CPUPROBE.COM ended with status $?"
    check_report_shape "$report" CPUPROBE.COM
    check_processor "$report"
    check_clock "$report"

    run "$dos/CPUDUMP.COM" --console --stdin "$work/enter.txt" --files "$work/files" ||
        fail "CPUDUMP.COM on the console ended with status $?"
    local bug_report=$work/files/CPUDUMP.TXT
    [ -f "$bug_report" ] || fail "CPUDUMP.COM on the console wrote no CPUDUMP.TXT"
    head -n "$REPORT_LINES" "$bug_report" | cmp -s - "$report" ||
        fail "CPUDUMP.TXT does not start with CPUPROBE.COM's report"
    [ "$(grep -vc $'\r$' "$bug_report")" = 0 ] || fail "CPUDUMP.TXT has lines not ended in CR LF"
    diff <(replay "$bug_report" | grep -v '^CpuClock') <(without_clock "$report") ||
        fail "CPUDUMP.TXT replays to another report"

    run "$dos/CPUDUMP.COM" >"$work/dump.txt" || fail "CPUDUMP.COM redirected ended with status $?"
    [ "$(tr -d '\r' <"$work/dump.txt" | head -n 1)" = 'CPU:' ] ||
        fail "CPUDUMP.COM redirected does not print the dump alone"
    diff <(replay "$work/dump.txt" | grep -v '^CpuClock') <(without_clock "$report") ||
        fail "the dump CPUDUMP.COM prints replays to another report"
    tr -d '\r' <"$report"
    echo "$cputype at $cycles cycles: the report, its clock, and both dumps' replays agree"
}

check_zip() {
    local zip=$1 version listing text
    version=$(basename "$zip" | sed -n 's/^cpuprobe-\(.*\)-dos\.zip$/\1/p')
    [ -n "$version" ] || fail "$zip is not named cpuprobe-VERSION-dos.zip"
    unzip -q "$zip" -d "$work/zip"
    listing=$(cd "$work/zip" && find . -type f | LC_ALL=C sort | paste -sd ' ')
    [ "$listing" = "./APPINFO/CPUPROBE.LSM ./BIN/CPUDUMP.COM ./BIN/CPUPROBE.COM \
./DOC/CPUPROBE/LICENSE.TXT ./DOC/CPUPROBE/README.TXT" ] || fail "$zip holds $listing"
    for text in APPINFO/CPUPROBE.LSM DOC/CPUPROBE/README.TXT DOC/CPUPROBE/LICENSE.TXT; do
        [ "$(grep -vc $'\r$' "$work/zip/$text")" = 0 ] || fail "$text has lines not in CR LF"
    done
    sed 's/$/\r/' "$here/../../dos/README.TXT" | cmp -s - "$work/zip/DOC/CPUPROBE/README.TXT" ||
        fail "DOC/CPUPROBE/README.TXT is not dos/README.TXT"
    grep -q "^Version: *$version"$'\r$' "$work/zip/APPINFO/CPUPROBE.LSM" ||
        fail "APPINFO/CPUPROBE.LSM is not of version $version"
    cputype=pentium_slow cycles=33000
    run "$work/zip/BIN/CPUPROBE.COM" >"$work/report.txt" || fail "BIN/CPUPROBE.COM: status $?"
    check_report_shape "$work/report.txt" BIN/CPUPROBE.COM
    check_clock "$work/report.txt"
    echo "$(basename "$zip"): FreeDOS's layout, its texts in CR LF, its CPUPROBE.COM's report"
}

# The audit, then the sizes: each program's image, data and stack end below 64 KB.
check_audit() {
    local dos=$1 program top
    bash "$here/../old-x86/audit_instructions.sh" "$dos/CPUPROBE.COM" "$dos/CPUDUMP.COM" ||
        fail "instruction audit"
    for program in CPUPROBE CPUDUMP; do
        top=$(awk '$2 == "__stack_top" { print $1 }' "$dos/$program.MAP")
        [ -n "$top" ] || fail "no __stack_top in $dos/$program.MAP"
        printf '%s.COM: %d bytes; with its data and stack %d of the 65,536 bytes of its segment\n' \
            "$program" "$(stat -c %s "$dos/$program.COM")" "$((top))"
        [ $((top)) -le 65520 ] || fail "$program.COM does not fit in its segment"
    done
}

case "${1:-}" in
    setting)
        [ $# = 5 ] || usage
        cputype=$2 cycles=$3 sim=$5
        need_dosbox
        check_setting "$4"
        ;;
    no-cpuid-path)
        [ $# = 3 ] || usage
        sim=$3
        need_dosbox
        check_no_cpuid_path "$2"
        ;;
    screen)
        [ $# = 2 ] || usage
        need_dosbox
        check_screen "$2"
        ;;
    zip)
        [ $# = 2 ] || usage
        need_dosbox
        check_zip "$2"
        ;;
    audit)
        [ $# = 2 ] || usage
        check_audit "$2"
        ;;
    *) usage ;;
esac
