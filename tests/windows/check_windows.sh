#!/usr/bin/env bash
# Checks one Windows build (MinGW-w64, 32- or 64-bit) of cpuprobe: what it asks of Windows, and,
# under Wine, how it behaves next to the Linux build of the same sources on the same machine:
#
#   Windows XP       every function the .exe files import is one that Windows XP exports
#                    (tests/windows/windows-xp-imports.txt), and each PE header asks for no later
#                    Windows (subsystem version 5.1, 5.2 for 64-bit: Windows XP x64); the same
#                    check is shown to refuse a program that imports GetTickCount64
#   report shape     18 lines, each ending in "\r\n" (stdout is a text stream), and no wait
#                    when stdin is at its end
#   same processor   vendor, name and flag lines equal the Linux build's
#   dump replay      what cpuprobe-dump.exe prints, saved by a redirection on Windows ("\r\n"),
#                    gives the same processor lines through cpuprobe-sim.exe
#   bug reports      that dump as PowerShell 5.1 (UTF-16) and 7 save it; README.txt's cmd.exe
#                    lines run by cmd; cpuprobe-dump.exe on a console, leaving
#                    cpuprobe-dump.txt beside itself: each replays to the same processor
#   clock            the lowest of each build's runs (three, more while they differ) within 2%
#                    of each other
#   held output      a redirected stdout stays empty until the awaited character arrives
#   conformance      cpuprobe-sim.exe gives NAME.report, with "\r\n", for every dump NAME.txt
#
# Usage: tests/windows/check_windows.sh [--imports-only | --no-conformance] WIDTH
#        [WINDOWS_BUILD [LINUX_BUILD [PROCESSORS_DIR]]]
# WIDTH is 32 or 64. --imports-only makes the Windows XP checks alone, which need no Wine (for a
# machine that cannot run Wine of that width; no Linux build is needed then). --no-conformance
# leaves out the last check, for programs whose cpuprobe-sim.exe another run has already put
# through it (a release zip's, which holds none of its own). Defaults: build-win32 or
# build-win64, build-mingw-linux and tests/data/processors, relative to the repository. The Wine prefix, of the same width and set
# to report Windows XP, lives in WINDOWS_BUILD/wineprefix and is created on first use.
set -euo pipefail
export LC_ALL=C

readonly REPORT_LINES=18
readonly PROGRAMS="cpuprobe cpuprobe-dump cpuprobe-sim"
# A run's clock is off from the processor's only where the machine held it up, unseen, within a
# step of the tick as its wait started or ended (by less than one step in 500 ms, low or high,
# when the machine is busy), so the lowest of a few runs is the least disturbed. Measured (with
# the 1.2.0 build) on a 2-core machine already running two other builds: every run within 1% of
# the lowest and the lowest of three of each build within 0.11% of each other; with two busy
# loops added, runs up to 3.1% high and the lowest of three within 0.83%; with four, runs up to
# 6.2% high and the lowest of five of one build still 2.6% high. So both builds run at least
# three times, and as long as their lowest differ by more than the bound, again, up to twelve
# times; a clean run of each turns up within a few.
readonly CLOCK_TOLERANCE_PERCENT=2
readonly CLOCK_MIN_RUNS=3 CLOCK_MAX_RUNS=12
readonly PATIENCE_SECONDS=60 # the bound after which a run that should have ended counts as hung
readonly POLL_SECONDS=0.05

fail() {
    printf 'FAILED: %s\n' "$*" >&2
    exit 1
}

imports_only=false
conformance=true
case "${1:-}" in
    --imports-only) imports_only=true && shift ;;
    --no-conformance) conformance=false && shift ;;
