#!/usr/bin/env bash
# Checks that the places naming the release agree: the version in the top-level project(),
# CHANGELOG.md's top release entry and debian/changelog's top entry, and that both changelogs give
# the release the same day. Fails naming the disagreement. Usage: tools/check-version.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

fail() {
    printf 'check-version: FAILED: %s\n' "$*" >&2
    exit 1
}

# The first line of FILE that matches START, an extended regular expression.
first_line() {
    grep -m 1 -E "$2" "$root/$1" || fail "$1: no line matching $2"
}

# The groups that PATTERN captures in LINE (read from FILE), one a line; fails when LINE does
# not match.
captures() {
    local file=$1 line=$2 pattern=$3
    [[ $line =~ $pattern ]] || fail "$file: \"$line\" does not match $pattern"
    printf '%s\n' "${BASH_REMATCH[@]:1}"
}

line=$(first_line CMakeLists.txt '^project\(cpuprobe ')
project=$(captures CMakeLists.txt "$line" '^project\(cpuprobe VERSION ([0-9]+\.[0-9]+\.[0-9]+) ')

# The first release entry: an "## [Unreleased]" heading above it collects what comes next.
line=$(first_line CHANGELOG.md '^## \[[0-9]')
found=$(captures CHANGELOG.md "$line" '^## \[([0-9]+\.[0-9]+\.[0-9]+)\] - ([0-9]{4}-[0-9]{2}-[0-9]{2})$')
{ read -r changelog; read -r changelog_day; } <<<"$found"

line=$(first_line debian/changelog '^cpuprobe ')
debian=$(captures debian/changelog "$line" '^cpuprobe \(([0-9]+\.[0-9]+\.[0-9]+)\) [A-Za-z-]+; urgency=[a-z]+$')
line=$(first_line debian/changelog '^ -- ')
debian_date=$(captures debian/changelog "$line" '^ -- .+ <.+>  (.+)$')
debian_day=$(date -u -d "$debian_date" +%F) || fail "debian/changelog: cannot read the date \"$debian_date\""

[ "$changelog" = "$project" ] ||
    fail "CHANGELOG.md's top entry is $changelog, but project() in CMakeLists.txt says $project"
[ "$debian" = "$project" ] ||
    fail "debian/changelog's top entry is $debian, but project() in CMakeLists.txt says $project"
[ "$debian_day" = "$changelog_day" ] ||
    fail "debian/changelog dates $debian on $debian_day, but CHANGELOG.md on $changelog_day"

echo "check-version: $project in CMakeLists.txt, CHANGELOG.md and debian/changelog, released $changelog_day"
