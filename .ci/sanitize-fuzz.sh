#!/usr/bin/env bash
# Sanitizer and fuzzing leg, run from the repository root:
#  1. the whole test suite, recorded dumps included (through the dumper and back), built with
#     AddressSanitizer and UndefinedBehaviorSanitizer (the asan preset); any sanitizer report
#     fails the test;
#  2. each libFuzzer target (the fuzz preset, Clang) for a bounded time from a scratch copy of
#     its seed corpus, the two side by side; a crash, a broken invariant, a hang or a leak
#     fails the leg.
# FUZZ_SECONDS (default 60) is each target's time.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
ci_leg=${ci_leg:-sanitize-fuzz}
# shellcheck source=.ci/lib.sh
source "$(dirname "$0")/lib.sh"
started=$SECONDS

fuzz_seconds=${FUZZ_SECONDS:-60}
[ -f CMakePresets.json ] || fail "run from the repository root"

step "install clang, libFuzzer's runtime and the build packages"
ci_install clang libclang-rt-14-dev g++ cmake make libgtest-dev libgmock-dev groff-base mandoc

# Every sanitizer report ends the process with a failure; leaks are reported at exit.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

step "asan: configure and build"
cmake --preset asan
cmake --build --preset asan

step "asan: the whole test suite"
# Every recorded processor runs here through the dumper and back (Dumper.AllRecorded...):
# cpuprobe-dump-sim reads each recorded file as cpuprobe-sim does, and cpuprobe-sim replays the
# dump to the recorded report. Replaying each file directly as well (Processors.AllRecorded...)
# takes the same paths through the same code a second time, at a minute of both cores'
# time in this build, so it is left to the other builds.
ctest --preset asan -j2 -E '^Processors\.AllRecorded\.'

step "fuzz: configure and build the fuzz targets (clang)"
cmake --preset fuzz
cmake --build --preset fuzz --target probe_fuzzer scenario_fuzzer

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
targets=(probe_fuzzer scenario_fuzzer)

# Runs one target for its time from a scratch copy of its seeds; its crash inputs go to the
# scratch folder too. Its output goes to its log.
fuzz() {
    local target=$1 corpus="$scratch/$1"
    mkdir -p "$corpus"
    cp fuzz/corpus/"$target"/* "$corpus"/
    "build-fuzz/$target" -max_total_time="$fuzz_seconds" -timeout=10 \
        -artifact_prefix="$scratch/$target-" -print_final_stats=1 "$corpus" >"$scratch/$target.log" 2>&1
}

# Each libFuzzer process keeps one core busy: the targets run side by side.
step "fuzz: ${targets[*]}, side by side, ${fuzz_seconds} s each"
declare -A pids
for target in "${targets[@]}"; do
    fuzz "$target" &
    pids[$target]=$!
done
declare -A statuses
for target in "${targets[@]}"; do
    statuses[$target]=0
    wait "${pids[$target]}" || statuses[$target]=$?
done
for target in "${targets[@]}"; do
    log="$scratch/$target.log"
    if [ "${statuses[$target]}" != 0 ]; then
        tail -n 60 "$log"
        for artifact in "$scratch/$target"-*; do
            [ -f "$artifact" ] && { echo "input $artifact:"; od -A d -t x1 "$artifact" | head -40; }
        done
        fail "$target found a fault (replay: build-fuzz/$target FILE)"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    grep -E '^Done|cov:.*DONE' "$log" | tail -n 2
    echo "$target: $runs executions, $rate per second, corpus $(ls "$scratch/$target" | wc -l) inputs"
done

step "passed in $((SECONDS - started)) s"