esac
width=${1:-}
case "$width" in
    32)
        readonly TRIPLET=i686-w64-mingw32
        readonly WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
        readonly WINE_ARCH=win32 WINE_VERSION=winxp PE_FORMAT=pei-i386
        readonly SUBSYSTEM_MAJOR=5 SUBSYSTEM_MINOR=1 # Windows XP
        readonly READ_SYSCALL=3                      # read() of 32-bit x86 Linux
        ;;
    64)
        readonly TRIPLET=x86_64-w64-mingw32
        readonly WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
        readonly WINE_ARCH=win64 WINE_VERSION=winxp64 PE_FORMAT=pei-x86-64
        readonly SUBSYSTEM_MAJOR=5 SUBSYSTEM_MINOR=2 # Windows XP x64 and Server 2003
        readonly READ_SYSCALL=0                      # read() of x86-64 Linux
        ;;
    *) fail "the first argument must be the width, 32 or 64, not '$width'" ;;
esac
readonly OBJDUMP=$TRIPLET-objdump CC=$TRIPLET-gcc-win32

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
readonly ALLOWLIST=$repo/tests/windows/windows-xp-imports.txt
windows_build=$(realpath "${2:-$repo/build-win$width}")
linux_build=$(realpath "${3:-$repo/build-mingw-linux}")
dumps_dir=$(realpath "${4:-$repo/tests/data/processors}")

export WINEPREFIX="$windows_build/wineprefix" WINESERVER
export WINEDEBUG=-all
# No .NET or HTML engine is needed, and without these the first start would offer to fetch them.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d)
server_started=0
cleanup() {
    if [ "$server_started" = 1 ]; then
        "$WINESERVER" -k 2>/dev/null || true
    fi
    stop_leftover_wine_processes
    rm -rf "$work"
}
trap cleanup EXIT

# Wine processes of this prefix that outlived their server (a service caught starting while
# its server was stopped hangs on forever). Each holds copies of this script's descriptors and
# would keep a caller waiting for the end of its output.
stop_leftover_wine_processes() {
    local environ pid
    while IFS= read -r environ; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        case "$(readlink "/proc/$pid/exe" 2>/dev/null)" in
            /usr/lib/wine/wine | /usr/lib/wine/wine64 | /usr/lib/wine/wineserver32 | \
                /usr/lib/wine/wineserver64)
                echo "stopping a leftover Wine process: $pid $(tr '\0' ' ' <"/proc/$pid/cmdline")"
                kill -KILL "$pid" 2>/dev/null || true
                ;;
        esac
    done < <(grep -lzx "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null)
}

step() { printf '\n--- %s-bit: %s\n' "$width" "$*"; }
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

# The functions the allowlist grants this width, one DLL!Function a line, sorted. Fails naming
# every line that is not of the list's form, so a typing slip cannot quietly grant nothing.
allowed_imports() {
    awk -v width="$width" -v list="$ALLOWLIST" '
        /^#/ || NF == 0 { next }
        $1 !~ /^[a-z0-9]+\.dll![A-Za-z0-9_]+$/ || $2 !~ /^(32|64|32,64)$/ || NF < 3 {
            printf "%s:%d: not \"dll!Function WIDTHS FIRST-WINDOWS\": %s\n", list, NR, $0 \
                >"/dev/stderr"
            malformed = 1
            next
        }
        index("," $2 ",", "," width ",") { print $1 }
        END { exit malformed }' "$ALLOWLIST" | sort -u
}

# shellcheck source=tests/windows/pe_header.sh
source "$repo/tests/windows/pe_header.sh"

# The header of a .exe as `objdump -p` prints it.
pe_header() {
    "$OBJDUMP" -p "$1" || fail "$OBJDUMP cannot read $1"
}

