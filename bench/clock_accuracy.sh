#!/usr/bin/env bash
# How close does cpuprobe's half-second clock measurement come to the truth, beside a peer?
#
# Runs the real tool and the peer, libcpuid's `cpuid_tool --clock-rdtsc`, alternately, N runs
# each (input from /dev/null, so cpuprobe does not wait), and compares each figure with two
# references: tsc_reference, which times the same counter over a long window against
# CLOCK_MONOTONIC_RAW (run before and after the runs, averaged), and the kernel's own
# calibration from its log, where that can be read. Alternating puts both tools through the
# same moments of the machine's load. Prints one table, the tools side by side: median and
# worst relative error against each reference, how many runs came within 0.005%, and the
# median and worst wall time of one run. Then the cpuprobe runs beyond 0.005%, with the time
# each one's error implies it counted for.
#
# The header says where this ran: the processor, whether it is a virtual machine (and what
# says so), and the kernel's clock source, which decides whether tsc_reference is a yardstick
# independent of the counter: where the source is the counter itself (tsc), the raw clock is
# the counter scaled by the kernel's own calibration, so tsc_reference can only reproduce that
# calibration; with hpet or acpi_pm it is another oscillator, and with kvm-clock the host keeps
# the time, so neither depends on this kernel's calibration of the counter.
#
# It is a measurement, not a test: it exits 0 once the table is printed, whatever the figures,
# and 1 only when a run could not be read. Without cpuid_tool the peer's column says so.
#
# usage: clock_accuracy.sh --tool PATH --reference PATH [-n RUNS] [--window SECONDS]
#                          [--peer PATH | --no-peer] [--realtime] [--load N]
#                          [--baseline PATH] [--wine]
#
# -n RUNS          runs of each tool (default 20)
# --window SECONDS tsc_reference's window (default 5; a short one only for a smoke pass)
# --peer PATH      the cpuid_tool to run (default: cpuid_tool from PATH)
# --realtime       runs both tools under SCHED_FIFO (chrt -f 10, needs root), so that no
#                  ordinary process can hold them up at the ends of their waits
# --load N         keeps N busy loops (sh -c 'while :; do :; done') running through the runs,
#                  as a busy machine would; they are stopped however the script ends
# --baseline PATH  another build of cpuprobe (an older one, say), run alternately with the
#                  others and shown in a column of its own: two builds under the same load
# --wine           --tool and --baseline are Windows builds: each runs under wine64, in
#                  $WINEPREFIX or else a prefix of its own made before the runs
set -euo pipefail
export LC_ALL=C

runs=20
window=5
tool=""
reference=""
peer=$(command -v cpuid_tool || true)
launcher=()
busy_loops=0
baseline=""
wine=()

# The closeness the tool aims for, in percent.
readonly CLOSE_PERCENT=0.005

usage() {
    sed -n '/^# usage:/,/^[^#]/s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
        --tool) tool=${2-}; shift 2 || usage ;;
        --reference) reference=${2-}; shift 2 || usage ;;
        -n | --runs) runs=${2-}; shift 2 || usage ;;
        --window) window=${2-}; shift 2 || usage ;;
        --peer) peer=${2-}; shift 2 || usage ;;
        --no-peer) peer=""; shift ;;
        --realtime) launcher=(chrt -f 10); shift ;;
        --load) busy_loops=${2-}; shift 2 || usage ;;
        --baseline) baseline=${2-}; shift 2 || usage ;;
        --wine) wine=("$(command -v wine64 || echo /usr/lib/wine/wine64)"); shift ;;
        *) usage ;;
    esac
done
if [ ! -x "$tool" ] || [ ! -x "$reference" ]; then usage; fi
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || usage
[[ "$busy_loops" =~ ^[0-9]+$ ]] || usage
if [ -n "$baseline" ] && [ ! -x "$baseline" ]; then usage; fi
if [ -n "$peer" ] && [ ! -x "$peer" ]; then
    echo "clock_accuracy: no cpuid_tool at $peer; leaving it out" >&2
    peer=""
fi

die() { echo "clock_accuracy: $*" >&2; exit 1; }

work=$(mktemp -d)
loop_pids=()
runner_pid=""

