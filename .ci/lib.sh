# shellcheck shell=bash
# Sourced by .ci/run and the package scripts: how a run names its steps, keeps their verdicts
# and times, and lists what it skipped and why; how it installs packages.
#
# The package archive is not the project. An index that cannot be read (a mirror mid-sync) is a
# WARNING: line, never a failure by itself; a package that the run truly needs and cannot be
# installed fails with apt's own first error line; one that only some checks need (32-bit Wine)
# leaves those checks skipped, with apt's line as the reason.
#
# CPUPROBE_APT_PAUSE (seconds, default 30) is the pause before an update is tried again.

ci_name=${ci_name:-ci}
ci_results=${CPUPROBE_CI_RESULTS:-$(mktemp)}
ci_skips=${CPUPROBE_CI_SKIPS:-$(mktemp)}
export CPUPROBE_CI_RESULTS=$ci_results CPUPROBE_CI_SKIPS=$ci_skips

fail() {
    printf '\n%s: FAILED: %s\n' "$ci_name" "$*" >&2
    exit 1
}

# A check left out, with the reason: said at once, and listed again in the run's summary.
skipped() {
    printf 'SKIPPED: %s: %s\n' "$1" "$2"
    printf '%s: %s\n' "$1" "$2" >>"$ci_skips"
}

# Runs one step of the run (a command and its arguments, in a shell of its own, so that a
# failure ends the step alone), whatever became of the others, and keeps its verdict and time
# for the summary.
ci_step() {
    local name=$1 started=$SECONDS status=0
    shift
    printf '\n=== %s ===\n' "$name"
    ("$@") || status=$?
    printf '%s\t%s\t%s\n' "$status" "$((SECONDS - started))" "$name" >>"$ci_results"
    printf '=== %s: %s in %d s ===\n' "$name" "$([ "$status" = 0 ] && echo passed || echo "FAILED (status $status)")" \
        "$((SECONDS - started))"
    return 0
}

# Each step's verdict and time, then every skip; exits 1 when a step failed.
ci_summary() {
    local failed
    printf '\n=== summary: %d s in all ===\n' "$SECONDS"
    awk -F'\t' '{ printf "  %-44s %-7s %4d s\n", $3, ($1 == 0 ? "passed" : "FAILED"), $2 }' "$ci_results"
    if [ -s "$ci_skips" ]; then
        echo "skipped on this machine, with the reason:"
        sort -u "$ci_skips" | sed 's/^/  /'
    else
        echo "nothing skipped"
    fi
    failed=$(awk -F'\t' '$1 != 0' "$ci_results" | wc -l)
    [ "$failed" = 0 ] || { echo "$failed step(s) failed" >&2; return 1; }
    echo "every step passed"
}

# The tests that a preset's ctest run skipped (its JUnit file, ctest-results.xml in its build
# folder), each with the line of its output that says why: the one with "SKIPPED:", or the one
# after GoogleTest's "Skipped".
ctest_skips() {
    awk -v preset="$1" '
        /<testcase name=/ { split($0, name, "\""); test = name[2]; skipping = 0; reason = "" }
        /<skipped / { skipping = 1 }
        skipping && after && reason == "" && NF { reason = $0 }
        skipping && /SKIPPED: / && reason == "" { reason = $0; sub(/.*SKIPPED: /, "", reason) }
        { after = / Skipped$/ }
        /<\/testcase>/ && skipping { print preset ": " test ": " (reason == "" ? "(no reason given)" : reason) }
    ' "$2/ctest-results.xml" 2>/dev/null || true
}

# --- installing ---

# Every apt-get run retries a failed download and waits for another apt or dpkg run on the
# same machine to let go of the package manager's lock; dpkg skips its syncs, which only a
# machine that must survive a crash needs.
ci_apt_get() {
    apt-get -o Acquire::Retries=3 -o DPkg::Lock::Timeout=600 -o DPkg::Options::=--force-unsafe-io "$@"
}

# apt's own first error line of a failed run's output; where apt lists unmet dependencies, the
# first of them too, which names the package at fault.
first_apt_error() {
    local line unmet
    line=$(grep -m 1 '^E: ' "$1" | sed 's/^E: //' || true)
    unmet=$(grep -m 1 -E '(Depends|PreDepends|Conflicts|Breaks): ' "$1" | sed 's/^ *//; s/  */ /g' || true)
    echo "${line:-apt-get gave no error line}${unmet:+ (first unmet: $unmet)}"
}

# Updates the package lists. Where some index cannot be read, it waits and tries once more;
# what still cannot be read is a WARNING: line each, and the run goes on with the lists it has.
ci_apt_update() {
    local log attempt failed=""
    log=$(mktemp)
    for attempt in 1 2; do
        ci_apt_get update >"$log" 2>&1 || true
        failed=$(grep -E '^[EW]: Failed to fetch ' "$log" || true)
        [ -n "$failed" ] || ! grep -q '^E: ' "$log" || failed=$(grep -m 1 '^E: ' "$log")
        [ -n "$failed" ] || break
        if [ "$attempt" = 1 ]; then
            echo "apt-get update: some indexes could not be read; trying again in ${CPUPROBE_APT_PAUSE:-30} s"
            sleep "${CPUPROBE_APT_PAUSE:-30}"
        fi
    done
    if [ -n "$failed" ]; then
        sed 's/^[EW]: /WARNING: apt-get update: /' <<<"$failed"
    else
        echo "apt-get update: every index read"
    fi
    rm -f "$log"
}

# Installs packages that the run truly needs (apt-get install), or the build dependencies of a
# source tree (ci_install build-dep DIR): what cannot be installed fails with apt's first error.
ci_install() {
    local command=(install "$@") log status=0
    [ "${1:-}" != build-dep ] || command=("$@")
    log=$(mktemp)
    ci_apt_get "${command[0]}" -y --no-install-recommends "${command[@]:1}" >"$log" 2>&1 ||
        status=$?
    if [ "$status" != 0 ]; then
        cat "$log" >&2
        fail "apt-get ${command[*]}: $(first_apt_error "$log")"
    fi
    rm -f "$log"
}

# Installs packages that only some checks need: exits 0 when they are installed; otherwise
# leaves apt's first error line in ci_install_error and exits 1, for those checks to be skipped.
ci_install_error=""
ci_try_install() {
    local log status=0
    log=$(mktemp)
    ci_apt_get install -y --no-install-recommends "$@" >"$log" 2>&1 || status=$?
    ci_install_error=$(first_apt_error "$log")
    rm -f "$log"
    [ "$status" = 0 ]
}
