#!/usr/bin/env bash
# Packaging leg, run as root on a throwaway Debian 12 machine whose apt lists are fresh: it
# installs packages, and installs and purges cpuprobe itself. In order: the release's version
# agrees everywhere; the Debian package is built (running the test suite, unless .ci/run has
# already run it on a build with the same compiler), lintian finds nothing in it; a second
# build in another folder, without the tests, gives the same bytes;
# the autopkgtest passes against the built package; dpkg installs it, the tool runs from
# PATH, man shows its page, and a purge leaves nothing behind; piuparts does the same in a
# fresh Debian 12 root. The packages and logs stay in build-deb/.
# Run from anywhere in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
ci_leg=${ci_leg:-package}
# shellcheck source=.ci/lib.sh
source .ci/lib.sh

out=build-deb
work=$(mktemp -d)
installed_here=false

results=()
passed() {
    results+=("$*")
    printf 'package: passed: %s\n' "$*"
}

# Other jobs may install packages on the same machine. apt (ours, and the autopkgtest's) waits
# for the package manager's lock; dpkg cannot, so dpkg_when_free retries while the lock is
# held, for up to ten minutes.
printf 'DPkg::Lock::Timeout "600";\n' >"$work/apt.conf"
export APT_CONFIG=$work/apt.conf
dpkg_when_free() {
    local attempt status
    for attempt in $(seq 120); do
        status=0
        dpkg "$@" 2>"$work/dpkg.err" || status=$?
        grep -qE '^dpkg: error: .* (was|is) locked by another process' "$work/dpkg.err" || break
        echo "package: another process holds dpkg's lock; dpkg $* waits (attempt $attempt)"
        sleep 5
    done
    cat "$work/dpkg.err" >&2
    return "$status"
}

is_installed() {
    dpkg-query -W -f '${db:Status-Status}' "$1" 2>/dev/null | grep -qx installed
}

# Purges cpuprobe, and first the package the autopkgtest makes to pull in its test
# dependencies when it depends on cpuprobe (the autopkgtest leaves it behind when dpkg was
# locked at the end of a test).
purge_cpuprobe() {
    if is_installed autopkgtest-satdep &&
        dpkg-query -W -f '${Depends}' autopkgtest-satdep | grep -qw cpuprobe; then
        dpkg_when_free --purge autopkgtest-satdep >/dev/null
    fi
    dpkg_when_free --purge cpuprobe
}

cleanup() {
    if $installed_here && is_installed cpuprobe; then
        purge_cpuprobe >/dev/null || echo "package: could not purge cpuprobe" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Compares the lines on stdin with the expected ones given as arguments (order ignored).
expect_lines() {
    local what=$1
    shift
    local got wanted
    got=$(sort)
    wanted=$(printf '%s\n' "$@" | sort)
    [ "$got" = "$wanted" ] || fail "$what: expected
$wanted
got
$got"
}

started=$SECONDS
tree_before=$(git status --porcelain)

step "install the packaging tools and the build dependencies of debian/control"
ci_install git dpkg-dev debhelper lintian autopkgtest man-db gzip piuparts
ci_install build-dep ./

step "version agreement"
tools/check-version.sh
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)
deb=cpuprobe_${version}_${arch}.deb
changes=cpuprobe_${version}_${arch}.changes
dsc=cpuprobe_${version}.dsc
passed "version $version agrees in CMakeLists.txt, CHANGELOG.md and debian/changelog"

# Each build runs in its own folder under TMPDIR; the second's path is longer and deeper, and
# the second leaves out the test suite (DEB_BUILD_OPTIONS=nocheck): what is packaged must not
# depend on either.
build() {
    local name=$1 tmp=$2 build_started=$SECONDS
    shift 2
    mkdir -p "$tmp"
    env TMPDIR="$tmp" "$@" tools/build-deb.sh "$out/$name" || fail "the $name build failed"
    build_seconds=$((SECONDS - build_started))
}

