#!/usr/bin/env bash
# Inside a fresh root of a Debian release after 12 (.ci/debian-roots.sh runs it as mmdebstrap's
# last hook), with the commit under test in /root/cpuprobe and the Debian 12 package in
# /root/bookworm: the package builds, on unstable with its test suite (its compiler is the
# newest; Debian 13's lies between it and Debian 12's, whose build runs the suite in every
# preset), on Debian 13 without; that release's lintian finds in the
# binary packages no tag at all on Debian 13, no error or warning on unstable (whose lintian
# gains new tags as it goes), and no error or warning in the source, whose policy version and
# debhelper level are Debian 12's; the Debian 12 package installs, passes its autopkgtest
# checks and purges without a trace. Where the archive cannot install the build dependencies,
# it says why on a line "archive: ..." and exits 75, for the release to be skipped.
# usage: debian-release-check.sh RELEASE
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
release=${1:?usage: debian-release-check.sh RELEASE}
fail() {
    printf 'debian-release-check: %s: FAILED: %s\n' "$release" "$*" >&2
    exit 1
}
passed() { printf 'debian-release-check: %s: passed: %s\n' "$release" "$*"; }
cd /root/cpuprobe
echo "inside: $(. /etc/os-release && echo "$PRETTY_NAME"), lintian $(dpkg-query -W -f '${Version}' lintian)"

profile=()
[ "$release" = sid ] || { profile=(-P nocheck) && export DEB_BUILD_OPTIONS=nocheck DEB_BUILD_PROFILES=nocheck; }
if ! apt-get -o Acquire::Retries=3 build-dep -y "${profile[@]}" ./ >/tmp/build-dep.log 2>&1; then
    cat /tmp/build-dep.log
    echo "archive: the archive could not install the build dependencies: $(grep -m 1 '^E: ' /tmp/build-dep.log | sed 's/^E: //')"
    exit 75
fi
log=$(tools/build-deb.sh /root/out) || fail "tools/build-deb.sh (its log is above)"
passed "built, $(grep -Eo '[0-9]+% tests passed.*' <<<"$log" || echo "tests not run")"

lintian=(lintian --pedantic --display-info --display-experimental)
binary=(--fail-on error,warning)
[ "$release" = sid ] || binary=(--fail-on error,warning,info,pedantic,experimental)
tags=$("${lintian[@]}" "${binary[@]}" /root/out/*.changes 2>/dev/null) ||
    fail "lintian on the binary packages: $tags"
[ "$release" = sid ] || [ -z "$tags" ] || fail "lintian on the binary packages: $tags"
passed "lintian on the binary packages: ${tags:-no tag}"
tags=$("${lintian[@]}" --fail-on error,warning /root/out/*.dsc 2>/dev/null) ||
    fail "lintian on the source package: $tags"
passed "lintian on the source package: no error or warning${tags:+ (shown: $(paste -sd';' <<<"$tags"))}"

apt-get install -y /root/bookworm/*.deb >/dev/null || fail "apt-get install of the Debian 12 package"
files=$(dpkg -L cpuprobe | while read -r path; do [ -d "$path" ] || echo "$path"; done)
AUTOPKGTEST_TMP=$(mktemp -d) bash debian/tests/installed-report || fail "the installed tool's report"
bash debian/tests/manual-page || fail "the installed manual page"
apt-get purge -y cpuprobe >/dev/null || fail "apt-get purge cpuprobe"
for path in $files; do
    [ ! -e "$path" ] || fail "$path left behind by the purge"
done
passed "the Debian 12 package installs, runs, shows its page and purges without a trace"