# Prints what in the header on stdin would keep a .exe from starting on Windows XP, a line
# each: another machine, a subsystem version above Windows XP's, and every import not on the
# allowlist. Prints nothing when the .exe fits.
xp_problems() {
    local header major minor imports
    header=$(cat)
    grep -q "file format $PE_FORMAT\$" <<<"$header" ||
        echo "not a $width-bit Windows program: $(sed -n 's/.*file format //p' <<<"$header")"
    major=$(header_field MajorSubsystemVersion <<<"$header")
    minor=$(header_field MinorSubsystemVersion <<<"$header")
    if [ -z "$major" ] || [ -z "$minor" ]; then
        echo "no subsystem version in its header"
    elif [ $((major * 100 + minor)) -gt $((SUBSYSTEM_MAJOR * 100 + SUBSYSTEM_MINOR)) ]; then
        echo "subsystem version $major.$minor, above Windows XP's $SUBSYSTEM_MAJOR.$SUBSYSTEM_MINOR"
    fi
    imports=$(imports_in_header <<<"$header")
    [ -n "$imports" ] || echo "no imports found, not even KERNEL32's"
    comm -23 <(printf '%s\n' "$imports") "$work/allowed.txt" |
        prefix_lines "not on the Windows XP list: "
}

# One line for the log from a header on stdin: subsystem version and functions per DLL.
summarize_header() {
    local header
    header=$(cat)
    printf 'subsystem %s.%s, imports %s\n' \
        "$(header_field MajorSubsystemVersion <<<"$header")" \
        "$(header_field MinorSubsystemVersion <<<"$header")" \
        "$(imports_in_header <<<"$header" | cut -d'!' -f1 | uniq -c | awk '{ print $2 ": " $1 }' |
            paste -sd ',' | sed 's/,/, /g')"
}

prefix_lines() {
    local line
    while IFS= read -r line; do
        printf '%s%s\n' "$1" "$line"
    done
}

check_windows_xp() {
    step "Windows XP: each .exe imports only what Windows XP exports and asks for no later Windows"
    allowed_imports >"$work/allowed.txt" || fail "$ALLOWLIST has malformed lines (see above)"
    local name exe header problems failed=0
    for name in $PROGRAMS; do
        exe="$windows_build/$name.exe"
        [ -f "$exe" ] || fail "no $exe: build it with --target cpuprobe cpuprobe-sim cpuprobe-dump"
        header=$(pe_header "$exe")
        echo "$name.exe: $(summarize_header <<<"$header")"
        problems=$(xp_problems <<<"$header")
        if [ -n "$problems" ]; then
            prefix_lines "  $name.exe: " <<<"$problems" >&2
            failed=1
        fi
    done
    [ "$failed" = 0 ] || fail "a .exe imports what the Windows XP list lacks or asks for a later" \
        "Windows (see above; $ALLOWLIST says how to add a function)"
}

# The same check on a program built here to need Windows Vista: it must name both reasons.
check_the_check_refuses_vista() {
    step "Windows XP: the same check refuses a program that needs Windows Vista"
    printf '#include <windows.h>\nint main(void) { return (int)(GetTickCount64() & 1); }\n' \
        >"$work/vista.c"
    "$CC" -D_WIN32_WINNT=0x0600 -Wl,--major-subsystem-version,6,--minor-subsystem-version,0 \
        "$work/vista.c" -o "$work/vista.exe" || fail "$CC could not build the Vista program"
    local header problems expected
    header=$(pe_header "$work/vista.exe")
    problems=$(xp_problems <<<"$header")
    for expected in "not on the Windows XP list: kernel32.dll!GetTickCount64" \
        "subsystem version 6.0"; do
        grep -qF "$expected" <<<"$problems" ||
            fail "for a program needing Vista, the check did not report \"$expected\";" \
                "it said: $problems"
    done
    prefix_lines "refused: " <<<"$problems"
}

# Runs one Windows program to its end with stdin at end of file; fails when it does not end.
run_exe() {
    local exe=$1 out=$2 status=0
    timeout "$PATIENCE_SECONDS" "$WINE" "$exe" </dev/null >"$out" 2>"$out.err" || status=$?
    if [ "$status" = 124 ]; then
        fail "$(basename "$exe") did not end within $PATIENCE_SECONDS s with stdin at end of file"
    fi
}

