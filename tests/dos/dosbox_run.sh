#!/usr/bin/env bash
# The emulator of the DOS build (cmake/dos-com.cmake): runs one DOS program under DOSBox,
# headless, and hands back what it did: its standard output on this script's, its exit status
# (read with `if errorlevel`) as this script's, and the files it wrote into a folder. Its
# standard input is this script's, as a file (an empty one where that is at its end).
#
# usage: tests/dos/dosbox_run.sh [OPTION...] PROGRAM.COM [OPTION...]
#   --cputype TYPE     DOSBox's cputype: 386 (no CPUID), 486_slow (CPUID, no TSC),
#                      pentium_slow (a TSC, the default)
#   --cycles N         cycles=fixed N: N instructions and N counts of the time-stamp counter an
#                      emulated millisecond (default 20000)
#   --console          output left on DOSBox's console: this script prints nothing
#   --files FOLDER     where the files the program wrote are copied, under their DOS names
#   --before PROGRAM   another DOS program run just before it in the same session
#   --after PROGRAM    another DOS program run just after it (its status is not kept)
#   --time-limit S     DOSBox is ended after S seconds (default 60): status 124
# Exits with the program's status; 124 at the time limit, 125 where DOSBox ran but the status
# never came back, and 77 with one line "SKIPPED: ..." where there is no dosbox.
set -euo pipefail
cputype=pentium_slow cycles=20000 console=0 files="" before="" after="" time_limit=60 program=""
while [ $# -gt 0 ]; do
    case $1 in
        --console) console=1 && shift && continue ;;
        --cputype) cputype=$2 ;;
        --cycles) cycles=$2 ;;
        --files) files=$2 ;;
        --before) before=$2 ;;
        --after) after=$2 ;;
        --time-limit) time_limit=$2 ;;
        -*) sed -n 's/^# usage: //p' "$0" >&2 && exit 2 ;;
        *) program=$1 && shift && continue ;;
    esac
    shift 2
done
[ -n "$program" ] || { sed -n 's/^# usage: //p' "$0" >&2 && exit 2; }
command -v dosbox >/dev/null || { echo "SKIPPED: dosbox is not installed (Debian: dosbox)" && exit 77; }

drive=$(mktemp -d)
trap 'rm -rf "$drive"' EXIT
name() { basename "$1" | tr '[:lower:]' '[:upper:]'; }
for copied in "$program" $before $after; do
    cp "$copied" "$drive/$(name "$copied")"
done
if [ -t 0 ]; then : >"$drive/INPUT.IN"; else cat >"$drive/INPUT.IN"; fi
output=">OUTPUT.OUT"
[ "$console" = 0 ] || output=""
# DOSBox's shell has no %errorlevel%: the highest status the program's reaches jumps to the
# line that writes it.
{
    printf '@echo off\r\n'
    [ -z "$before" ] || printf '%s\r\n' "$(name "$before")"
    printf '%s <INPUT.IN %s\r\n' "$(name "$program")" "$output"
    for status in $(seq 255 -1 0); do printf 'if errorlevel %d goto s%d\r\n' "$status" "$status"; done
    for status in $(seq 0 255); do printf ':s%d\r\necho %d>STATUS.OUT\r\ngoto end\r\n' "$status" "$status"; done
    printf ':end\r\n'
    [ -z "$after" ] || printf '%s\r\n' "$(name "$after")"
    printf 'exit\r\n'
} >"$drive/RUN.BAT"
printf '%s\n' '[dosbox]' 'memsize=16' '[cpu]' 'core=normal' "cputype=$cputype" "cycles=fixed $cycles" \
    '[mixer]' 'nosound=true' '[speaker]' 'pcspeaker=false' '[midi]' 'mpu401=none' '[autoexec]' \
    "mount c \"$drive\"" 'c:' 'RUN.BAT' >"$drive/.conf"
mkdir "$drive/.home"
status=0
HOME=$drive/.home SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout --kill-after=5 "$time_limit" \
    dosbox -conf "$drive/.conf" -exit </dev/null >"$drive/.home/log" 2>&1 || status=$?
if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    echo "dosbox_run: $(name "$program") did not end within $time_limit s" >&2
    exit 124
fi
[ "$console" = 1 ] || cat "$drive/OUTPUT.OUT" 2>/dev/null || true
if [ -n "$files" ]; then
    mkdir -p "$files"
    find "$drive" -maxdepth 1 -type f ! -name '*.OUT' ! -name INPUT.IN ! -name RUN.BAT ! -name '.*' \
        -exec cp {} "$files/" \;
fi
[ -s "$drive/STATUS.OUT" ] || {
    echo "dosbox_run: $(name "$program") never returned to the batch file (dosbox: $status)" >&2
    sed 's/^/  dosbox: /' "$drive/.home/log" >&2
    exit 125
}
exit "$(tr -dc '0-9' <"$drive/STATUS.OUT")"
