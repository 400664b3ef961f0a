#!/usr/bin/env bash
# How close does cpuprobe's half-second clock measurement come to the truth, beside a peer?
#
# Runs the tool and the peer, libcpuid's `cpuid_tool --clock-rdtsc`, alternately, N runs each
# (input from /dev/null, so cpuprobe does not wait), and compares each figure with two
# references: tsc_reference, which times the same counter over a long window against
# CLOCK_MONOTONIC_RAW (before and after the runs, averaged), and the kernel's own calibration
# from its log, where that can be read. Alternating puts the tools through the same moments of
# the machine's load. Prints one table, the tools side by side: median and worst relative error
# against each reference, how many runs came within 0.005%, and the median and worst wall time
# of one run; then the cpuprobe runs beyond 0.005%, with the time each one's error implies it
# counted for. The header says where it ran, and whether tsc_reference is independent of the
# counter: not where the kernel's clock source is the counter itself (tsc).
#
# It is a measurement, not a test: it exits 0 once the table is printed, whatever the figures,
# and 1 only when a run could not be read.
#
# usage: clock_accuracy.sh --tool PATH --reference PATH [-n RUNS] [--window SECONDS]
#                          [--peer PATH | --no-peer] [--realtime] [--load N]
#                          [--baseline PATH] [--wine]
#
# -n RUNS          runs of each tool (default 20)
# --window SECONDS tsc_reference's window (default 5; a short one only for a smoke pass)
# --peer PATH      the cpuid_tool to run (default: cpuid_tool from PATH)
# --realtime       runs the tools under SCHED_FIFO (chrt -f 10, needs root)
# --load N         keeps N busy loops (sh -c 'while :; do :; done') running through the runs;
#                  they are stopped however the script ends
# --baseline PATH  another build of cpuprobe (an older one, say), run alternately with the
#                  others and shown in a column of its own: two builds under the same load
# --wine           --tool and --baseline are Windows builds, run under wine64 in $WINEPREFIX
#                  or a prefix of its own, which a first run outside the table makes
set -euo pipefail
export LC_ALL=C
runs=20 window=5 tool="" reference="" busy_loops=0 baseline=""
peer=$(command -v cpuid_tool || true)
launcher=() wine=()
readonly CLOSE_PERCENT=0.005 # the closeness the tool aims for

usage() { sed -n '/^# usage:/,/^[^#]/s/^# \{0,1\}//p' "$0" >&2 && exit 2; }
die() { echo "clock_accuracy: $*" >&2 && exit 1; }
while [ $# -gt 0 ]; do
    case $1 in
        --no-peer) peer="" && shift && continue ;;
        --realtime) launcher=(chrt -f 10) && shift && continue ;;
        --wine) wine=("$(command -v wine64 || echo /usr/lib/wine/wine64)") && shift && continue ;;
        --tool) tool=${2-} ;;
        --reference) reference=${2-} ;;
        -n | --runs) runs=${2-} ;;
        --window) window=${2-} ;;
        --peer) peer=${2-} ;;
        --load) busy_loops=${2-} ;;
        --baseline) baseline=${2-} ;;
        *) usage ;;
    esac
    shift 2 || usage
done
[ -x "$tool" ] && [ -x "$reference" ] && [[ $runs =~ ^[1-9][0-9]*$ ]] && [[ $busy_loops =~ ^[0-9]+$ ]] || usage
[ -z "$baseline" ] || [ -x "$baseline" ] || usage
[ -z "$peer" ] || [ -x "$peer" ] || { echo "clock_accuracy: no cpuid_tool at $peer; leaving it out" >&2 && peer=""; }