# Creates the prefix: a Windows of this width that reports itself as Windows XP.
create_prefix() {
    local started
    started=$(now_ms)
    WINEARCH=$WINE_ARCH "$WINE" wineboot -i >/dev/null 2>&1 ||
        fail "wineboot could not create $WINEPREFIX"
    "$WINE" winecfg -v "$WINE_VERSION" >/dev/null 2>&1 || fail "winecfg could not set $WINE_VERSION"
    echo "created the prefix in $(($(now_ms) - started)) ms"
}

start_wine() {
    step "Wine: a $WINE_ARCH prefix reporting $WINE_VERSION, and a persistent server"
    local started
    if [ ! -d "$WINEPREFIX" ]; then
        create_prefix
    elif ! grep -qx "#arch=$WINE_ARCH" "$WINEPREFIX/system.reg" 2>/dev/null; then
        fail "$WINEPREFIX is not a $WINE_ARCH prefix: remove it and it is made anew"
    else
        echo "reusing the prefix $WINEPREFIX"
    fi
    # Servers end on their own once their last program has ended; one stopped while its
    # services are still starting can leave one of them hanging.
    "$WINESERVER" -w
    # One start with no server running shows what every process would pay without one.
    printf '@no-cpuid\n' >"$work/no-cpuid.txt"
    started=$(now_ms)
    CPUPROBE_SCENARIO="Z:$work/no-cpuid.txt" run_exe "$windows_build/cpuprobe-sim.exe" \
        "$work/cold.txt"
    echo "one run of cpuprobe-sim.exe without a running server: $(($(now_ms) - started)) ms"
    "$WINESERVER" -w
    "$WINESERVER" -p || fail "could not start a persistent wineserver"
    server_started=1
    # The first process of a server also starts Wine's own services; later ones find them.
    local run
    for run in first second; do
        started=$(now_ms)
        CPUPROBE_SCENARIO="Z:$work/no-cpuid.txt" run_exe "$windows_build/cpuprobe-sim.exe" \
            "$work/warm.txt"
        echo "$run run of cpuprobe-sim.exe with the persistent server: $(($(now_ms) - started)) ms"
    done
    # The Windows version the programs are told they run on.
    "$WINE" cmd /c ver </dev/null 2>/dev/null | tr -d '\r' | grep . || true
}

# Runs each build of the tool once more with stdin at end of file, keeping the reports as
# windows-N.txt and linux-N.txt.
runs=0
run_both_builds_again() {
    local status=0
    runs=$((runs + 1))
    run_exe "$windows_build/cpuprobe.exe" "$work/windows-$runs.txt"
    timeout "$PATIENCE_SECONDS" "$linux_build/cpuprobe" </dev/null >"$work/linux-$runs.txt" ||
        status=$?
    [ "$status" != 124 ] || fail "the Linux build did not end with stdin at end of file"
}

run_both_builds() {
    while [ "$runs" -lt "$CLOCK_MIN_RUNS" ]; do
        run_both_builds_again
    done
}

# Exits 0 when the report in $1 is 18 lines, every one ending in exactly one "\r\n".
has_crlf_report_shape() {
    [ "$(wc -l <"$1")" = "$REPORT_LINES" ] &&
        cmp -s <(tr -d '\r' <"$1" | sed 's/$/\r/') "$1" &&
        [ "$(sed -n 5p "$1")" = $'\r' ]
}

check_report_shape() {
    step "report: $REPORT_LINES lines ending in \\r\\n, no wait at end of input"
    local run
    for run in $(seq "$runs"); do
        if ! has_crlf_report_shape "$work/windows-$run.txt"; then
            od -c "$work/windows-$run.txt" | head -20 >&2
            fail "cpuprobe.exe did not print $REPORT_LINES lines each ending in one \\r\\n"
        fi
    done
    cat "$work/windows-1.txt"
}

