#!/usr/bin/env bash
# The win32 download's programs under 32-bit Wine set to report Windows 95, Windows 98 and
# Windows NT 4.0: on each, cpuprobe.exe prints its 18 lines with CRLF and ends at end of input,
# and the dump cpuprobe-dump.exe prints replays, through cpuprobe-sim, to the same processor.
# Wine loads a program whatever subsystem version its header asks for, and its wide-character
# functions work where Windows 95's are stubs: so this shows the programs run on those
# versions' behaviour, while check_win95_imports.sh is the proof that those systems load them.
#
# usage: tests/old-x86/wine_versions.sh WINDOWS_FOLDER CPUPROBE_SIM
#
# Where this machine cannot run 32-bit Wine (no wine32 package, or a kernel that runs no 32-bit
# programs), it says so and exits 0 without running anything.
set -euo pipefail
export LC_ALL=C

readonly VERSIONS="win95 win98 nt40"
readonly WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
readonly REPORT_LINES=18 PATIENCE_SECONDS=60

[ $# -eq 2 ] || {
    sed -n 's/^# usage: //p' "$0" >&2
    exit 2
}
windows=$(realpath "$1") sim=$(realpath "$2")
# Said on a line of its own, and, under CI, added to the run's list of what it skipped.
skip() {
    echo "SKIPPED: Windows 95, 98 and NT 4.0 under Wine: $*"
    if [ -n "${CPUPROBE_CI_SKIPS:-}" ]; then
        echo "${ci_leg:-?}: Windows 95, 98 and NT 4.0 under Wine: $*" >>"$CPUPROBE_CI_SKIPS"
    fi
    exit 0
}
[ -x "$WINE" ] || skip "32-bit Wine is not installed here ($WINE: Debian's wine32 package)"
"$WINE" --version >/dev/null 2>&1 ||
    skip "$WINE does not start (this kernel may run no 32-bit x86 programs)"

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINESERVER
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    printf 'wine_versions: FAILED: %s\n' "$*" >&2
    exit 1
}
run_exe() {
    local status=0
    timeout "$PATIENCE_SECONDS" "$WINE" "$1" </dev/null >"$2" 2>"$2.err" || status=$?
    [ "$status" != 124 ] || fail "$(basename "$1") did not end within $PATIENCE_SECONDS s at end of input"
}
processor_lines() { tr -d '\r' <"$1" | head -n "$REPORT_LINES" | sed 4d; }

WINEARCH=win32 "$WINE" wineboot -i >/dev/null 2>&1 || fail "wineboot could not create a win32 prefix"
for version in $VERSIONS; do
    "$WINE" winecfg -v "$version" >/dev/null 2>&1 || fail "winecfg could not set $version"
    echo "--- $version: $("$WINE" cmd /c ver </dev/null 2>/dev/null | tr -d '\r' | grep . || true)"
    report=$work/$version.report dump=$work/$version.dump
    run_exe "$windows/cpuprobe.exe" "$report"
    [ "$(wc -l <"$report")" = "$REPORT_LINES" ] &&
        cmp -s <(tr -d '\r' <"$report" | sed 's/$/\r/') "$report" ||
        fail "$version: cpuprobe.exe did not print $REPORT_LINES lines each ending in \\r\\n"
    tr -d '\r' <"$report"
    run_exe "$windows/cpuprobe-dump.exe" "$dump"
    CPUPROBE_SCENARIO=$dump "$sim" </dev/null >"$dump.replayed" 2>&1 || true
    diff <(processor_lines "$report") <(processor_lines "$dump.replayed") ||
        fail "$version: the report (<) and the replay of cpuprobe-dump.exe's dump (>) differ"
    echo "($version: the dump of $(grep -c ' eax=' "$dump") leaves replays to the same processor)"
done
echo "wine_versions: cpuprobe.exe and cpuprobe-dump.exe ran as Windows 95, 98 and NT 4.0"