# The busy loops. Each asks the kernel to kill it when this script dies (setpriv --pdeathsig,
# util-linux), so that not even a SIGKILL of the script leaves one spinning; the traps below
# stop them on every other way out.
start_load() {
    local i
    local guard=()
    if command -v setpriv >/dev/null; then guard=(setpriv --pdeathsig KILL); fi
    for ((i = 0; i < busy_loops; i++)); do
        "${guard[@]}" sh -c 'while :; do :; done' &
        loop_pids+=($!)
    done
}

stop_load() {
    if [ ${#loop_pids[@]} -gt 0 ]; then
        kill "${loop_pids[@]}" 2>/dev/null || true
        wait "${loop_pids[@]}" 2>/dev/null || true
    fi
    loop_pids=()
}

clean_up() {
    if [ -n "$runner_pid" ]; then kill "$runner_pid" 2>/dev/null || true; fi
    stop_load
    if [ "${WINEPREFIX-}" = "$work/wine" ]; then "${wine[0]%/*}/wineserver" -k 2>/dev/null || true; fi
    rm -rf "$work"
}
trap clean_up EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

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

load() { cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown; }

# Microseconds of the wall clock, without starting a process to read them.
now_us() { echo "${EPOCHREALTIME/./}"; }

# cpuprobe prints one line "CpuClock <MHz>MHz" among its 18; so does the baseline build.
cpuprobe_mhz() { sed -n 's/^CpuClock \([0-9][0-9.]*\)MHz\r\{0,1\}$/\1/p' "$1"; }
baseline_mhz() { cpuprobe_mhz "$@"; }

# cpuid_tool --clock-rdtsc prints a line of dashes, then the rate in whole MHz on a line of its
# own (or -1 when it cannot measure). The rate is the one line that is a number; anything
# else on stdout, a second number or a rate that is not positive counts as unreadable.
cpuid_tool_mhz() {
    awk '/^-+$/ || /^[[:space:]]*$/ { next }
         /^[[:space:]]*[0-9]+(\.[0-9]+)?[[:space:]]*$/ && !rate { rate = $1 + 0; next }
         { bad = 1 }
         END { if (!bad && rate > 0) print rate }' "$1"
}

# One run of one tool: prints "<tool> <MHz> <wall ms>".
one_run() {
    local name=$1 started finished mhz
    shift
    started=$(now_us)
    "${launcher[@]}" "$@" </dev/null >"$work/out" 2>"$work/err" ||
        die "$name failed: $(cat "$work/err")"
    finished=$(now_us)
    mhz=$("${name}_mhz" "$work/out")
    [ -n "$mhz" ] || die "no rate could be read from $name's output: $(cat "$work/out" "$work/err")"
    echo "$name $mhz $(((finished - started) / 1000)).$(printf '%03d' $(((finished - started) % 1000)))"
}

# Whether this is a virtual machine, with what says so: the processor's hypervisor bit (CPUID
# leaf 1, ECX bit 31, shown as "hypervisor" in /proc/cpuinfo), lscpu's vendor line (which some
# hypervisors do not fill), systemd's guess and Xen's /sys/hypervisor.
virtualisation() {
    local signs=() vendor guess
    if grep -qw hypervisor /proc/cpuinfo 2>/dev/null; then signs+=("hypervisor bit set"); fi
    vendor=$(lscpu 2>/dev/null | sed -n 's/^Hypervisor vendor: *//p')
    if [ -n "$vendor" ]; then signs+=("lscpu: $vendor"); fi
    guess=$(systemd-detect-virt --vm 2>/dev/null || true)
    if [ -n "$guess" ] && [ "$guess" != none ]; then signs+=("systemd-detect-virt: $guess"); fi
    if [ -r /sys/hypervisor/type ]; then signs+=("/sys/hypervisor: $(cat /sys/hypervisor/type)"); fi
    if [ ${#signs[@]} -eq 0 ]; then
        echo "not virtualised (no hypervisor bit, lscpu vendor, systemd-detect-virt or /sys/hypervisor)"
        return
    fi
    local joined
    joined=$(printf '%s; ' "${signs[@]}")
    echo "virtualised (${joined%; })"
}

clock_source() {
    cat /sys/devices/system/clocksource/clocksource0/current_clocksource 2>/dev/null || echo unknown
}

# Whether the raw clock that tsc_reference times the counter against is independent of it.
reference_independence() {
    case "$1" in
        tsc) echo "not independent of the counter: the clock is the counter, scaled by the kernel's calibration" ;;
        kvm-clock) echo "independent of this kernel's calibration of the counter: the host keeps the time" ;;
        hpet | acpi_pm) echo "independent of the counter: another oscillator" ;;
        *) echo "independence from the counter unknown" ;;
    esac
}

