# shellcheck shell=bash
# Sourced: reading a Windows program's header as `objdump -p` prints it.

# The imports in the header on stdin, one dll!Function a line (dll!#N for one imported by
# ordinal, which no export list can vouch for), the DLL's name in lower case, sorted.
imports_in_header() {
    awk '/^The Import Tables/ { in_imports = 1; next }
         in_imports && /^[^ \t]/ { in_imports = 0 }
         in_imports && /^\tDLL Name: / { dll = tolower($3); next }
         in_imports && dll != "" && /^\t[0-9a-f]+\t/ {
             print dll "!" ($3 == "<none>" ? "#" $2 : $3) }' |
        sort -u
}

# One value of the header on stdin, such as MajorSubsystemVersion.
header_field() { awk -v field="$1" '$1 == field { print $2 }'; }
