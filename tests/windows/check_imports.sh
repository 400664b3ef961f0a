#!/usr/bin/env bash
# What a Windows program asks of the Windows that loads it, read from its header with
# `objdump -p`:
#
#   check_imports.sh xp WIDTH EXE...   every import on windows-xp-imports.txt for that width,
#                                      and a subsystem version no later than Windows XP's (5.1;
#                                      5.2, Windows XP x64, for 64-bit programs)
#   check_imports.sh win95 EXE...      a 32-bit console program whose subsystem and OS versions
#                                      are 4.0, which every Windows from 95 and NT 4.0 on loads;
#                                      every import exported by Windows 95's own DLLs
#                                      (windows-95-exports.txt), none of its wide-character ones
#                                      (wide-character-imports.txt), which are stubs there
#   check_imports.sh refuses-vista WIDTH   the xp check itself, on a program built here to need
#                                      Windows Vista: it must name both reasons
#
# Prints each program's versions and imports, and every problem; exits 1 on any.
set -euo pipefail
export LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

triplet() { if [ "$1" = 64 ]; then echo x86_64-w64-mingw32; else echo i686-w64-mingw32; fi; }

# The imports in a header on stdin, one dll!Function a line (dll!#N for one imported by
# ordinal, which no list can vouch for), the DLL's name in lower case, sorted.
imports() {
    awk '/^The Import Tables/ { on = 1; next }
         on && /^[^ \t]/ { on = 0 }
         on && /^\tDLL Name: / { dll = tolower($3); next }
         on && dll != "" && /^\t[0-9a-f]+\t/ { print dll "!" ($3 == "<none>" ? "#" $2 : $3) }' |
        sort -u
}

field() { awk -v name="$1" '$1 == name { print $2 }'; }
version() { echo "$(field "Major$1Version" <<<"$2").$(field "Minor$1Version" <<<"$2")"; }

# The first column of a list's lines, comments and blank lines left out.
listed() { grep -Ev '^(#|$)' "$here/$1" | awk '{ print $1 }'; }

# Prints why the program would not start on Windows XP, a line each.
xp_problems() {
    local width=$1 header=$2 wanted format=pei-i386
    [ "$width" = 32 ] || format=pei-x86-64
    wanted=$([ "$width" = 32 ] && echo 5.1 || echo 5.2)
    grep -q "file format $format\$" <<<"$header" || echo "not a $width-bit Windows program"
    awk -v got="$(version Subsystem "$header")" -v wanted="$wanted" \
        'BEGIN { if (got + 0 > wanted + 0) print "subsystem version " got ", above Windows XP'"'"'s " wanted }'
    comm -23 <(imports <<<"$header") <(grep -Ev '^(#|$)' "$here/windows-xp-imports.txt" |
        awk -v width="$width" 'index("," $2 ",", "," width ",") { print $1 }' | sort -u) |
        sed 's/^/not on the Windows XP list: /'
}

win95_problems() {
    local header=$2 field_name
    grep -q 'file format pei-i386$' <<<"$header" || echo "not a 32-bit Windows program"
    grep -Eq '^Subsystem[[:space:]]+00000003' <<<"$header" || echo "not a console program"
    for field_name in Subsystem OSystem; do
        [ "$(version "$field_name" "$header")" = 4.0 ] ||
            echo "${field_name/OSystem/OS} version $(version "$field_name" "$header"), not 4.0"
    done
    comm -23 <(imports <<<"$header") <(listed windows-95-exports.txt |
        awk -F'!' '{ print tolower($1) "!" $2 }' | sort -u) | sed 's/^/not exported by Windows 95: /'
    imports <<<"$header" | cut -d'!' -f2 | grep -E "$(listed wide-character-imports.txt | paste -sd'|')" |
        sed 's/^/a wide-character function: /' || true
}

check() {
    local kind=$1 width=$2 exe=$3 header problems
    header=$(objdump -p "$exe") || { echo "$exe: objdump cannot read it"; return 1; }
    [ -n "$(imports <<<"$header")" ] || { echo "$exe: no imports found"; return 1; }
    echo "$(basename "$exe"): subsystem $(version Subsystem "$header"), OS $(version OSystem "$header"), imports $(imports <<<"$header" | paste -sd' ')"
    problems=$("${kind}_problems" "$width" "$header")
    [ -z "$problems" ] || { sed "s|^|  $exe: |" <<<"$problems"; return 1; }
}

status=0
case "${1:-}" in
    xp) width=$2 && shift 2 && for exe in "$@"; do check xp "$width" "$exe" || status=1; done ;;
    win95) shift && for exe in "$@"; do check win95 32 "$exe" || status=1; done ;;
    refuses-vista)
        work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
        printf '#include <windows.h>\nint main(void) { return (int)(GetTickCount64() & 1); }\n' >"$work/vista.c"
        "$(triplet "$2")-gcc-win32" -D_WIN32_WINNT=0x0600 "$work/vista.c" -o "$work/vista.exe" \
            -Wl,--major-subsystem-version,6,--minor-subsystem-version,0
        problems=$(xp_problems "$2" "$(objdump -p "$work/vista.exe")")
        echo "$problems"
        grep -q 'not on the Windows XP list: kernel32.dll!GetTickCount64' <<<"$problems" &&
            grep -q 'subsystem version 6.0' <<<"$problems" || status=1
        ;;
    *) sed -n 's/^#   check_imports.sh/usage: check_imports.sh/p' "$0" >&2 && exit 2 ;;
esac
[ "$status" = 0 ] || echo "check_imports: FAILED (see above)" >&2
exit "$status"