work=$(mktemp -d)
loops=()
# Each busy loop asks the kernel to kill it when this script dies (setpriv --pdeathsig), so
# that not even a SIGKILL of the script leaves one spinning; the trap stops them otherwise.
start_load() {
    local guard=() i
    ! command -v setpriv >/dev/null || guard=(setpriv --pdeathsig KILL)
    for ((i = 0; i < busy_loops; i++)); do
        "${guard[@]}" sh -c 'while :; do :; done' &
        loops+=($!)
    done
}
stop_load() {
    [ ${#loops[@]} = 0 ] || { kill "${loops[@]}" 2>/dev/null || true; wait "${loops[@]}" 2>/dev/null || true; }
    loops=()
}
clean_up() {
    stop_load
    [ "${WINEPREFIX-}" != "$work/wine" ] || "${wine[0]%/*}/wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap clean_up EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

reference_mhz() {
    "$reference" "$window" | awk '$1 == "TscMHz" { print $2; found = 1 } END { exit !found }' ||
        die "tsc_reference gave no rate"
}
# The kernel's refined calibration if it made one, else its first estimate; nothing where its
# log cannot be read.
kernel_mhz() {
    { dmesg || true; journalctl -k -b --no-pager || true; } 2>/dev/null |
        awk '/tsc: Refined TSC clocksource calibration/ { refined = $(NF-1) }
             /tsc: Detected / && !detected { detected = $(NF-2) }
             END { print refined != "" ? refined : detected }'
}
load() { cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown; }

# The rate a tool printed: cpuprobe's CpuClock line; cpuid_tool's one line that is a number
# (after a line of dashes; -1 or anything else is unreadable).
rate_of() {
    if [ "$1" = cpuid_tool ]; then
        awk '/^-+$/ || /^[[:space:]]*$/ { next } /^[[:space:]]*[0-9]+(\.[0-9]+)?[[:space:]]*$/ && !rate { rate = $1 + 0; next }
             { bad = 1 } END { if (!bad && rate > 0) print rate }' "$2"
    else
        sed -n 's/^CpuClock \([0-9][0-9.]*\)MHz\r\{0,1\}$/\1/p' "$2"
    fi
}

# One run of one tool: prints "<tool> <MHz> <wall ms>".
one_run() {
    local name=$1 started finished mhz
    shift
    started=${EPOCHREALTIME/./}
    "${launcher[@]}" "$@" </dev/null >"$work/out" 2>"$work/err" || die "$name failed: $(cat "$work/err")"
    finished=${EPOCHREALTIME/./}
    mhz=$(rate_of "$name" "$work/out")
    [ -n "$mhz" ] || die "no rate in $name's output: $(cat "$work/out" "$work/err")"
    echo "$name $mhz $((finished - started))"
}

source_now=$(cat /sys/devices/system/clocksource/clocksource0/current_clocksource 2>/dev/null || echo unknown)
case $source_now in
    tsc) independence="not independent of the counter: the clock is the counter, scaled by the kernel's calibration" ;;
    kvm-clock) independence="independent of this kernel's calibration of the counter: the host keeps the time" ;;
    hpet | acpi_pm) independence="independent of the counter: another oscillator" ;;
    *) independence="of unknown independence from the counter" ;;