check_same_processor() {
    step "same processor: all lines but the clock equal the Linux build's"
    if ! diff <(tr -d '\r' <"$work/windows-1.txt" | sed 4d) <(sed 4d "$work/linux-1.txt"); then
        fail "the Windows build (<) and the Linux build (>) describe the processor differently"
    fi
    echo "identical"
}

# The way a processor's answers reach a bug report from Windows: `cpuprobe-dump.exe > dump.txt`.
check_dump_replay() {
    step "dump replay: cpuprobe-dump.exe's output through cpuprobe-sim.exe gives the same processor"
    run_exe "$windows_build/cpuprobe-dump.exe" "$work/dump.txt"
    CPUPROBE_SCENARIO="Z:$work/dump.txt" run_exe "$windows_build/cpuprobe-sim.exe" \
        "$work/replayed.txt"
    if ! diff <(sed 4d "$work/replayed.txt") <(sed 4d "$work/windows-1.txt"); then
        fail "cpuprobe-sim.exe on the dump (<) and cpuprobe.exe (>) describe the processor" \
            "differently"
    fi
    echo "$(grep -c ' eax=' "$work/dump.txt") leaves, replayed to the same processor lines"
}

# --- The ways a Windows user sends a bug report, as the zip's README.txt gives them ---------

# The processor lines (all but the clock) of a report, without carriage returns.
processor_lines() { tr -d '\r' <"$1" | head -n "$REPORT_LINES" | sed 4d; }

# Fails unless the dump file replays through cpuprobe-sim.exe to cpuprobe.exe's processor.
expect_replays_to_same_processor() {
    local dump=$1 what=$2
    CPUPROBE_SCENARIO="Z:$dump" run_exe "$windows_build/cpuprobe-sim.exe" "$dump.replayed"
    diff <(processor_lines "$dump.replayed") <(processor_lines "$work/windows-1.txt") ||
        fail "$what (<) replays to another processor than cpuprobe.exe's (>)"
}

# The dump as the shells save `cpuprobe-dump.exe > dump.txt`: Windows PowerShell 5.1 decodes the
# program's lines and writes them as UTF-16 little-endian after a byte-order mark; PowerShell 7
# writes UTF-8 without one (7.0 to 7.3 re-encode the lines, 7.4 keeps the program's bytes),
# which for this ASCII dump are cmd.exe's bytes. Each must replay to the same processor.
check_shell_saved_dumps() {
    step "dump replay: the dump as Windows PowerShell 5.1 and PowerShell 7 save it"
    { printf '\xff\xfe' && iconv -f UTF-8 -t UTF-16LE "$work/dump.txt"; } >"$work/dump-ps51.txt"
    expect_replays_to_same_processor "$work/dump-ps51.txt" "the UTF-16 dump of PowerShell 5.1"
    cp "$work/dump.txt" "$work/dump-ps7.txt"
    expect_replays_to_same_processor "$work/dump-ps7.txt" "the UTF-8 dump of PowerShell 7"
    echo "both replay to the same processor lines"
}

# The README.txt of this build: the zip's own, beside its programs, or its source.
readme_txt() {
    if [ -f "$windows_build/README.txt" ]; then
        echo "$windows_build/README.txt"
    else
        echo "$repo/windows/README.txt"
    fi
}

