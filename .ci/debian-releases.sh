#!/usr/bin/env bash
# Leg "debian-releases": "Debian 12 or later", shown on the releases after Debian 12. For
# Debian 13 (trixie) and unstable (sid), each in a fresh minimal root that mmdebstrap makes from
# Debian's archive, .ci/debian-release-check.sh runs inside the root: it builds the package
# with its test suite, lints it with that release's lintian, and installs, runs and purges the
# package built on Debian 12. The two roots are made and checked side by side; each one's log
# is printed whole when it is done. Nothing is kept between runs.
# A release whose root the archive cannot give (mmdebstrap fails before the check starts), or
# whose build dependencies it cannot install, is skipped with the archive's reason; a failure
# of the project's build, tests, packaging or lint in a root fails the leg.
# Run as root from the repository root on Debian 12, after the package leg (whose package it
# installs; without it, it builds one).
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
ci_leg=${ci_leg:-debian-releases}
# shellcheck source=.ci/lib.sh
source .ci/lib.sh

readonly RELEASES=(trixie sid)
readonly MIRROR=http://deb.debian.org/debian
declare -Ar RELEASE_NAME=([trixie]="Debian 13" [sid]="unstable")
# The archive serves unstable from a snapshot whose Release file is past its Valid-Until date.
declare -Ar RELEASE_APT_OPTION=([trixie]="" [sid]='Acquire::Check-Valid-Until "false"')

# The status with which the check inside a root says that the archive, not the project, failed
# it (EX_TEMPFAIL); its reason is on a line of its own beginning "archive: ".
readonly ARCHIVE_FAULT=75
started=$SECONDS
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step "install mmdebstrap"
ci_install mmdebstrap git dpkg-dev

step "the package built on Debian 12"
version=$(dpkg-parsechangelog -S Version)
bookworm_deb=build-deb/first/cpuprobe_${version}_amd64.deb
if [ ! -f "$bookworm_deb" ]; then
    echo "no $bookworm_deb from the package leg: building one (without its tests)"
    ci_install build-dep ./
    DEB_BUILD_OPTIONS=nocheck tools/build-deb.sh build-deb/first >/dev/null ||
        fail "could not build the Debian 12 package"
fi
mkdir "$work/bookworm"
cp "$bookworm_deb" "$work/bookworm/"
echo "$bookworm_deb"

# The commit under test, as a repository of its own: the check builds it with tools/build-deb.sh.
git clone -q --no-local --depth 1 "file://$PWD" "$work/cpuprobe" || fail "could not clone $PWD"
echo "source: commit $(git -C "$work/cpuprobe" rev-parse HEAD)"

# Makes the root of one release and runs the check inside it; all output goes to its log. The
# check's own status goes to RELEASE.status: where that file is missing, mmdebstrap did not get
# as far as the check.
check_release() {
    local release=$1 apt_options=()
    if [ -n "${RELEASE_APT_OPTION[$release]}" ]; then
        apt_options=(--aptopt="${RELEASE_APT_OPTION[$release]}")
    fi
    # Unsafe I/O: dpkg skips its syncs, which only a root that must survive a crash needs.
    mmdebstrap --variant=minbase --dpkgopt=force-unsafe-io \
        --aptopt='Acquire::Languages "none"' "${apt_options[@]}" \
        --include=git,dpkg-dev,lintian,man-db \
        --customize-hook="copy-in $work/cpuprobe $work/bookworm /root" \
        --customize-hook="chroot \"\$1\" bash /root/cpuprobe/.ci/debian-release-check.sh $release; echo \$? >$work/$release.status" \
        "$release" "$work/root-$release" "$MIRROR"
}

step "${RELEASES[*]}: make the roots and check the package in each, side by side"
declare -A pids
for release in "${RELEASES[@]}"; do
    check_release "$release" >"$work/$release.log" 2>&1 &
    pids[$release]=$!
done
failed=()
for release in "${RELEASES[@]}"; do
    status=0
    wait "${pids[$release]}" || status=$?
    name="${RELEASE_NAME[$release]} ($release)"
    step "$name: log"
    cat "$work/$release.log"
    if [ ! -f "$work/$release.status" ]; then
        reason=$(grep -E '^E: |^[a-zA-Z-]+: error: ' "$work/$release.log" | head -n 1)
        skipped "$name" "mmdebstrap could not make its root from the archive: ${reason:-status $status, see its log above}"
        continue
    fi
    check_status=$(cat "$work/$release.status")
    if [ "$check_status" = "$ARCHIVE_FAULT" ]; then
        skipped "$name" "$(sed -n 's/^archive: //p' "$work/$release.log" | head -n 1)"
    elif [ "$check_status" != 0 ] || [ "$status" != 0 ]; then
        failed+=("$name, check status $check_status, mmdebstrap status $status")
    fi
done
[ "${#failed[@]}" = 0 ] || fail "the check failed on: ${failed[*]} (see its log above)"

step "passed in $((SECONDS - started)) s"
for release in "${RELEASES[@]}"; do
    grep "^debian-release-check: $release: passed" "$work/$release.log" | sed 's/^/  /'
done
summarize_skips
