#!/usr/bin/env bash
# The Debian package in fresh roots, as root, after .ci/package.sh (whose package it installs):
#   Debian 12   piuparts installs, removes and purges it in a root debootstrap makes, and reports
#               any file left behind, changed or owned by no package;
#   Debian 13, unstable   in a minimal root mmdebstrap makes, .ci/debian-release-check.sh builds
#               the package (on unstable with its test suite), lints it with that release's
#               lintian, and installs, runs and purges the Debian 12 package.
# The three run side by side, each into its own log, shown whole as it ends. A root the archive
# cannot give, or whose build dependencies it cannot install, is skipped with the archive's
# reason; a failure of the project's build, tests, packaging or lint fails.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
ci_name=debian-roots
# shellcheck source=.ci/lib.sh
source .ci/lib.sh
# Where .ci/run builds the package beside this script, CPUPROBE_PACKAGE_LOCK names a lock it
# holds until the package is there: the roots are made meanwhile, and wait for it only where
# they need it. Then the package goes into FOLDER/bookworm, for a root to copy in.
package_into() {
    [ -z "${CPUPROBE_PACKAGE_LOCK:-}" ] || flock "$CPUPROBE_PACKAGE_LOCK" true
    mkdir -p "$1/bookworm"
    cp build-deb/first/cpuprobe_*_amd64.deb "$1/bookworm/" || fail "no package from .ci/package.sh"
}
if [ "${1:-}" = --package-into ]; then
    package_into "$2"
    exit
fi

readonly MIRROR=http://deb.debian.org/debian ARCHIVE_FAULT=75
declare -Ar NAME=([bookworm]="Debian 12" [trixie]="Debian 13" [sid]="unstable")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The commit under test, as a repository of its own, for the roots to build.
git clone -q --no-local --depth 1 "file://$PWD" "$work/cpuprobe"

piuparts_root() {
    package_into "$work/piuparts"
    piuparts --distribution=bookworm --no-upgrade-test --mirror="$MIRROR main" "$work"/piuparts/bookworm/*.deb
}

# The root of one release, and the check inside it; its status goes to RELEASE.status, which is
# missing where mmdebstrap did not get as far as the check.
release_root() {
    local release=$1 options=()
    # unstable is served from a snapshot whose Release file is past its Valid-Until date.
    [ "$release" != sid ] || options=(--aptopt='Acquire::Check-Valid-Until "false"')
    mmdebstrap --variant=minbase --dpkgopt=force-unsafe-io --aptopt='Acquire::Languages "none"' \
        "${options[@]}" --include=git,dpkg-dev,lintian,man-db \
        --customize-hook="bash $PWD/.ci/debian-roots.sh --package-into $work/$release" \
        --customize-hook="copy-in $work/cpuprobe $work/$release/bookworm /root" \
        --customize-hook="chroot \"\$1\" bash /root/cpuprobe/.ci/debian-release-check.sh $release; echo \$? >$work/$release.status" \
        "$release" "$work/root-$release" "$MIRROR"
}

declare -A pids
piuparts_root >"$work/bookworm.log" 2>&1 &
pids[bookworm]=$!
for release in trixie sid; do
    release_root "$release" >"$work/$release.log" 2>&1 &
    pids[$release]=$!
done
failed=()
for release in bookworm trixie sid; do
    status=0
    wait "${pids[$release]}" || status=$?
    printf '\n--- %s (%s): log\n' "${NAME[$release]}" "$release"
    cat "$work/$release.log"
    reason=$(grep -m 1 -E '^(E: |archive: )' "$work/$release.log" | sed 's/^archive: //' || true)
    if [ "$release" = bookworm ]; then
        [ "$status" = 0 ] || failed+=("${NAME[$release]}: piuparts, status $status")
    elif [ ! -f "$work/$release.status" ]; then
        skipped "${NAME[$release]}" "mmdebstrap could not make its root from the archive: ${reason:-status $status}"
    elif [ "$(cat "$work/$release.status")" = "$ARCHIVE_FAULT" ]; then
        skipped "${NAME[$release]}" "$reason"
    elif [ "$(cat "$work/$release.status")" != 0 ] || [ "$status" != 0 ]; then
        failed+=("${NAME[$release]}: check status $(cat "$work/$release.status"), mmdebstrap status $status")
    fi
done
[ "${#failed[@]}" = 0 ] || fail "${failed[*]} (see the logs above)"
grep -h '^debian-release-check: .*: passed' "$work"/*.log || true
