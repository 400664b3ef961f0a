#!/usr/bin/env bash
# Runs one DOS program under DOSBox, headless, and hands back what it did: its standard output
# on this script's standard output, its exit status (read with `if errorlevel`) as this
# script's, and the files it wrote into a folder. The emulator of cmake/dos-com.cmake, so that
# CTest runs a DOS program like any other; the DOS checks (check_dos.sh) run it too.
#
# usage: tests/dos/dosbox_run.sh PROGRAM.COM [--cputype TYPE] [--cycles N] [--stdin FILE] [--console] [--files FOLDER] [--before PROGRAM.COM] [--after PROGRAM.COM] [--time-limit SECONDS]
#
#   --cputype TYPE     DOSBox's [cpu] cputype: 386 (no CPUID), 486_slow (CPUID, no TSC),
#                      pentium_slow (a TSC); pentium_slow where not given
#   --cycles N         cycles=fixed N: N instructions and N counts of the time-stamp counter
#                      each emulated millisecond (default 20000)
#   --stdin FILE       the program's standard input (default: NUL, which ends at once)
#   --console          standard output left on DOSBox's console, so this script prints nothing
#   --files FOLDER     where the files the program wrote are copied (DOS names, as written)
#   --before PROGRAM   another DOS program run just before, in the same DOSBox session
#   --after PROGRAM    another DOS program run just after it (its status is not kept)
#   --time-limit S     DOSBox is ended after S seconds (default 60): status 124
#
# Options may come before or after the program. Exits with the program's status (0-255);
# 124 when the time limit ended DOSBox, 125 when DOSBox ran but the program's status never
# came back, 2 for a wrong call, and 77 with one line "SKIPPED: ..." where there is no dosbox.
set -euo pipefail

usage() {
    sed -n 's/^# usage: //p' "$0" >&2
    exit 2
}

cputype=pentium_slow
cycles=20000
stdin=
console=0
files=
before=
after=
time_limit=60
program=
while [ $# -gt 0 ]; do
    case "$1" in
        --cputype) cputype=${2:?}; shift 2 ;;
        --cycles) cycles=${2:?}; shift 2 ;;
        --stdin) stdin=${2:?}; shift 2 ;;
        --console) console=1; shift ;;
        --files) files=${2:?}; shift 2 ;;
        --before) before=${2:?}; shift 2 ;;
        --after) after=${2:?}; shift 2 ;;
        --time-limit) time_limit=${2:?}; shift 2 ;;
        -*) usage ;;
        *) [ -z "$program" ] || usage; program=$1; shift ;;
    esac
done
[ -n "$program" ] || usage
command -v dosbox >/dev/null || {
    echo "SKIPPED: dosbox is not installed (Debian: apt-get install dosbox)"
    exit 77
}

# The folder mounted as C:, holding the programs, their input and the batch file that runs them.
drive=$(mktemp -d)
trap 'rm -rf "$drive"' EXIT
dos_name() { basename "$1" | tr '[:lower:]' '[:upper:]'; }
# What is copied there, which is not the program's to hand back.
ours=(! -name '*.OUT' ! -name INPUT.IN ! -name RUN.BAT ! -name dosbox.conf)
for helper in "$before" "$after"; do
    [ -n "$helper" ] || continue
    cp "$helper" "$drive/$(dos_name "$helper")"
    ours+=(! -name "$(dos_name "$helper")")
done
ours+=(! -name "$(dos_name "$program")")
cp "$program" "$drive/$(dos_name "$program")"
input=NUL
if [ -n "$stdin" ]; then
    cp "$stdin" "$drive/INPUT.IN"
    input=INPUT.IN
fi
output=">OUTPUT.OUT"
[ "$console" = 0 ] || output=

# DOSBox's shell has no %errorlevel%, and opens a line's output file even where its `if` is
# false: the highest status the program's reaches jumps to the line that writes it.
{
    printf '@echo off\r\n'
    [ -z "$before" ] || printf '%s\r\n' "$(dos_name "$before")"
    printf '%s <%s %s\r\n' "$(dos_name "$program")" "$input" "$output"
    for status in $(seq 255 -1 0); do
        printf 'if errorlevel %d goto s%d\r\n' "$status" "$status"
    done
    for status in $(seq 0 255); do
        printf ':s%d\r\necho %d>STATUS.OUT\r\ngoto end\r\n' "$status" "$status"
    done
    printf ':end\r\n'
    [ -z "$after" ] || printf '%s\r\n' "$(dos_name "$after")"
    printf 'exit\r\n'
} >"$drive/RUN.BAT"
cat >"$drive/dosbox.conf" <<EOF
[sdl]
usescancodes=false
[dosbox]
memsize=16
[cpu]
core=normal
cputype=$cputype
cycles=fixed $cycles
[mixer]
nosound=true
[speaker]
pcspeaker=false
[midi]
mpu401=none
[autoexec]
mount c "$drive"
c:
RUN.BAT
EOF
mkdir "$drive/.home"
status=0
HOME="$drive/.home" SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy \
    timeout --kill-after=5 "$time_limit" dosbox -conf "$drive/dosbox.conf" -exit \
    >"$drive/.home/dosbox.log" 2>&1 </dev/null || status=$?
if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    echo "dosbox_run: $(dos_name "$program") did not end within ${time_limit} s" >&2
    exit 124
fi
[ "$console" = 1 ] || cat "$drive/OUTPUT.OUT" 2>/dev/null || true
if [ -n "$files" ]; then
    mkdir -p "$files"
    find "$drive" -maxdepth 1 -type f "${ours[@]}" -exec cp {} "$files/" \;
fi
[ -s "$drive/STATUS.OUT" ] || {
    echo "dosbox_run: $(dos_name "$program") never returned to the batch file (dosbox: $status)" >&2
    sed 's/^/  dosbox: /' "$drive/.home/dosbox.log" >&2
    exit 125
}
exit "$(tr -dc '0-9' <"$drive/STATUS.OUT")"
