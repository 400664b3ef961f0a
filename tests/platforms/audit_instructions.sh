#!/usr/bin/env bash
# The instruction audit of the programs for the oldest processors: every instruction in their
# code, read with `objdump -d`, must be one a 386 has (an x87 one where it names the 387's), but
# for the probe's one CPUID and one RDTSC; no operand may name an MMX, SSE or AVX register; and
# the flags register is pushed and popped 32 bits wide, so the ID bit's test sees bit 21. What
# is forbidden is data: forbidden-instructions.txt beside this script.
#
# usage: tests/platforms/audit_instructions.sh [--rules PATTERN] PROGRAM...
#
# PROGRAM is a 32-bit ELF or PE file (the Linux tool, a .exe), or a DOS program (NAME.COM, with
# the linker map NAME.MAP beside it): its code, up to the map's __text_end, is read as 16-bit
# code loaded at 0x100, and the entry's stretch from _start to DosEntry386, which runs before
# the processor is known to be a 386, must also hold nothing an 8086 lacks (forbidden-8086.txt,
# a list of instruction bytes). --rules keeps only the rules whose line matches PATTERN (and
# leaves out the register check): a build for a later processor checks its flags code alone
# with --rules pushf. Prints a line of counts for each program and every offending instruction
# with its address; exits 1 if any program fails.
set -euo pipefail
export LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly REGISTERS='%(mm[0-7]|[xyz]mm[0-9]+)'
rules=. registers=true
if [ "${1:-}" = --rules ]; then
    rules=$2 registers=false
    shift 2
fi
[ $# -ge 1 ] || { sed -n 's/^# usage: //p' "$0" >&2 && exit 2; }

# objdump's listing of a program's code, a DOS program's up to the symbol STOP of its map.
disassembly() {
    local program=$1 stop=${2:-__text_end}
    if [[ $program == *.COM ]]; then
        objdump -D -b binary -m i8086 --adjust-vma=0x100 --start-address=0x100 \
            --stop-address="$(awk -v name="$stop" '$2 == name { print $1; exit }' "${program%.COM}.MAP")" \
            "$program"
    else
        objdump -d "$program"
    fi
}

# Each instruction of a listing on stdin: its address, what the rules match (KEY: its mnemonic,
# or its bytes), and its text; prefixes such as lock, rep and segments left off. objdump marks
# bytes it cannot decode "(bad)": no x86 runs them (in a MinGW program they are the -1 and 0
# words that end its lists of constructors and destructors, placed among the code).
instructions() {
    awk -F'\t' -v key="$1" 'NF >= 3 && $1 ~ /^ *[0-9a-f]+:$/ {
        text = $3
        while (text ~ /^(lock|rep[a-z]*|[c-gs]s|data16|data32|addr16|addr32|notrack|bnd) /) sub(/^[a-z0-9]+ /, "", text)
        bytes = $2; gsub(/ /, "", bytes)
        while (bytes ~ /^(26|2e|36|3e|f0|f2|f3)./) bytes = substr(bytes, 3)
        split(text, word, " ")
        print $1 "\t" (key == "bytes" ? bytes : word[1]) "\t" text }'
}

# Counts the instructions on stdin against the rules of LIST (each counted by the first rule
# whose pattern matches its key whole): prints every rule exceeded, with its instructions,
# then one line of counts for NAME; exits 1 where a rule was exceeded.
count() {
    awk -F'\t' -v list="$1" -v rules="$2" -v name="$3" '
        BEGIN {
            while ((getline line < list) > 0) {
                if (line ~ /^(#|$)/ || line !~ rules) continue
                split(line, field, /  +/)
                pattern[++n] = field[1]; allowed[n] = field[2]; first[n] = field[3]
            }
        }
        $3 == "(bad)" { bad++; next }
        {
            total++
            for (i = 1; i <= n; i++)
                if ($2 ~ "^(" pattern[i] ")$") { count[i]++; where[i] = where[i] "    " $1 " " $3 "\n"; break }
        }
        END {
            for (i = 1; i <= n; i++) {
                if (count[i] > allowed[i]) {
                    printf "  %s: %d of %s (%s), at most %d allowed:\n%s", name, count[i], pattern[i], first[i], allowed[i], where[i]
                    failed = 1
                }
                if (allowed[i] > 0) counts = counts sprintf("; %s %d", pattern[i], count[i])
            }
            printf "%s: %d instructions%s; %d bytes undecodable\n", name, total, counts, bad
            exit failed
        }'
}

audit() {
    local program=$1 name failed=0 registers_found
    name=$(basename "$program")
    disassembly "$program" | instructions mnemonic >"$work/listing"
    count "$here/forbidden-instructions.txt" "$rules" "$name" <"$work/listing" || failed=1
    if $registers; then
        registers_found=$(grep -E "$REGISTERS" "$work/listing" || true)
        [ -z "$registers_found" ] || {
            echo "  $name: an MMX, SSE or AVX register:" && head -20 <<<"$registers_found"
            failed=1
        }
    fi
    if [[ $program == *.COM ]]; then
        disassembly "$program" DosEntry386 | instructions bytes |
            count "$here/forbidden-8086.txt" . "$name, before its processor test" || failed=1
    fi
    return "$failed"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for program in "$@"; do
    [ -f "$program" ] || { echo "audit: no $program" >&2 && exit 2; }
    audit "$program" || status=1
done
[ "$status" = 0 ] || echo "audit: FAILED: an instruction the processor lacks (see above)" >&2
exit "$status"