# The command lines README.txt gives for cmd.exe, run by Wine's cmd in a folder of their own
# holding the programs: the report must be held whole in its file, the dump replay.
check_cmd_forms() {
    local readme lines folder=$work/cmd-folder line
    readme=$(readme_txt)
    step "cmd.exe: the bug-report lines of $(basename "$(dirname "$readme")")/README.txt"
    lines=$(tr -d '\r' <"$readme" | grep -oE 'cpuprobe(-dump)?\.exe [<>][^ ]+( [<>][^ ]+)?' |
        sort -u)
    if ! grep -qx 'cpuprobe.exe <nul >report.txt' <<<"$lines" ||
        ! grep -qx 'cpuprobe-dump.exe >dump.txt' <<<"$lines"; then
        fail "README.txt lacks the cmd.exe lines for report.txt and dump.txt; it has: $lines"
    fi
    mkdir -p "$folder"
    cp "$windows_build/cpuprobe.exe" "$windows_build/cpuprobe-dump.exe" "$folder/"
    while IFS= read -r line; do
        echo "cmd /c $line"
        (cd "$folder" && timeout "$PATIENCE_SECONDS" "$WINE" cmd /c "$line" </dev/null) ||
            fail "cmd.exe: '$line' failed or did not end"
    done <<<"$lines"
    has_crlf_report_shape "$folder/report.txt" ||
        fail "cmd.exe: report.txt is not $REPORT_LINES lines ending in CRLF"
    expect_replays_to_same_processor "$folder/dump.txt" "cmd.exe's dump.txt"
    echo "report.txt holds the report, dump.txt replays to the same processor"
}

# True once the console shows the dumper's prompt for Enter (Wine draws the console with
# escape sequences, and its blanks as cursor moves).
console_asks_for_enter() {
    sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$1" | tr -d ' ' | grep -q 'PressEntertoclose'
}

# A double click gives cpuprobe-dump.exe a console of its own: here Wine's, on a terminal that
# `script` makes. It must leave cpuprobe-dump.txt beside itself, in a folder it was not started
# from, holding the report and the dump, show where, and end on Enter (a console's Enter is a
# carriage return).
check_dump_on_console() {
    step "console: cpuprobe-dump.exe leaves cpuprobe-dump.txt beside itself and waits for Enter"
    local folder=$work/console-folder screen=$work/console.txt fifo=$work/console-keys pid writer
    mkdir -p "$folder"
    cp "$windows_build/cpuprobe-dump.exe" "$folder/"
    mkfifo "$fifo"
    exec {writer}<>"$fifo"
    (cd "$work" && script -qec "$WINE $folder/cpuprobe-dump.exe" /dev/null <"$fifo" >"$screen" \
        2>&1 {writer}>&-) &
    pid=$!
    wait_or_fail "$pid" \
        "cpuprobe-dump.exe on a console did not ask for Enter within $PATIENCE_SECONDS s" \
        console_asks_for_enter "$screen"
    printf '\r' >&"$writer"
    wait_or_fail "$pid" "cpuprobe-dump.exe on a console did not end on Enter" is_gone "$pid"
    exec {writer}>&-
    local file=$folder/cpuprobe-dump.txt
    [ -f "$file" ] || fail "no cpuprobe-dump.txt beside cpuprobe-dump.exe"
    awk '!/\r$/ { bare++ } END { exit bare > 0 }' "$file" ||
        fail "cpuprobe-dump.txt has lines not ending in CRLF"
    diff <(processor_lines "$file") <(processor_lines "$work/windows-1.txt") ||
        fail "cpuprobe-dump.txt does not start with the report of cpuprobe.exe"
    expect_replays_to_same_processor "$file" "cpuprobe-dump.txt"
    sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$screen" | grep -qF 'cpuprobe-dump.txt' ||
        fail "the console did not show where cpuprobe-dump.txt is"
    echo "cpuprobe-dump.txt: the report and $(grep -c ' eax=' "$file") leaves; it replays"
}

# The clock line's values, in MHz, of one build's runs (with or without carriage returns).
clocks_of() {
    local run
    for run in $(seq "$runs"); do
        sed -n 's/^CpuClock \([0-9.]*\)MHz\r\{0,1\}$/\1/p' "$work/$1-$run.txt"
    done
}

lowest_clock_of() { clocks_of "$1" | sort -g | head -1; }

