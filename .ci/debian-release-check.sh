#!/usr/bin/env bash
# Run by .ci/debian-releases.sh inside a fresh root of a Debian release after 12, as mmdebstrap's
# last hook (/dev, /proc and /sys mounted; apt's lists still there), with the commit under
# test in /root/cpuprobe and the package built on Debian 12 in /root/bookworm:
#   1. the package builds there with tools/build-deb.sh, running the whole test suite;
#   2. that release's lintian finds nothing in the binary packages: on Debian 13 no tag at all,
#      pedantic, informational and experimental ones included; on unstable, whose lintian
#      gains new tags as it goes, no error or warning, the rest shown; and no error or warning
#      in the source;
#   3. the Debian 12 package installs with apt, passes its own autopkgtest checks (the report
#      against /proc/cpuinfo, the manual page through man), and purges without a trace.
# Where the archive cannot install the build dependencies, it says why on a line beginning
# "archive: " and exits 75, for the release to be skipped rather than failed.
# Usage: debian-release-check.sh RELEASE
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
release=${1:?usage: debian-release-check.sh RELEASE}
fail() {
    printf 'debian-release-check: %s: FAILED: %s\n' "$release" "$*" >&2
    exit 1
}
passed() { printf 'debian-release-check: %s: passed: %s\n' "$release" "$*"; }
step() { printf '\n--- %s: %s ---\n' "$release" "$*"; }

cd /root/cpuprobe
. /etc/os-release
echo "inside: ${PRETTY_NAME:-$release}, dpkg $(dpkg-query -W -f '${Version}' dpkg)," \
    "lintian $(dpkg-query -W -f '${Version}' lintian)"

step "build dependencies"
if ! apt-get -o Acquire::Retries=3 build-dep -y ./ >/tmp/build-dep.log 2>&1; then
    cat /tmp/build-dep.log
    echo "archive: the archive could not install the build dependencies: $(grep -m 1 '^E: ' /tmp/build-dep.log | sed 's/^E: //')"
    exit 75
fi

step "build the package with its test suite"
log=$(tools/build-deb.sh /root/out) || fail "tools/build-deb.sh (its log is above)"
printf '%s\n' "$log"
passed "built, $(grep -Eo '[0-9]+% tests passed.*' <<<"$log" || echo "tests not run")"

# The binary packages must lint clean on every release. The source package declares the policy
# version and debhelper compatibility level that Debian 12's tools know (4.6.2, 13), and a later
# lintian calls them old and some fields redundant, as it does every source of that age: its
# tags are shown, and only an error or a warning fails.
lintian=(lintian --pedantic --display-info --display-experimental)
lintian_version=$(dpkg-query -W -f '${Version}' lintian)
step "lintian $lintian_version, pedantic, informational and experimental"
changes=$(echo /root/out/*.changes)
status=0
if [ "$release" = sid ]; then
    tags=$("${lintian[@]}" --fail-on error,warning "$changes" 2>/dev/null) || status=$?
    [ "$status" = 0 ] || fail "lintian on the binary packages, status $status (errors or warnings):
$tags"
    passed "lintian $lintian_version on the binary packages ($(basename "$changes")): no error or warning${tags:+ (shown: \
$(paste -sd ';' <<<"$tags" | sed 's/;/; /g'))}"
else
    tags=$("${lintian[@]}" "$changes" 2>/dev/null) || status=$?
    [ -z "$tags" ] && [ "$status" = 0 ] ||
        fail "lintian on the binary packages, status $status (no tag is allowed):
$tags"
    passed "lintian $lintian_version on the binary packages ($(basename "$changes")): no tag"
fi
status=0
tags=$("${lintian[@]}" --fail-on error,warning /root/out/*.dsc 2>/dev/null) || status=$?
[ "$status" = 0 ] || fail "lintian on the source package, status $status:
$tags"
passed "lintian $lintian_version on the source package: no error or warning${tags:+ (shown: \
$(paste -sd ';' <<<"$tags" | sed 's/;/; /g'))}"

step "install the Debian 12 package: $(basename /root/bookworm/*.deb)"
apt-get install -y /root/bookworm/*.deb >/dev/null || fail "apt-get install of the Debian 12 package"
files=$(dpkg -L cpuprobe | while read -r path; do [ -d "$path" ] || echo "$path"; done)
AUTOPKGTEST_TMP=$(mktemp -d) bash debian/tests/installed-report ||
    fail "the installed tool's report"
bash debian/tests/manual-page || fail "the installed manual page"
passed "the Debian 12 package installs, cpuprobe runs from PATH, man -w cpuprobe gives $(man -w cpuprobe)"

step "purge"
apt-get purge -y cpuprobe >/dev/null || fail "apt-get purge cpuprobe"
for path in $files; do
    [ ! -e "$path" ] || fail "$path left behind by the purge"
done
passed "purged: none of its $(wc -w <<<"$files") files left"
