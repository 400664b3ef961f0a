#!/usr/bin/env bash
# The PE header and the imports of the win32 download's programs, against Windows 95: each .exe
# must be a 32-bit console program whose subsystem and OS versions are 4.0, which every Windows
# from 95 and NT 4.0 on loads (the loaders of 95, 98, ME, NT 4.0 and 2000 refuse a higher
# subsystem version), and every function it imports must be one that Windows 95's own DLLs
# export (tests/windows/windows-95-exports.txt) and none of its wide-character ones
# (tests/windows/wide-character-imports.txt), which are stubs there.
#
# usage: tests/old-x86/check_win95_imports.sh EXE...
#
# Prints each program's header versions and import list; exits 1 if any program fails.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly EXPORTS=$here/../windows/windows-95-exports.txt
readonly WIDE=$here/../windows/wide-character-imports.txt
readonly WANTED_VERSION=4.0

[ $# -ge 1 ] || {
    sed -n 's/^# usage: //p' "$0" >&2
    exit 2
}

# shellcheck source=tests/windows/pe_header.sh
source "$here/../windows/pe_header.sh"

check() {
    local exe=$1 header failed=0 version field imports
    header=$(objdump -p "$exe") || {
        echo "  $exe: objdump cannot read it"
        return 1
    }
    grep -q 'file format pei-i386$' <<<"$header" || {
        echo "  $exe: not a 32-bit Windows program"
        failed=1
    }
    grep -Eq '^Subsystem[[:space:]]+00000003' <<<"$header" || {
        echo "  $exe: not a console program"
        failed=1
    }
    for field in Subsystem OSystem; do
        version=$(header_field "Major${field}Version" <<<"$header").$(header_field "Minor${field}Version" <<<"$header")
        if [ "$version" != "$WANTED_VERSION" ]; then
            echo "  $exe: ${field/OSystem/OS} version $version, not $WANTED_VERSION"
            failed=1
        fi
    done
    imports=$(imports_in_header <<<"$header")
    [ -n "$imports" ] || {
        echo "  $exe: no imports found"
        failed=1
    }
    local missing wide
    missing=$(comm -23 <(printf '%s\n' "$imports") \
        <(grep -Ev '^(#|$)' "$EXPORTS" | awk '{ print tolower(substr($1, 1, index($1, "!"))) substr($1, index($1, "!") + 1) }' | sort -u))
    if [ -n "$missing" ]; then
        sed "s|^|  $exe: not exported by Windows 95: |" <<<"$missing"
        failed=1
    fi
    wide=$(cut -d'!' -f2 <<<"$imports" |
        grep -E "$(grep -Ev '^(#|$)' "$WIDE" | awk '{ print $1 }' | paste -sd'|')" || true)
    if [ -n "$wide" ]; then
        sed "s|^|  $exe: a wide-character function: |" <<<"$wide"
        failed=1
    fi
    printf '%s: subsystem %s, OS %s, %s imports: %s\n' "$(basename "$exe")" \
        "$(header_field MajorSubsystemVersion <<<"$header").$(header_field MinorSubsystemVersion <<<"$header")" \
        "$(header_field MajorOSystemVersion <<<"$header").$(header_field MinorOSystemVersion <<<"$header")" \
        "$(wc -l <<<"$imports")" "$(paste -sd' ' <<<"$imports")"
    return "$failed"
}

status=0
for exe in "$@"; do
    check "$exe" || status=1
done
[ "$status" = 0 ] || echo "check_win95_imports: FAILED: a program Windows 95 cannot load (see above)" >&2
exit "$status"