# Prints how far the Windows build's lowest clock is from the Linux build's, in percent, and
# exits 0 when that is within the bound.
compare_lowest_clocks() {
    awk -v w="$(lowest_clock_of windows)" -v l="$(lowest_clock_of linux)" \
        -v tol="$CLOCK_TOLERANCE_PERCENT" 'BEGIN {
        if (w <= 0 || l <= 0) { print "no clock measured"; exit 1 }
        off = (w - l) / l * 100; printf "%+.2f%%\n", off
        exit (off < -tol || off > tol) }'
}

# The runs of one build, their lowest and their spread, (highest - lowest) / lowest.
describe_clocks() {
    clocks_of "$1" | awk '{ all = all sep $1; sep = " " }
        NR == 1 || $1 < low { low = $1 }
        NR == 1 || $1 > high { high = $1 }
        END { printf "%s MHz, lowest %s, spread %.2f%%\n", all, low, (high - low) / low * 100 }'
}

check_clock() {
    step "clock: the lowest of each build's runs within $CLOCK_TOLERANCE_PERCENT% of each other"
    while ! compare_lowest_clocks >/dev/null && [ "$runs" -lt "$CLOCK_MAX_RUNS" ]; do
        run_both_builds_again
    done
    echo "Windows build: $(describe_clocks windows)"
    echo "Linux build:   $(describe_clocks linux)"
    echo "after $runs runs of each, the lowest differ by $(compare_lowest_clocks || true)"
    compare_lowest_clocks >/dev/null ||
        fail "the Windows build's clock is off: is its millisecond tick in milliseconds?"
}

