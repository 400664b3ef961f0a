#!/usr/bin/env bash
# The CI's install helper (.ci/lib.sh) against an archive that is broken on purpose: a local
# apt source whose Release file gives the wrong size for its index, beside a whole one that
# offers a package pinned so that it cannot be installed. The update must go on with a WARNING:
# line naming the index, the install must be skipped with apt's own line, a package that a check
# truly needs must fail with that line, and the helpers' own status must be 0.
#
# apt runs with a configuration of its own (tools/private-apt.sh): its sources, lists, cache,
# pins and dpkg status all live in a scratch folder, so nothing of this machine's apt setup is
# read or changed. Needs apt-get and dpkg-scanpackages (dpkg-dev); root is not needed.
# Usage: tests/ci/archive_fault_test.sh
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
for tool in apt-get dpkg-scanpackages; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: no $tool here (Debian: apt, dpkg-dev)" && exit 77; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    printf 'archive-fault test: FAILED: %s\n' "$*" >&2
    exit 1
}

# A package with nothing in it, for a local archive.
make_package() {
    local name=$1 root="$scratch/pkg-$1"
    mkdir -p "$root/DEBIAN"
    printf 'Package: %s\nVersion: 1.0\nArchitecture: all\nMaintainer: CI <ci@invalid>\nDescription: test package\n' \
        "$name" >"$root/DEBIAN/control"
    dpkg-deb --root-owner-group -b "$root" "$scratch/$name.deb" >/dev/null
}

# A flat archive in $1 holding the packages named after it, with a Release file listing the
# index's size and hash as they are, or with the size off by 1184 bytes (as a mirror mid-sync).
make_archive() {
    local dir="$scratch/$1" size_fault=$2 name
    shift 2
    mkdir -p "$dir"
    for name in "$@"; do cp "$scratch/$name.deb" "$dir/"; done
    (cd "$dir" && dpkg-scanpackages --multiversion . /dev/null 2>/dev/null >Packages)
    local size sha
    size=$(($(stat -c %s "$dir/Packages") + size_fault))
    sha=$(sha256sum "$dir/Packages" | cut -d ' ' -f 1)
    printf 'Origin: ci\nLabel: ci\nSuite: ci\nCodename: ci\nDate: %s\nSHA256:\n %s %s Packages\n' \
        "$(date -u -R)" "$sha" "$size" >"$dir/Release"
}

make_package ci-torn-index-package
make_package ci-pinned-package
make_archive torn 1184 ci-torn-index-package
make_archive whole 0 ci-pinned-package

# shellcheck source=tools/private-apt.sh
source "$repo/tools/private-apt.sh"
private_apt "$scratch/apt" "$(dpkg --print-architecture)"
cat >"$scratch/apt/sources.list" <<SOURCES
deb [trusted=yes] file:$scratch/torn ./
deb [trusted=yes] file:$scratch/whole ./
SOURCES
printf 'Package: ci-pinned-package\nPin: release *\nPin-Priority: -1\n' \
    >"$scratch/apt/preferences.d/ci-pin"

# The helpers as the legs use them, in a shell of their own: what they print, and their status.
run_helpers() {
    env -u CPUPROBE_CI_SKIPS CPUPROBE_APT_PAUSE=0 ci_name=archive-fault-test bash -c '
        set -euo pipefail
        source "$1/.ci/lib.sh"
        ci_apt_update
        if ci_try_install ci-pinned-package; then
            echo "INSTALLED: ci-pinned-package"
        else
            skipped "the check that needs ci-pinned-package" \
                "the package archive could not install ci-pinned-package: $ci_install_error"
        fi
        echo "helpers done"
    ' run-helpers "$repo"
}

status=0
output=$(run_helpers 2>&1) || status=$?
printf '%s\n' "$output" | sed 's/^/  | /'
[ "$status" = 0 ] || fail "the helpers exited with status $status"
# apt names a torn index by its size where the Release file is fetched over the network, by its
# hash where it is read from a file; either way the line names the index.
grep -Eq "^WARNING: apt-get update: Failed to fetch file:$scratch/torn/(\./)?Packages " \
    <<<"$output" || fail "no WARNING: line naming the torn index"
grep -q '^apt-get update: some indexes could not be read; trying again' <<<"$output" ||
    fail "the update was not tried again"
grep -Eq "^SKIPPED: the check that needs ci-pinned-package: the package archive could not install ci-pinned-package: .+" \
    <<<"$output" || fail "no SKIPPED: line with apt's reason"
grep -q '^helpers done$' <<<"$output" || fail "the helpers stopped early"

# A package that a check truly needs fails the leg, with apt's first error line.
status=0
output=$(env -u CPUPROBE_CI_SKIPS CPUPROBE_APT_PAUSE=0 ci_name=archive-fault-test bash -c '
    source "$1/.ci/lib.sh"; ci_install ci-pinned-package; echo "went on"' needed "$repo" 2>&1) ||
    status=$?
[ "$status" = 1 ] || fail "a needed package that cannot be installed gave status $status, not 1"
grep -Eq '^archive-fault-test: FAILED: apt-get install ci-pinned-package: .+' <<<"$output" ||
    fail "the failure does not give apt's line: $output"
! grep -q 'went on' <<<"$output" || fail "the leg went on after a needed package failed"
echo "archive-fault test: passed (the warning, the skip line and status 0; a needed package fails)"
