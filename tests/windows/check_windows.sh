#!/usr/bin/env bash
# Checks the Windows build (MinGW-w64) of cpuprobe under Wine, against the Linux build of the
# same sources on the same machine:
#
#   static linking   the .exe files import only DLLs that every Windows system has
#   report shape     18 lines, each ending in "\r\n" (stdout is a text stream), and no wait
#                    when stdin is at its end
#   same processor   vendor, name and flag lines equal the Linux build's
#   clock            within 2% of the Linux build's (both spin on their own millisecond tick)
#   held output      a redirected stdout stays empty until the awaited character arrives
#   conformance      cpuprobe-sim.exe gives NAME.report, with "\r\n", for every dump NAME.txt
#
# Usage: tests/windows/check_windows.sh [WINDOWS_BUILD [LINUX_BUILD [PROCESSORS_DIR]]]
# Defaults: build-mingw, build-mingw-linux and tests/data/processors, relative to the
# repository. The Wine prefix lives in WINDOWS_BUILD/wineprefix and is created on first use.
set -euo pipefail

readonly WINE=/usr/lib/wine/wine64  # both from Debian's wine64 package
readonly WINESERVER=/usr/lib/wine/wineserver64
readonly REPORT_LINES=18
# What a Windows system always has: its kernel, C runtime (old or universal) and multimedia timer.
readonly SYSTEM_DLLS='kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+|winmm'
readonly CLOCK_TOLERANCE_PERCENT=2
readonly CLOCK_RUNS=3        # each side; the median is compared, so one preempted run is harmless
readonly PATIENCE_SECONDS=60 # the bound after which a run that should have ended counts as hung
readonly POLL_SECONDS=0.05

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
windows_build=$(realpath "${1:-$repo/build-mingw}")
linux_build=$(realpath "${2:-$repo/build-mingw-linux}")
dumps_dir=$(realpath "${3:-$repo/tests/data/processors}")

export WINEPREFIX="$windows_build/wineprefix"
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
    for environ in $(grep -lzx "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null); do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        case "$(readlink "/proc/$pid/exe" 2>/dev/null)" in
            "$WINE" | "$WINESERVER")
                echo "stopping a leftover Wine process: $pid $(tr '\0' ' ' <"/proc/$pid/cmdline")"
                kill -KILL "$pid" 2>/dev/null || true
                ;;
        esac
    done
}

step() { printf '\n--- %s\n' "$*"; }
fail() {
    printf 'FAILED: %s\n' "$*" >&2
    exit 1
}
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

# Runs one Windows program to its end with stdin at end of file; fails when it does not end.
run_exe() {
    local exe=$1 out=$2 status=0
    timeout "$PATIENCE_SECONDS" "$WINE" "$exe" </dev/null >"$out" 2>"$out.err" || status=$?
    if [ "$status" = 124 ]; then
        fail "$(basename "$exe") did not end within $PATIENCE_SECONDS s with stdin at end of file"
    fi
}

# The value of the clock line, in MHz, from a report with or without carriage returns.
clock_of() { sed -n 's/^CpuClock \([0-9.]*\)MHz\r\{0,1\}$/\1/p' "$1"; }

median() { sort -g | sed -n "$(((CLOCK_RUNS + 1) / 2))p"; }

# Exits 0 when the report in $1 is 18 lines, every one ending in exactly one "\r\n".
has_crlf_report_shape() {
    [ "$(wc -l <"$1")" = "$REPORT_LINES" ] &&
        tr -d '\r' <"$1" | sed 's/$/\r/' | cmp -s - "$1" &&
        [ "$(sed -n 5p "$1")" = $'\r' ]
}