# True when a thread of process $1 is blocked in read() on the file $2 (Wine reads stdin
# through a duplicate of descriptor 0, so the descriptor number varies).
is_reading() {
    local pid=$1 file=$2 task call fd
    for task in /proc/"$pid"/task/*; do
        read -r call fd _ <"$task/syscall" 2>/dev/null || continue
        [ "$call" = "$READ_SYSCALL" ] || continue
        [ "$(readlink "/proc/$pid/fd/$((fd))" 2>/dev/null)" = "$file" ] && return 0
    done
    return 1
}

# Polls until the condition command succeeds; fails after PATIENCE_SECONDS.
wait_until() {
    local deadline=$(($(now_ms) + PATIENCE_SECONDS * 1000))
    until "$@"; do
        [ "$(now_ms)" -lt "$deadline" ] || return 1
        sleep "$POLL_SECONDS"
    done
}

is_gone() { ! kill -0 "$1" 2>/dev/null; }

# Stops the program PID and fails the check with MESSAGE.
stop_and_fail() {
    kill "$1" 2>/dev/null || true
    fail "$2"
}

# Waits until the condition command succeeds; where it does not in time, stops the program PID
# and fails with MESSAGE.
wait_or_fail() {
    local pid=$1 message=$2
    shift 2
    wait_until "$@" || stop_and_fail "$pid" "$message"
}

check_held_output() {
    step "held output: a redirected stdout stays empty until the awaited character"
    local fifo="$work/stdin" out="$work/held.txt" pid writer
    cat /proc/self/syscall >/dev/null 2>&1 ||
        fail "this system does not show /proc/PID/syscall, which tells when the tool waits on stdin"
    mkfifo "$fifo"
    exec {writer}<>"$fifo" # held open, so the tool sees no end of input
    "$WINE" "$windows_build/cpuprobe.exe" <"$fifo" >"$out" {writer}>&- &
    pid=$!
    wait_or_fail "$pid" "cpuprobe.exe did not start reading stdin within $PATIENCE_SECONDS s" \
        is_reading "$pid" "$fifo"
    echo "cpuprobe.exe is blocked reading stdin; stdout holds $(wc -c <"$out") bytes"
    if [ -s "$out" ]; then
        stop_and_fail "$pid" "the report reached the redirected stdout before the awaited character"
    fi
    printf 'x' >&"$writer"
    wait_or_fail "$pid" "cpuprobe.exe did not end within $PATIENCE_SECONDS s of its character" \
        is_gone "$pid"
    wait "$pid" || true # the exit status carries no meaning
    exec {writer}>&-
    has_crlf_report_shape "$out" || fail "after the character, stdout does not hold the report"
    echo "after the character: the whole report, $(wc -c <"$out") bytes"
}

# One dump through cpuprobe-sim.exe (run by xargs, in parallel). A run that printed nothing at
# all, not even a word on stderr, is Wine failing to start the program (seen once in some
# thousands of runs on a loaded machine), not the program: it is run once more, and the retry
# is noted in the log. Any other difference, or an empty second run, fails.
check_one_dump() {
    local dump=$1 name out status=0
    name=${dump#"$dumps_dir"/}
    out="$work/dumps/${name//\//_}"
    local attempt
    for attempt in first second; do
        status=0
        CPUPROBE_SCENARIO="Z:$dump" "$WINE" "$windows_build/cpuprobe-sim.exe" </dev/null \
            >"$out.out" 2>"$out.err" || status=$?
        if [ -s "$out.out" ] || [ -s "$out.err" ]; then
            break
        fi
        echo "$name: Wine started nothing on the $attempt run (status $status)" >>"$out.retried"
    done
    sed 's/$/\r/' "${dump%.txt}.report" >"$out.expected"
    if ! cmp -s "$out.expected" "$out.out"; then
        {
            echo "== $name (status $status)"
            cat "$out.err"
            diff <(od -c "$out.expected") <(od -c "$out.out") | head -20
        } >"$out.failed"
    fi
}

check_conformance() {
    step "conformance: cpuprobe-sim.exe on every dump in $dumps_dir"
    [ -d "$dumps_dir" ] || fail "no dumps folder at $dumps_dir (give it as the fourth argument)"
    mkdir "$work/dumps"
    export -f check_one_dump
    export dumps_dir work windows_build WINE
    local count failures started
    count=$(find "$dumps_dir" -name '*.txt' | wc -l)
    [ "$count" -gt 0 ] || fail "no NAME.txt under $dumps_dir"
    started=$(now_ms)
    # shellcheck disable=SC2016 # "$1" is the argument of the shell that xargs starts
    find "$dumps_dir" -name '*.txt' -print0 | sort -z |
        xargs -0 -n 1 -P 2 bash -c 'check_one_dump "$1"' check_one_dump
    echo "$count dumps in $(($(now_ms) - started)) ms, 2 at a time"
    find "$work/dumps" -name '*.retried' -exec cat {} +
    failures=$(find "$work/dumps" -name '*.failed' | wc -l)
    if [ "$failures" != 0 ]; then
        find "$work/dumps" -name '*.failed' | sort | head -5 | xargs cat >&2
        fail "$failures of $count dumps gave another report than NAME.report with \\r\\n"
    fi
    echo "all $count reports equal"
}

for tool in "$OBJDUMP" "$CC"; do
    command -v "$tool" >/dev/null || fail "no $tool: see .ci/windows.sh for the packages"
done

started=$SECONDS
check_windows_xp
check_the_check_refuses_vista
if $imports_only; then
    step "the Windows XP checks passed in $((SECONDS - started)) s;" \
        "nothing run under Wine (--imports-only)"
    exit 0
fi

[ -x "$linux_build/cpuprobe" ] || fail "no $linux_build/cpuprobe: build the Linux tool first"
for tool in "$WINE" "$WINESERVER"; do
    command -v "$tool" >/dev/null || fail "no $tool: see .ci/windows.sh for the packages"
done
start_wine
run_both_builds
check_report_shape
check_same_processor
check_dump_replay
check_shell_saved_dumps
check_cmd_forms
check_dump_on_console
check_clock
check_held_output
if $conformance; then
    check_conformance
else
    step "conformance: left out (--no-conformance)"
fi
step "all Windows checks passed in $((SECONDS - started)) s"
