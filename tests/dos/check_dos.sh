#!/usr/bin/env bash
# The DOS programs' checks that need DOSBox's console or the build's linker maps:
#
#   console DOS_FOLDER CPUPROBE_SIM [SETTING...]
#       Under DOSBox with the dosbox_run.sh options SETTING: CPUDUMP.COM on the console (as a
#       user starts it) writes CPUDUMP.TXT beside itself, in CR LF, starting with the report
#       CPUPROBE.COM gives and replaying, through cpuprobe-sim, to that report (but the clock,
#       which a dump does not hold); the screen says where the file is.
#   no-cpuid-path DOS_FOLDER CPUPROBE_SIM
#       The entry's own report for a processor without CPUID, which DOSBox cannot reach (it
#       has no 8086 or 286): a copy of CPUPROBE.COM whose first instruction jumps to it gives,
#       redirected, cpuprobe-sim's report for @no-cpuid in CR LF byte for byte after the
#       awaited character, and shows it on the console.
#   sizes DOS_FOLDER
#       Each program, its data and its stack end within the 64 KB segment of a .COM (the
#       linker map's __stack_top).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    printf 'check_dos: FAILED: %s\n' "$*" >&2
    exit 1
}
run() { bash "$here/dosbox_run.sh" --time-limit 30 "$@"; }
# A file's lines, or a screen's rows, as one line joined by "|", their trailing blanks left off.
joined() { tr -d '\r' <"$1" | sed 's/ *$//' | paste -sd '|'; }
no_cpuid_report() {
    printf '@no-cpuid\n' >"$work/no-cpuid.scenario"
    CPUPROBE_SCENARIO=$work/no-cpuid.scenario "$1" </dev/null | sed 's/$/\r/'
}

case ${1:-} in
    console)
        dos=$2 sim=$3
        shift 3
        run "$@" "$dos/CPUPROBE.COM" <<<"" >"$work/report.txt" || fail "CPUPROBE.COM: status $?"
        printf '\r\n' | run "$@" --console --after "$dos/SAVESCRN.COM" --files "$work/files" \
            "$dos/CPUDUMP.COM" || fail "CPUDUMP.COM on the console: status $?"
        file=$work/files/CPUDUMP.TXT
        [ -f "$file" ] || fail "CPUDUMP.COM on the console wrote no CPUDUMP.TXT"
        head -n "$(wc -l <"$work/report.txt")" "$file" | cmp - "$work/report.txt" ||
            fail "CPUDUMP.TXT does not start with CPUPROBE.COM's report"
        ! grep -qv $'\r$' "$file" || fail "CPUDUMP.TXT has lines not ended in CR LF"
        diff <(CPUPROBE_SCENARIO=$file "$sim" </dev/null | grep -v '^CpuClock') \
            <(tr -d '\r' <"$work/report.txt" | grep -v '^CpuClock') || fail "CPUDUMP.TXT replays to another report"
        [[ $(joined "$work/files/SCREEN.TXT") == *"saved in|  C:\\CPUDUMP.TXT|Attach that file"* ]] ||
            fail "the screen does not say where CPUDUMP.TXT is: $(cat "$work/files/SCREEN.TXT")"
        echo "CPUDUMP.TXT beside CPUDUMP.COM holds the report and replays to it; the screen says where" ;;
    no-cpuid-path)
        dos=$2 patched=$work/CPUPROBE.COM
        target=$(awk '$2 == "ProcessorWithoutCpuid" { print $1 }' "$dos/CPUPROBE.MAP")
        [ -n "$target" ] || fail "no ProcessorWithoutCpuid in $dos/CPUPROBE.MAP"
        # JMP near, an 8086 instruction: E9 and the distance from the next one, at 0x100.
        jump=$((target - 0x103))
        cp "$dos/CPUPROBE.COM" "$patched"
        printf '%b' "$(printf '\\x%02x' 0xe9 $((jump & 255)) $((jump >> 8 & 255)))" |
            dd of="$patched" bs=1 conv=notrunc status=none
        no_cpuid_report "$3" >"$work/expected.txt"
        printf '\r\n' | run "$patched" >"$work/report.txt" || fail "the entry's report: status $?"
        cmp "$work/report.txt" "$work/expected.txt" || fail "the entry's report is not cpuprobe-sim's"
        printf '\r\n' | run --console --after "$dos/SAVESCRN.COM" --files "$work/files" "$patched" ||
            fail "the entry's report on the console: status $?"
        [[ $(joined "$work/files/SCREEN.TXT") == *"$(joined "$work/expected.txt")"* ]] ||
            fail "the console does not show the entry's report: $(cat "$work/files/SCREEN.TXT")"
        echo "the entry's report for a processor without CPUID, redirected and on the console" ;;
    sizes)
        for program in CPUPROBE CPUDUMP; do
            top=$(awk '$2 == "__stack_top" { print $1 }' "$2/$program.MAP")
            printf '%s.COM: %d bytes; with its data and stack %d of the 65,536 of its segment\n' \
                "$program" "$(stat -c %s "$2/$program.COM")" "$((top))"
            [ -n "$top" ] && [ $((top)) -le 65520 ] || fail "$program.COM does not fit its segment"
        done ;;
    *) sed -n 's/^#   \([a-z-]*\) /usage: check_dos.sh \1 /p' "$0" >&2 && exit 2 ;;
esac
