#!/usr/bin/env bash
# Leg "debian-releases": "Debian 12 or later", shown on the releases after Debian 12. For
# Debian 13 (trixie) and unstable (sid), each in a fresh minimal root that mmdebstrap makes from
# Debian's archive, .ci/debian-release-check.sh runs inside the root: it builds the package
# with its test suite, lints it with that release's lintian (no tag at all allowed), and
# installs, runs and purges the package built on Debian 12. The two roots are made and checked
# side by side; each one's log is printed whole when it is done. Nothing is kept between runs.
# Run as root from the repository root on Debian 12, after the package leg (whose package it
# installs; without it, it builds one).
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

readonly RELEASES=(trixie sid)
readonly MIRROR=http://deb.debian.org/debian
declare -Ar RELEASE_NAME=([trixie]="Debian 13" [sid]="unstable")
# The archive serves unstable from a snapshot whose Release file is past its Valid-Until date.
declare -Ar RELEASE_APT_OPTION=([trixie]="" [sid]='Acquire::Check-Valid-Until "false"')

step() { printf '\n--- debian-releases: %s ---\n' "$*"; }
fail() {
    printf '\ndebian-releases: FAILED: %s\n' "$*" >&2
    exit 1
}
started=$SECONDS
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step "install mmdebstrap"
apt-get install -y --no-install-recommends mmdebstrap git dpkg-dev >/dev/null ||
    fail "could not install mmdebstrap"

step "the package built on Debian 12"
version=$(dpkg-parsechangelog -S Version)
bookworm_deb=build-deb/first/cpuprobe_${version}_amd64.deb
if [ ! -f "$bookworm_deb" ]; then
    echo "no $bookworm_deb from the package leg: building one (without its tests)"
    apt-get build-dep -y ./ >/dev/null || fail "could not install the build dependencies"
    DEB_BUILD_OPTIONS=nocheck tools/build-deb.sh build-deb/first >/dev/null ||
        fail "could not build the Debian 12 package"
fi
mkdir "$work/bookworm"
cp "$bookworm_deb" "$work/bookworm/"
echo "$bookworm_deb"

# The commit under test, as a repository of its own: the check builds it with tools/build-deb.sh.
git clone -q --no-local --depth 1 "file://$PWD" "$work/cpuprobe" || fail "could not clone $PWD"
echo "source: commit $(git -C "$work/cpuprobe" rev-parse HEAD)"

# Makes the root of one release and runs the check inside it; all output goes to its log.
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
        --customize-hook="chroot \"\$1\" bash /root/cpuprobe/.ci/debian-release-check.sh $release" \
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
    step "${RELEASE_NAME[$release]} ($release): log"
    cat "$work/$release.log"
    [ "$status" = 0 ] || failed+=("${RELEASE_NAME[$release]} ($release), status $status")
done
[ "${#failed[@]}" = 0 ] || fail "the check failed on: ${failed[*]} (see its log above)"

step "passed in $((SECONDS - started)) s"
for release in "${RELEASES[@]}"; do
    grep "^debian-release-check: $release: passed" "$work/$release.log" | sed 's/^/  /'
done