esac
virtual=$(grep -qw hypervisor /proc/cpuinfo && echo "virtualised (hypervisor bit; $(systemd-detect-virt --vm 2>/dev/null || echo "?"))" || echo "not virtualised")
echo "machine:   $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p'), kernel $(uname -r), $virtual"
echo "clock:     the kernel's clock source is $source_now; the reference is $independence"
echo "date:      $(date -u '+%Y-%m-%d %H:%M UTC')"
prefix="${launcher[*]:+${launcher[*]} }${wine[*]:+${wine[*]} }"
echo "runs:      $runs of each, alternately: $prefix$tool${baseline:+, $prefix$baseline}${peer:+, $peer --clock-rdtsc}"
[ "$busy_loops" = 0 ] || echo "busy:      $busy_loops busy loops through the runs (not the reference)"
if [ ${#wine[@]} -gt 0 ]; then
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=${WINEPREFIX:-$work/wine}
    echo "wine:      $("${wine[0]}" --version 2>/dev/null), prefix $WINEPREFIX"
fi
load_before=$(load)
ref_before=$(reference_mhz)
start_load
[ ${#wine[@]} = 0 ] || "${wine[@]}" "$tool" </dev/null >/dev/null 2>&1 || die "wine could not run $tool"
for ((i = 0; i < runs; i++)); do
    one_run cpuprobe "${wine[@]}" "$tool"
    [ -z "$baseline" ] || one_run baseline "${wine[@]}" "$baseline"
    [ -z "$peer" ] || one_run cpuid_tool "$peer" --clock-rdtsc
done >"$work/samples"
stop_load
ref_after=$(reference_mhz)
echo "load:      $load_before before the runs, $(load) after (1, 5, 15 min averages)"

awk -v rb="$ref_before" -v ra="$ref_after" -v kernel="$(kernel_mhz)" -v aim="$CLOSE_PERCENT" '
    function abs(x) { return x < 0 ? -x : x }
    function sorted(v, n,    i, j, t) { for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t } }
    function median(v, n) { sorted(v, n); return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }
    # One cell of a row for one tool: WHAT of its runs against the reference REF.
    function cell(t, what, ref,    n, i, v, worst, inside) {
        n = count[t]
        if (!n) return "not run"
        for (i = 1; i <= n; i++) {
            v[i] = what == "figure" ? mhz[t, i] : what ~ /^wall/ ? wall[t, i] / 1000 : (mhz[t, i] - ref) / ref * 100
            if (abs(v[i]) >= abs(worst)) worst = v[i]
            if (abs(v[i]) <= aim + 1e-9) inside++
        }
        if (what == "within") return sprintf("%d of %d", inside, n)
        if (what == "worst") return sprintf("%+.4f%%", worst)
        if (what == "wall_worst") return sprintf("%.1f", worst)
        return sprintf(what == "median" ? "%+.4f%%" : what == "figure" ? "%g" : "%.1f", median(v, n))
    }
    function row(label, what, ref,    t) {
        printf "%-34s", label
        for (t = 1; t <= 3; t++) if (count[tool[t]] || t != 2) printf " %14s", cell(tool[t], what, ref)
        printf "\n"
    }
    function against(label, ref) {
        printf "against %s, %.4f MHz\n", label, ref
        row("  median error", "median", ref); row("  worst error", "worst", ref); row("  runs within " aim "%", "within", ref)
    }
    { n = ++count[$1]; mhz[$1, n] = $2; wall[$1, n] = $3 }
    END {
        tool[1] = "cpuprobe"; tool[2] = "baseline"; tool[3] = "cpuid_tool"; ref = (rb + ra) / 2
        printf "\n%-34s", ""
        for (t = 1; t <= 3; t++) if (count[tool[t]] || t != 2) printf " %14s", tool[t]
        printf "\n"
        row("median figure (MHz)", "figure", 0)
        against("tsc_reference (" (rb == ra ? "steady" : sprintf("%+.4f%% drift", (ra - rb) / rb * 100)) ")", ref)
        if (kernel != "") against("the kernel calibration (log)", kernel); else print "the kernel calibration: log not readable"
        print "wall time of one run (ms)"; row("  median", "wall", 0); row("  worst", "wall_worst", 0)
        printf "\ntsc_reference before / after the runs: %.4f / %.4f MHz\n", rb, ra
        for (i = 1; i <= count["cpuprobe"]; i++) {
            e = (mhz["cpuprobe", i] - ref) / ref * 100
            if (abs(e) <= aim + 1e-9) continue
            if (!shown++) printf "\ncpuprobe runs beyond %s%%: figure, error, the counting time it implies, wall time\n", aim
            printf "  run %2d: %.1f MHz %+.4f%% -> %.3f ms counted; wall %.1f ms\n", i, mhz["cpuprobe", i], e, 500 * (1 + e / 100), wall["cpuprobe", i] / 1000
        }
    }' "$work/samples"
