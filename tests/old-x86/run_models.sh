#!/usr/bin/env bash
# The 32-bit Linux tool under qemu-i386's processor models (qemu-models.txt beside this
# script): on each, the report of cpuprobe must equal the replay, through cpuprobe-sim, of the
# dump that cpuprobe-dump makes on the same model, but for the clock, and must show the lines
# that set the model apart; where the table says so, not one x87 instruction may run.
#
# usage: tests/old-x86/run_models.sh FOLDER CPUPROBE_SIM
#
# FOLDER holds cpuprobe and cpuprobe-dump (a build folder or an unpacked linux-i386 tarball);
# CPUPROBE_SIM is a cpuprobe-sim for this machine. Prints each model's report; exits 1 when a
# model fails.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly MODELS=$here/qemu-models.txt
readonly REPORT_LINES=18

[ $# -eq 2 ] || {
    sed -n 's/^# usage: //p' "$0" >&2
    exit 2
}
folder=$1 sim=$2
for program in "$folder/cpuprobe" "$folder/cpuprobe-dump" "$sim"; do
    [ -x "$program" ] || {
        echo "run_models: no program $program" >&2
        exit 2
    }
done
command -v qemu-i386 >/dev/null || {
    echo "run_models: qemu-i386 is not installed (qemu-user)" >&2
    exit 2
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

trim() { sed -E 's/^[[:space:]]+//; s/[[:space:]]+$//'; }
# The report with the blanks between label and value taken as one.
normalised() { tr -d '\r' <"$1" | sed -E 's/  +/ /g'; }

# Every x87 instruction qemu translated for the run logged in $1 (-d in_asm): the raw bytes
# after the address are left out, and prefixes.
x87_in_log() {
    awk '/^0x[0-9a-f]+:/ {
            for (i = 2; i <= NF && $i ~ /^[0-9a-f][0-9a-f]$/; i++) {}
            while ($i ~ /^(lock|rep|repz|repnz|repe|repne|data16)$/) i++
            if ($i ~ /^f/ || $i == "wait") print $1, $i
         }' "$1" | sort -u
}

check_model() {
    local name=$1 cpu=$2 x87=$3 lines=$4
    local report=$work/$name.report dump=$work/$name.dump replay=$work/$name.replay failed=0
    local log=()
    [ "$x87" = none ] && log=(-d in_asm -D "$work/$name.in_asm")
    if ! qemu-i386 -cpu "$cpu" "${log[@]}" "$folder/cpuprobe" </dev/null >"$report" 2>&1; then
        cat "$report"
        echo "  $name: cpuprobe failed under qemu-i386 -cpu $cpu"
        return 1
    fi
    echo "--- $name (qemu-i386 -cpu $cpu)"
    cat "$report"
    if ! qemu-i386 -cpu "$cpu" "$folder/cpuprobe-dump" </dev/null >"$dump" 2>&1; then
        cat "$dump"
        echo "  $name: cpuprobe-dump failed under qemu-i386 -cpu $cpu"
        return 1
    fi
    CPUPROBE_SCENARIO=$dump "$sim" </dev/null >"$replay" 2>&1 || true
    [ "$(wc -l <"$report")" -eq "$REPORT_LINES" ] || {
        echo "  $name: the report has $(wc -l <"$report") lines, not $REPORT_LINES"
        failed=1
    }
    if ! diff <(sed 4d "$report") <(sed 4d "$replay") >"$work/$name.diff"; then
        echo "  $name: the report (<) and the replay of its dump (>) differ:"
        sed 's/^/    /' "$work/$name.diff"
        failed=1
    fi
    local clock
    clock=$(sed -n 4p "$report")
    if grep -qx 'TSC    1' "$report"; then
        grep -Eqx 'CpuClock [1-9][0-9]*\.[0-9]MHz' <<<"$clock" || {
            echo "  $name: TSC 1 but no positive clock: $clock"
            failed=1
        }
    elif [ "$clock" != "CpuClock 0.0MHz" ]; then
        echo "  $name: TSC 0 but $clock"
        failed=1
    fi
    local line
    while IFS= read -r line; do
        line=$(trim <<<"$line")
        [ -n "$line" ] || continue
        normalised "$report" | grep -qxF -- "$line" || {
            echo "  $name: no line \"$line\""
            failed=1
        }
    done < <(tr ';' '\n' <<<"$lines")
    if [ "$x87" = none ]; then
        local executed
        executed=$(x87_in_log "$work/$name.in_asm")
        if [ -n "$executed" ]; then
            echo "  $name: x87 instructions executed:"
            sed 's/^/    /' <<<"$executed" | head -20
            failed=1
        else
            echo "($name: $(grep -c '^0x' "$work/$name.in_asm") instructions translated, none of them x87)"
        fi
    fi
    echo "($name: $(grep -c ' eax=' "$dump") leaves dumped; the report equals their replay but for the clock)"
    return "$failed"
}

status=0 count=0
while IFS='|' read -r name cpu x87 lines; do
    name=$(trim <<<"$name") cpu=$(trim <<<"$cpu") x87=$(trim <<<"$x87")
    count=$((count + 1))
    check_model "$name" "$cpu" "$x87" "$lines" || status=1
done < <(grep -Ev '^(#|[[:space:]]*$)' "$MODELS")
[ "$count" -gt 0 ] || {
    echo "run_models: no model in $MODELS" >&2
    exit 2
}
if [ "$status" = 0 ]; then
    echo "run_models: all $count models give their dumps' reports"
else
    echo "run_models: FAILED (see above)" >&2
fi
exit "$status"