check_static_linking() {
    step "static linking: the .exe files import only system DLLs"
    local exe dlls unexpected
    for exe in "$windows_build"/*.exe; do
        dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
        echo "$(basename "$exe") imports: $(tr "\n" " " <<<"$dlls")"
        unexpected=$(grep -viE "^($SYSTEM_DLLS)\.dll\$" <<<"$dlls" || true)
        [ -z "$unexpected" ] || fail "$(basename "$exe") needs DLLs that Windows lacks: $unexpected"
    done
}

start_wine() {
    step "Wine: prefix and persistent server"
    local started
    if [ ! -d "$WINEPREFIX" ]; then
        started=$(now_ms)
        "$WINE" wineboot -i >/dev/null 2>&1 || fail "wineboot could not create $WINEPREFIX"
        echo "created the prefix in $(($(now_ms) - started)) ms"
    else
        echo "reusing the prefix $WINEPREFIX"
    fi
    # Servers end on their own once their last program has ended; one stopped while its
    # services are still starting can leave one of them hanging.
    "$WINESERVER" -w
    # One start with no server running shows what every process would pay without one.
    printf '@no-cpuid\n' >"$work/no-cpuid.txt"
    started=$(now_ms)
    CPUPROBE_SCENARIO="Z:$work/no-cpuid.txt" run_exe "$windows_build/cpuprobe-sim.exe" "$work/cold.txt"
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
}

# Runs both builds of the tool a few times with stdin at end of file, keeping every report.
run_both_builds() {
    local run status
    for run in $(seq "$CLOCK_RUNS"); do
        run_exe "$windows_build/cpuprobe.exe" "$work/windows-$run.txt"
        status=0
        timeout "$PATIENCE_SECONDS" "$linux_build/cpuprobe" </dev/null >"$work/linux-$run.txt" ||
            status=$?
        [ "$status" != 124 ] || fail "the Linux build did not end with stdin at end of file"
    done
}

check_report_shape() {
    step "report: $REPORT_LINES lines ending in \\r\\n, no wait at end of input"
    local run
    for run in $(seq "$CLOCK_RUNS"); do
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

check_clock() {
    step "clock: within $CLOCK_TOLERANCE_PERCENT% of the Linux build's"
    local windows linux
    windows=$(for run in $(seq "$CLOCK_RUNS"); do clock_of "$work/windows-$run.txt"; done | median)
    linux=$(for run in $(seq "$CLOCK_RUNS"); do clock_of "$work/linux-$run.txt"; done | median)
    echo "median of $CLOCK_RUNS runs: Windows build $windows MHz, Linux build $linux MHz"
    awk -v w="$windows" -v l="$linux" -v tol="$CLOCK_TOLERANCE_PERCENT" 'BEGIN {
        if (l <= 0) { print "the Linux build measured no clock"; exit 1 }
        off = (w - l) / l * 100; printf "difference %+.2f%%\n", off
        exit (off < -tol || off > tol) }' ||
        fail "the Windows build's clock is off: is its millisecond tick in milliseconds?"
}

# True when a thread of process $1 is blocked in read() on the file $2 (Wine reads stdin
# through a duplicate of descriptor 0, so the descriptor number varies).
is_reading() {
    local pid=$1 file=$2 task call fd
    for task in /proc/"$pid"/task/*; do
        read -r call fd _ <"$task/syscall" 2>/dev/null || continue
        [ "$call" = 0 ] || continue # 0 is read() on x86-64
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

check_held_output() {
    step "held output: a redirected stdout stays empty until the awaited character"
    local fifo="$work/stdin" out="$work/held.txt" pid writer
    cat /proc/self/syscall >/dev/null 2>&1 ||
        fail "this system does not show /proc/PID/syscall, which tells when the tool waits on stdin"
    mkfifo "$fifo"
    exec {writer}<>"$fifo" # held open, so the tool sees no end of input
    "$WINE" "$windows_build/cpuprobe.exe" <"$fifo" >"$out" {writer}>&- &
    pid=$!
    if ! wait_until is_reading "$pid" "$fifo"; then
        kill "$pid" 2>/dev/null || true
        fail "cpuprobe.exe did not start reading stdin within $PATIENCE_SECONDS s"
    fi
    echo "cpuprobe.exe is blocked reading stdin; stdout holds $(wc -c <"$out") bytes"
    if [ -s "$out" ]; then
        kill "$pid" 2>/dev/null || true
        fail "the report reached the redirected stdout before the awaited character"
    fi
    printf 'x' >&"$writer"
    if ! wait_until is_gone "$pid"; then
        kill "$pid" 2>/dev/null || true
        fail "cpuprobe.exe did not end within $PATIENCE_SECONDS s of its character"
    fi
    wait "$pid" || true # the exit status carries no meaning
    exec {writer}>&-
    has_crlf_report_shape "$out" || fail "after the character, stdout does not hold the report"
    echo "after the character: the whole report, $(wc -c <"$out") bytes"
}

# One dump through cpuprobe-sim.exe (run by xargs, in parallel).
check_one_dump() {
    local dump=$1 name out
    name=${dump#"$dumps_dir"/}
    out="$work/dumps/${name//\//_}"
    CPUPROBE_SCENARIO="Z:$dump" "$WINE" "$windows_build/cpuprobe-sim.exe" </dev/null \
        >"$out.out" 2>"$out.err" || true
    sed 's/$/\r/' "${dump%.txt}.report" >"$out.expected"
    if ! cmp -s "$out.expected" "$out.out"; then
        {
            echo "== $name"
            cat "$out.err"
            diff <(od -c "$out.expected") <(od -c "$out.out") | head -20
        } >"$out.failed"
    fi
}

check_conformance() {
    step "conformance: cpuprobe-sim.exe on every dump in $dumps_dir"
    [ -d "$dumps_dir" ] || fail "no dumps folder at $dumps_dir (give it as the third argument)"
    mkdir "$work/dumps"
    export -f check_one_dump
    export dumps_dir work windows_build WINE
    local count failures started
    count=$(find "$dumps_dir" -name '*.txt' | wc -l)
    [ "$count" -gt 0 ] || fail "no NAME.txt under $dumps_dir"
    started=$(now_ms)
    find "$dumps_dir" -name '*.txt' -print0 | sort -z |
        xargs -0 -n 1 -P 2 bash -c 'check_one_dump "$1"' check_one_dump
    echo "$count dumps in $(($(now_ms) - started)) ms, 2 at a time"
    failures=$(find "$work/dumps" -name '*.failed' | wc -l)
    if [ "$failures" != 0 ]; then
        find "$work/dumps" -name '*.failed' | sort | head -5 | xargs cat >&2
        fail "$failures of $count dumps gave another report than NAME.report with \\r\\n"
    fi
    echo "all $count reports equal"
}

[ -x "$windows_build/cpuprobe.exe" ] || fail "no $windows_build/cpuprobe.exe: build it first"
[ -x "$linux_build/cpuprobe" ] || fail "no $linux_build/cpuprobe: build the Linux tool first"
[ -x "$WINE" ] || fail "no $WINE: install the wine64 package"

check_static_linking
start_wine
run_both_builds
check_report_shape
check_same_processor
check_clock
check_held_output
check_conformance
step "all Windows checks passed"
