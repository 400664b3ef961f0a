#!/usr/bin/env bash
# The instruction audit of the programs for the oldest processors: every instruction in their
# code, read with `objdump -d`, must be one a 386 has (an x87 one where it names the 387's), but
# for the probe's one CPUID and one RDTSC; no operand may name an MMX, SSE or AVX register; and
# the flags register is pushed and popped 32 bits wide, so the ID bit's test sees bit 21. The
# list of what is forbidden is data: forbidden-instructions.txt beside this script.
#
# usage: tests/platforms/audit_instructions.sh [--rules PATTERN] PROGRAM...
#
# PROGRAM is a 32-bit ELF or PE file (the Linux tool, a .exe). --rules keeps only the rules
# whose line matches PATTERN (and leaves out the register check): a build for a later
# processor checks its flags code alone with --rules pushf. Prints one line of counts for each
# program and every offending instruction with its address; exits 1 if any program fails.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly FORBIDDEN=$here/forbidden-instructions.txt
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
    objdump -d --no-show-raw-insn "$1" | awk -F'\t' '
        NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {
            text = $2
            while (text ~ /^(lock|rep|repz|repnz|repe|repne|cs|ds|es|fs|gs|ss|data16|data32|addr16|addr32|notrack|bnd) /)
                sub(/^[a-z0-9]+ /, "", text)
            if (text != "") print $1 "\t" text
        }'
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
