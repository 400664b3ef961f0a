#!/usr/bin/env bash
# The instruction audit of the programs for the oldest processors: every instruction in their
# code, read with `objdump -d`, must be one a 386 has (an x87 one where it names the 387's), but
# for the probe's one CPUID and one RDTSC; no operand may name an MMX, SSE or AVX register; and
# the flags register is pushed and popped 32 bits wide, so the ID bit's test sees bit 21. The
# list of what is forbidden is data: forbidden-instructions.txt beside this script.
#
# usage: tests/platforms/audit_instructions.sh [--rules PATTERN] PROGRAM...
#
# PROGRAM is a 32-bit ELF or PE file (the Linux tool, a .exe), or a DOS program (NAME.COM, with
# the linker map NAME.MAP beside it): its code, up to the map's __text_end, is read as 16-bit
# code loaded at 0x100, and the entry's stretch from _start to DosEntry386, which runs before
# the processor is known to be a 386, must also hold nothing an 8086 lacks (forbidden-8086.txt,
# a list of instruction bytes). --rules keeps only the rules whose line matches PATTERN (and
# leaves out the register check): a build for a later processor checks its flags code alone
# with --rules pushf. Prints one line of counts for each program and every offending
# instruction with its address; exits 1 if any program fails.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly FORBIDDEN=$here/forbidden-instructions.txt
readonly FORBIDDEN_8086=$here/forbidden-8086.txt
readonly REGISTERS='%(mm[0-7]|[xyz]mm[0-9]+)'

rules=.
registers_checked=true
if [ "${1:-}" = --rules ]; then
    rules=${2:?} registers_checked=false
    shift 2
fi
[ $# -ge 1 ] || {
    sed -n 's/^# usage: //p' "$0" >&2
    exit 2
}
command -v objdump >/dev/null || {
    echo "audit: objdump is not installed (binutils)" >&2
    exit 2
}

# Address and instruction, a line each, prefixes such as lock and rep left off the mnemonic.
# objdump marks bytes it cannot decode "(bad)": no x86 runs them as an instruction (in a
# MinGW program they are the -1 and 0 words that end its lists of constructors and destructors,
# which its linker places among the code).
instructions() {
    disassembly "$1" --no-show-raw-insn | awk -F'\t' '
        NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {
            text = $2
            while (text ~ /^(lock|rep|repz|repnz|repe|repne|cs|ds|es|fs|gs|ss|data16|data32|addr16|addr32|notrack|bnd) /)
                sub(/^[a-z0-9]+ /, "", text)
            if (text != "") print $1 "\t" text
        }'
}

# An address the linker map beside a DOS program gives a symbol.
map_address() {
    awk -v name="$2" '$2 == name { print $1; exit }' "${1%.COM}.MAP"
}

# objdump's listing of a DOS program's code, read as 16-bit code loaded at 0x100, from its
# start up to the symbol STOP of its map; OPTIONS are objdump's.
com_disassembly() {
    local program=$1 stop=$2
    shift 2
    objdump -D -b binary -m i8086 --adjust-vma=0x100 --start-address=0x100 \
        --stop-address="$(map_address "$program" "$stop")" "$@" "$program"
}

# objdump's listing of a program's code, with the further options given.
disassembly() {
    local program=$1
    shift
    case "$program" in
        *.COM) com_disassembly "$program" __text_end "$@" ;;
        *) objdump -d "$@" "$program" ;;
    esac
}

# The DOS entry's stretch before its processor test: each instruction's bytes, its 8086
# prefixes (segment, LOCK, REP) left off, counted against the first line of forbidden-8086.txt
# that matches them.
audit_8086_stretch() {
    local program=$1 found
    found=$(com_disassembly "$program" DosEntry386 |
        awk -F'\t' -v list="$FORBIDDEN_8086" -v name="$(basename "$program")" '
            BEGIN {
                while ((getline line < list) > 0) {
                    if (line ~ /^(#|$)/) continue
                    split(line, field, / +/)
                    pattern[++lines] = field[1]; allowed[lines] = field[2]
                    first[lines] = substr(line, index(line, field[3]))
                }
            }
            NF >= 3 && $1 ~ /^ *[0-9a-f]+:$/ {
                total++
                bytes = $2; gsub(/ /, "", bytes)
                while (bytes ~ /^(26|2e|36|3e|f0|f2|f3)./) bytes = substr(bytes, 3)
                for (i = 1; i <= lines; i++) {
                    if (bytes !~ "^(" pattern[i] ")$") continue
                    count[i]++; where[i] = where[i] "    " $1 " " $3 "\n"
                    break
                }
            }
            END {
                for (i = 1; i <= lines; i++) {
                    if (count[i] <= allowed[i]) continue
                    printf "  %s: %d of %s (%s), at most %d allowed:\n%s", name, count[i],
                        pattern[i], first[i], allowed[i], where[i]
                }
                printf "%s, before its processor test: %d instructions", name, total
                for (i = 1; i <= lines; i++) if (allowed[i] > 0) printf "; %s %d", pattern[i], count[i] + 0
                printf "\n"
            }')
    printf '%s\n' "$found"
    ! grep -q 'allowed:$' <<<"$found"
}

audit() {
    local program=$1 listing failed=0 total bad registers forbidden=0 register_count=0
    listing=$(instructions "$program")
    total=$(grep -vc $'\t(bad)' <<<"$listing" || true)
    bad=$(grep -c $'\t(bad)' <<<"$listing" || true)
    local summary=() pattern allowed first found
    while read -r pattern allowed first; do
        found=$(awk -F'\t' -v re="^($pattern)\$" '{ split($2, word, " ") } word[1] ~ re' \
            <<<"$listing")
        local count=0
        [ -n "$found" ] && count=$(wc -l <<<"$found")
        if [ "$count" -gt "$allowed" ]; then
            forbidden=$((forbidden + count - allowed))
            echo "  $program: $count of ${pattern} (from the $first), at most $allowed allowed:"
            sed 's/^/    /' <<<"$found"
            failed=1
        fi
        [ "$allowed" -gt 0 ] && summary+=("$pattern $count")
    done < <(grep -Ev '^(#|$)' "$FORBIDDEN" | grep -E -- "$rules" |
        sed -E 's/  +/\t/; s/  +/\t/' | tr '\t' ' ')
    registers=""
    ! $registers_checked || registers=$(grep -E "$REGISTERS" <<<"$listing" || true)
    if [ -n "$registers" ]; then
        register_count=$(wc -l <<<"$registers")
        echo "  $program: an MMX, SSE or AVX register in $(wc -l <<<"$registers") instructions:"
        sed 's/^/    /' <<<"$registers" | head -20
        failed=1
    fi
    printf '%s: %s instructions; %s; past the 386 otherwise %s; MMX/SSE registers %s; %s bytes undecodable\n' \
        "$(basename "$program")" "$total" "$(IFS=,; echo "${summary[*]}" | sed 's/,/, /g')" \
        "$forbidden" "$register_count" "$bad"
    if [[ $program == *.COM ]]; then
        audit_8086_stretch "$program" || failed=1
    fi
    return "$failed"
}

status=0
for program in "$@"; do
    [ -f "$program" ] || {
        echo "audit: no $program" >&2
        exit 2
    }
    audit "$program" || status=1
done
[ "$status" = 0 ] || echo "audit: FAILED: an instruction a 386 lacks (see above)" >&2
exit "$status"