# .ci/run has run the whole suite on the README's build, with the same compiler and sources;
# run alone, the leg runs it in the package build, as dh_auto_test does on Debian's builders.
first_build_options=()
first_build_kind="test suite included"
if [ "${CPUPROBE_CI_SUITE_RAN:-0}" = 1 ]; then
    first_build_options=(DEB_BUILD_OPTIONS=nocheck)
    first_build_kind="without the test suite, which .ci/run has run on the same compiler's build"
fi
rm -rf "$out"
step "build the package (first folder, under $work/a)"
build first "$work/a" "${first_build_options[@]}"
passed "first build, $first_build_kind, in $build_seconds s"

step "the package's files"
dpkg-deb --info "$out/first/$deb"
dpkg-deb --contents "$out/first/$deb"
shipped_files=(./usr/bin/cpuprobe ./usr/share/man/man1/cpuprobe.1.gz
               ./usr/share/doc/cpuprobe/copyright ./usr/share/doc/cpuprobe/changelog.gz)
dpkg-deb --contents "$out/first/$deb" | awk '$1 !~ /^d/ { print $NF }' |
    expect_lines "files in $deb" "${shipped_files[@]}"
passed "$deb holds the tool, its manual page, copyright and changelog, nothing else"

step "lintian (pedantic, informational and experimental tags shown; errors and warnings fail)"
overrides=$(find debian -name '*lintian-overrides*')
[ -z "$overrides" ] || fail "lintian override files are not wanted: $overrides"
lint_status=0
lint=$(lintian --pedantic --display-info --display-experimental --fail-on error,warning \
    "$out/first/$changes" "$out/first/$dsc") || lint_status=$?
printf '%s\n' "${lint:-(no tags)}"
[ "$lint_status" -eq 0 ] || fail "lintian exited with status $lint_status (errors or warnings above)"
! grep -E ': (hardening-|binary-has-unneeded-section)' <<<"$lint" ||
    fail "lintian found the hardening or section tags above"
passed "lintian on $changes (with $deb, its -dbgsym and .buildinfo) and $dsc: $(grep -c . <<<"$lint") tags"

step "build again in a second folder, without the test suite, and compare"
build second "$work/second-build/in/a/longer/path" DEB_BUILD_OPTIONS=nocheck
passed "second build, without the test suite, in $build_seconds s"
for first in "$out"/first/*.deb; do
    second=$out/second/${first##*/}
    [ -f "$second" ] || fail "the second build made no ${first##*/}"
    sha256sum "$first" "$second"
    [ "$(sha256sum <"$first")" = "$(sha256sum <"$second")" ] ||
        fail "${first##*/} differs between the two builds (compare them with diffoscope)"
    passed "${first##*/} reproducible: sha256 $(sha256sum <"$first" | cut -d ' ' -f 1) both times"
done

step "autopkgtest of the built package (null runner: on this machine)"
installed_here=true
autopkgtest_status=0
autopkgtest --output-dir "$out/autopkgtest" --summary-file "$out/autopkgtest-summary" \
    "$out/first/$deb" "$out/first/$dsc" -- null >"$out/autopkgtest.log" 2>&1 || autopkgtest_status=$?
cat "$out/autopkgtest/installed-report-stdout" 2>/dev/null || true
summary=$(tr -s ' ' 2>/dev/null <"$out/autopkgtest-summary" | paste -s -d ' ' -) || true
# Status 2: every test that ran passed, but one skipped (only manual-page can). Status 20 with
# every test passed and only the lists' update of the clean-up failing is the archive's fault.
every_test_passed() { [ -n "$summary" ] && ! grep -qvE '^[^ ]+ +PASS *$' "$out/autopkgtest-summary"; }
cleanup_update_failed() {
    grep -q 'ERROR: autopkgtest$' "$out/autopkgtest.log" &&
        grep -qE 'ERROR: "sh -ec rm -f /etc/apt/sources.list.d/autopkgtest.list.*apt-get .*update.*" failed with status 100' \
            "$out/autopkgtest.log"
}
if [ "$autopkgtest_status" = 20 ] && every_test_passed && cleanup_update_failed; then
    echo "WARNING: autopkgtest: every test passed; its clean-up could not update the package lists: $(grep -m 1 '^E: Failed to fetch' "$out/autopkgtest.log" || echo "see $out/autopkgtest.log")"
    autopkgtest_status=0