source_now=$(clock_source)
echo "machine:   $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p'), kernel $(uname -r), $(virtualisation)"
echo "clock:     the kernel's clock source is $source_now; the reference is $(reference_independence "$source_now")"
echo "date:      $(date -u '+%Y-%m-%d %H:%M UTC')"
prefix=${launcher[*]:+${launcher[*]} }
if [ -n "$peer" ]; then
    echo "runs:      $runs each, alternately: $prefix$tool </dev/null and $prefix$peer --clock-rdtsc"
else
    echo "runs:      $runs of $prefix$tool </dev/null (no cpuid_tool)"
fi
echo "reference: tsc_reference over ${window} s before and after the runs; the kernel's log"
if [ ${#wine[@]} -gt 0 ]; then
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=${WINEPREFIX:-$work/wine}
    echo "wine:      ${wine[0]} ($("${wine[0]}" --version 2>/dev/null || echo "version unknown")), prefix $WINEPREFIX"
fi
if [ -n "$baseline" ]; then
    echo "baseline:  $prefix$baseline </dev/null, after each run of $tool"
fi
if [ "$busy_loops" -gt 0 ]; then
    echo "busy:      sh -c 'while :; do :; done', $busy_loops at once, through the runs (not the reference)"
fi
load_before=$(load)

ref_before=$(reference_mhz)
start_load
# Under Wine, one run first, outside the table: it makes the prefix and starts the wineserver,
# which the runs then find running (it waits 3 s for the next one before it stops).
if [ ${#wine[@]} -gt 0 ]; then
    "${wine[@]}" "$tool" </dev/null >/dev/null 2>&1 || die "wine could not run $tool"
fi
# In the background, so that a signal stops the script at once, not after the last run.
for ((i = 0; i < runs; i++)); do
    one_run cpuprobe "${wine[@]}" "$tool"
    if [ -n "$baseline" ]; then one_run baseline "${wine[@]}" "$baseline"; fi
    if [ -n "$peer" ]; then one_run cpuid_tool "$peer" --clock-rdtsc; fi
done >"$work/samples" &
runner_pid=$!
wait "$runner_pid"
runner_pid=""
stop_load
samples=$(cat "$work/samples")
ref_after=$(reference_mhz)
kernel=$(kernel_mhz)
echo "load:      $load_before before the runs, $(load) after (1, 5, 15 min averages)"

awk -v rb="$ref_before" -v ra="$ref_after" -v kernel="$kernel" -v aim="$CLOSE_PERCENT" \
    -v peer="$peer" -v baseline="$baseline" '
    function abs(x) { return x < 0 ? -x : x }
    function median(values, n,    sorted, i, j, t) {
        for (i = 1; i <= n; i++) sorted[i] = values[i]
        for (i = 2; i <= n; i++)
            for (j = i; j > 1 && sorted[j - 1] > sorted[j]; j--) {
                t = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = t
            }
        return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
    }
    function largest(values, n,    i, m) {
        m = values[1]
        for (i = 2; i <= n; i++) if (values[i] > m) m = values[i]
        return m
    }
    # The relative errors of one tool against one reference, in percent, with their sign,
    # into err[]; returns how many runs the tool has.
    function errors(tool, ref, err,    i) {
        for (i = 1; i <= count[tool]; i++) err[i] = (mhz[tool, i] - ref) / ref * 100
        return count[tool]
    }
    function median_error(tool, ref,    err, n) {
        n = errors(tool, ref, err)
        return sprintf("%+.4f%%", median(err, n))
    }
    function worst_error(tool, ref,    err, n, i, worst) {
        n = errors(tool, ref, err)
        worst = 0
        for (i = 1; i <= n; i++) if (abs(err[i]) >= abs(worst)) worst = err[i]
        return sprintf("%+.4f%%", worst)
    }
    function within(tool, ref,    err, n, i, inside) {
        n = errors(tool, ref, err)
        for (i = 1; i <= n; i++) if (abs(err[i]) <= aim + 1e-9) inside++
        return sprintf("%d of %d", inside, n)
    }
    function wall_median(tool,    w, i) {
        for (i = 1; i <= count[tool]; i++) w[i] = wall[tool, i]
        return sprintf("%.1f", median(w, count[tool]))
    }
    function wall_worst(tool,    w, i) {
        for (i = 1; i <= count[tool]; i++) w[i] = wall[tool, i]
        return sprintf("%.1f", largest(w, count[tool]))
    }
    function figure_median(tool,    f, i) {
        for (i = 1; i <= count[tool]; i++) f[i] = mhz[tool, i]
        return sprintf("%g", median(f, count[tool]))
    }
    # One row: a label, then a cell per tool, computed by the named function (awk has no
    # function values, so the names are spelt out).
    function row(label, what, ref,    t, cell) {
        printf "%-34s", label
        for (t = 1; t <= ntools; t++) {
            if (!count[tool[t]]) cell = "not run"
            else if (what == "median") cell = median_error(tool[t], ref)
            else if (what == "worst") cell = worst_error(tool[t], ref)
            else if (what == "within") cell = within(tool[t], ref)
            else if (what == "wall_median") cell = wall_median(tool[t])
            else if (what == "wall_worst") cell = wall_worst(tool[t])
            else if (what == "figure") cell = figure_median(tool[t])
            printf " %14s", cell
        }
        printf "\n"
    }
    function against(label, ref) {
        printf "against %s, %.4f MHz\n", label, ref
        row("  median error", "median", ref)
        row("  worst error", "worst", ref)
        row("  runs within " aim "%", "within", ref)
    }
    # A cpuprobe run beyond the aim counted cycles over a longer (or shorter) time than
    # 500 ms: the time its error implies, beside the run'"'"'s wall time, shows whether the
    # process was held up as the wait should have ended (it notices the end only when it
    # runs again).
    function beyond(ref,    i, e, shown) {
        for (i = 1; i <= count["cpuprobe"]; i++) {
            e = (mhz["cpuprobe", i] - ref) / ref * 100
            if (abs(e) <= aim + 1e-9) continue
            if (!shown++) printf "\ncpuprobe runs beyond %s%%: figure, error, the counting time it implies, wall time\n", aim
            printf "  run %2d: %.1f MHz %+.4f%% -> %.3f ms counted; wall %.1f ms\n",
                   i, mhz["cpuprobe", i], e, 500 * (1 + e / 100), wall["cpuprobe", i]
        }
    }
    { n = ++count[$1]; mhz[$1, n] = $2; wall[$1, n] = $3 }
    END {
        ntools = 0
        tool[++ntools] = "cpuprobe"; resolution["cpuprobe"] = "0.1 MHz"
        if (baseline != "") { tool[++ntools] = "baseline"; resolution["baseline"] = "0.1 MHz" }
        tool[++ntools] = "cpuid_tool"; resolution["cpuid_tool"] = peer == "" ? "not run" : "1 MHz"
        ref = (rb + ra) / 2
        printf "\n%-34s", ""
        for (t = 1; t <= ntools; t++) printf " %14s", tool[t]
        printf "\n%-34s", "printed resolution"
        for (t = 1; t <= ntools; t++) printf " %14s", resolution[tool[t]]
        printf "\n"
        row("median figure (MHz)", "figure", 0)
        against("tsc_reference (" (rb == ra ? "steady" : sprintf("%+.4f%% drift", (ra - rb) / rb * 100)) ")", ref)
        if (kernel != "") against("kernel calibration (log)", kernel)
        else printf "against kernel calibration: log not readable\n"
        printf "wall time of one run (ms)\n"
        row("  median", "wall_median", 0)
        row("  worst", "wall_worst", 0)
        printf "\ntsc_reference before / after the runs: %.4f / %.4f MHz\n", rb, ra
        beyond(ref)
    }
' <<<"$samples"
