# shellcheck shell=bash
# Sourced: the report's fixed shape, as tests/data/report-shape.txt defines it.
report_shape_file=$(dirname "${BASH_SOURCE[0]}")/data/report-shape.txt

# One anchored extended regular expression a line of the report, in order.
report_patterns() { sed -n 's/^"\([^"]*\)" \{0,1\}\(.*\)$/^\1(\2)$/p' "$report_shape_file"; }

report_line_count() { report_patterns | wc -l; }

# Exits 0 when the file holds a whole report, its lines ending in LF or CR LF; otherwise names
# the first line that is wrong.
check_report() {
    local file=$1 number=0 line patterns
    mapfile -t patterns < <(report_patterns)
    if [ "$(wc -l <"$file")" -ne "${#patterns[@]}" ]; then
        echo "$file has $(wc -l <"$file") lines, not ${#patterns[@]}"
        return 1
    fi
    while IFS= read -r line; do
        line=${line%$'\r'}
        if ! [[ $line =~ ${patterns[number]} ]]; then
            echo "$file: line $((number + 1)) \"$line\" does not match ${patterns[number]}"
            return 1
        fi
        number=$((number + 1))
    done <"$file"
}