fi
case $autopkgtest_status in
    0) passed "autopkgtest: $summary" ;;
    2) passed "autopkgtest, with a test skipped: $summary" ;;
    *)
        tail -n 60 "$out/autopkgtest.log" >&2
        fail "autopkgtest exited with status $autopkgtest_status: ${summary:-no summary} (the whole log is $out/autopkgtest.log)"
        ;;
esac

step "install with dpkg, run from PATH, read the manual page"
purge_cpuprobe >/dev/null || fail "could not purge cpuprobe as the autopkgtest left it"
# Slim Debian images keep dpkg from installing manual pages and most of /usr/share/doc; let
# this package's through.
dpkg_when_free --path-include='/usr/share/man/man1/cpuprobe.1.gz' \
    --path-include='/usr/share/doc/cpuprobe/*' -i "$out/first/$deb" || fail "dpkg -i $deb failed"
# The autopkgtest's own checks, run again on this installation.
AUTOPKGTEST_TMP=$work bash debian/tests/installed-report || fail "the installed tool's report"
bash debian/tests/manual-page || fail "the installed manual page (status $?)"
cmp /usr/share/doc/cpuprobe/copyright debian/copyright ||
    fail "/usr/share/doc/cpuprobe/copyright is not debian/copyright"
top=$(gzip -cd /usr/share/doc/cpuprobe/changelog.gz | sed -n 1p) ||
    fail "/usr/share/doc/cpuprobe/changelog.gz is missing or not gzip"
[[ $top == "cpuprobe ($version) "* ]] ||
    fail "/usr/share/doc/cpuprobe/changelog.gz begins \"$top\", not with version $version"
passed "dpkg -i: /usr/bin/cpuprobe on PATH gives its report, man cpuprobe shows the page, copyright and changelog.gz in /usr/share/doc/cpuprobe"

step "purge and look for leftovers"
dpkg_when_free --purge cpuprobe || fail "dpkg --purge cpuprobe failed"
for path in "${shipped_files[@]#.}" /usr/share/doc/cpuprobe; do
    [ ! -e "$path" ] || fail "$path left behind by dpkg --purge"
done
status=$(dpkg-query -W -f '${db:Status-Status}' cpuprobe 2>/dev/null) || true
[ -z "$status" ] || [ "$status" = not-installed ] || fail "dpkg still has cpuprobe as $status"
leftovers=$(find /var/lib/dpkg/info -name 'cpuprobe[.:]*')
[ -z "$leftovers" ] || fail "dpkg's records left behind: $leftovers"
passed "dpkg --purge cpuprobe leaves no file and no record"

step "piuparts: install, remove and purge in a fresh Debian 12 root"
# Debian's own check of the same: a root made by debootstrap, the package installed, removed
# and purged, and any file left behind, changed or owned by no package reported.
piuparts_started=$SECONDS
piuparts --distribution=bookworm --no-upgrade-test --mirror="http://deb.debian.org/debian main" \
    "$out/first/$deb" >"$out/piuparts.log" 2>&1 || {
    tail -n 60 "$out/piuparts.log" >&2
    fail "piuparts (the whole log is $out/piuparts.log)"
}
passed "piuparts on $deb: $(grep -Eo 'PASS: .*' "$out/piuparts.log" | tail -n 1) ($((SECONDS - piuparts_started)) s)"

[ "$(git status --porcelain)" = "$tree_before" ] || fail "the leg changed the working tree: $(git status --short)"

step "all passed in $((SECONDS - started)) s"
printf '  %s\n' "${results[@]}"
