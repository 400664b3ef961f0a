#!/usr/bin/env bash
# How close does cpuprobe's half-second clock measurement come to the truth?
#
# Runs the real tool N times (input from /dev/null, so it does not wait), reads its CpuClock
# line and compares it with two references: tsc_reference, which times the same counter over a
# long window against CLOCK_MONOTONIC_RAW (run before and after the N runs, averaged), and the
# kernel's own calibration from its log, where that can be read. Prints the median and worst
# relative error against each, the median and worst wall time of one run against the ideal
# 500 ms, and whether the worst error stays inside what the method allows: one step of the
# tick count in 500 ms (0.2% with a 1 ms tick). It is a measurement, not a test: it exits 0
# once the table is printed, whatever the verdict, and 1 only when a run could not be read.
#
# usage: clock_accuracy.sh --tool PATH --reference PATH [-n RUNS] [--window SECONDS]
#                          [--tick-ms MS] [--realtime]
#
# --realtime runs the tool under SCHED_FIFO (chrt -f, needs root), so that no ordinary process
# can hold it up at the ends of its wait: what remains is the method's own error.
set -euo pipefail

runs=20
window=5
tick_ms=1
tool=""
reference=""
launcher=()

usage() {
    sed -n '/^# usage:/,/^[^#]/s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
        --tool) tool=$2; shift 2 ;;
        --reference) reference=$2; shift 2 ;;
        -n) runs=$2; shift 2 ;;
        --window) window=$2; shift 2 ;;
        --tick-ms) tick_ms=$2; shift 2 ;;
        --realtime) launcher=(chrt -f 10); shift ;;
        *) usage ;;
    esac
done
if [ ! -x "$tool" ] || [ ! -x "$reference" ]; then usage; fi
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || usage

die() { echo "clock_accuracy: $*" >&2; exit 1; }

# The counter rate in MHz by the long-window yardstick.
reference_mhz() {
    "$reference" "$window" | awk '$1 == "TscMHz" { print $2; found = 1 } END { exit !found }' ||
        die "tsc_reference gave no rate"
}

# The kernel's figure: its refined calibration if it made one, else the first estimate.
# Prints nothing when the log cannot be read (no permission, no journal).
kernel_mhz() {
    local log
    log=$( { dmesg || true; journalctl -k -b --no-pager || true; } 2>/dev/null |
        grep -E 'tsc: (Refined TSC clocksource calibration|Detected) ' || true)
    awk '/Refined TSC/ { refined = $(NF-1) }
         /Detected/ && !detected { detected = $(NF-2) }
         END { if (refined != "") print refined; else if (detected != "") print detected }' \
        <<<"$log"
}

now_ns() { date +%s%N; }

# One run of the tool: prints "<clock MHz> <wall ms>".
one_run() {
    local started finished output clock
    started=$(now_ns)
    output=$("${launcher[@]}" "$tool" </dev/null) || die "the tool failed"
    finished=$(now_ns)
    clock=$(sed -n 's/^CpuClock \([0-9.]*\)MHz$/\1/p' <<<"$output")
    [ -n "$clock" ] || die "no CpuClock line in: $output"
    awk -v c="$clock" -v s="$started" -v f="$finished" 'BEGIN { printf "%s %.1f\n", c, (f - s) / 1e6 }'
}

echo "machine:   $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p'), kernel $(uname -r)," \
     "$(lscpu 2>/dev/null | grep -q '^Hypervisor vendor' && lscpu | sed -n 's/^Hypervisor vendor: *//p' | sed 's/^/virtualised (/; s/$/)/' || echo 'not virtualised')"
echo "runs:      $runs of ${launcher[*]:+${launcher[*]} }$tool (</dev/null), reference window ${window} s," \
     "load average $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)"

ref_before=$(reference_mhz)
samples=$(for ((i = 0; i < runs; i++)); do one_run; done)
ref_after=$(reference_mhz)
kernel=$(kernel_mhz)

awk -v rb="$ref_before" -v ra="$ref_after" -v kernel="$kernel" -v tick="$tick_ms" '
    function median(values, n,    sorted, i, j, t) {
        for (i = 1; i <= n; i++) sorted[i] = values[i]
        for (i = 2; i <= n; i++)
            for (j = i; j > 1 && sorted[j - 1] > sorted[j]; j--) {
                t = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = t
            }
        return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
    }
    function abs(x) { return x < 0 ? -x : x }
    # Relative errors of all runs against one reference, in percent, with their sign: the
    # median and the worst (largest in size).
    function errors(ref, label,    i, e, worst) {
        worst = 0
        for (i = 1; i <= n; i++) {
            e[i] = (clock[i] - ref) / ref * 100
            if (abs(e[i]) >= abs(worst)) worst = e[i]
        }
        printf "%-34s %12.3f %+11.3f%% %+11.3f%%\n", label, ref, median(e, n), worst
        return abs(worst)
    }
    # A run outside the bound counted cycles over a longer (or shorter) time than 500 ms: the
    # time its error implies, beside the run'"'"'s wall time, shows whether the process was held
    # up as the wait should have ended (it then notices the end only when it runs again).
    function outliers(ref, bound,    i, e, shown) {
        for (i = 1; i <= n; i++) {
            e = (clock[i] - ref) / ref * 100
            if (abs(e) <= bound) continue
            if (!shown++) printf "\nruns outside the bound: error, the counting time it implies, wall time of the run\n"
            printf "  run %2d: %.1f MHz %+.3f%% -> %.1f ms counted; wall %.1f ms\n", i, clock[i], e, 500 + e * 5, wall[i]
        }
    }
    { n++; clock[n] = $1; wall[n] = $2 }
    END {
        ref = (rb + ra) / 2
        bound = tick / 500 * 100
        printf "\n%-34s %12s %12s %12s\n", "reference", "MHz", "median err", "worst err"
        worst_ref = errors(ref, "tsc_reference (CLOCK_MONOTONIC_RAW)")
        if (kernel != "") errors(kernel, "kernel calibration (log)")
        else printf "%-34s %12s\n", "kernel calibration (log)", "not readable"
        printf "  yardstick before/after: %.4f / %.4f MHz (drift %+.4f%%)\n", rb, ra, (ra - rb) / rb * 100
        printf "  tool: median %.1f MHz, range %.1f .. %.1f MHz\n", median(clock, n), min(clock), max(clock)
        for (i = 1; i <= n; i++) over[i] = wall[i] - 500
        printf "\n%-34s %12s %12s\n", "wall time of one run", "median ms", "worst ms"
        printf "%-34s %12.1f %12.1f\n", "whole process", median(wall, n), max(wall)
        printf "%-34s %+12.1f %+12.1f\n", "over the ideal 500 ms", median(over, n), max(over)
        printf "\nbound (one %g ms tick step in 500 ms): %.3f%%; worst against tsc_reference %.3f%%: %s\n",
               tick, bound, worst_ref, worst_ref <= bound ? "inside" : "OUTSIDE"
        outliers(ref, bound)
    }
    function min(v,    i, m) { m = v[1]; for (i = 2; i <= n; i++) if (v[i] < m) m = v[i]; return m }
    function max(v,    i, m) { m = v[1]; for (i = 2; i <= n; i++) if (v[i] > m) m = v[i]; return m }
' <<<"$samples"
