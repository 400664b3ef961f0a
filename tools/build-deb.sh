#!/usr/bin/env bash
# Builds the Debian package from the committed tree (a `git archive HEAD` export under
# ${TMPDIR:-/tmp}; the working tree is not written) with `dpkg-buildpackage -us -uc -b`, the
# test suite run unless DEB_BUILD_OPTIONS holds nocheck, and puts the .deb, its dbgsym, the
# .changes, .buildinfo, source package and build log into OUTDIR. Needs the build
# dependencies (`apt-get build-dep ./`). The last line printed is the path of the package.
# usage: tools/build-deb.sh OUTDIR
set -euo pipefail

fail() {
    printf 'build-deb: FAILED: %s\n' "$*" >&2
    exit 1
}

[ $# -eq 1 ] || fail "usage: tools/build-deb.sh OUTDIR"
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1" || fail "cannot create the output folder $1"
out=$(cd "$1" && pwd)

commit=$(git -C "$root" rev-parse --verify HEAD) || fail "$root is not a git checkout with a commit"
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    echo "build-deb: note: the working tree has uncommitted changes; building commit $commit without them"
fi
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version) ||
    fail "cannot read the version from debian/changelog"
arch=$(dpkg --print-architecture)

work=$(mktemp -d "${TMPDIR:-/tmp}/cpuprobe-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
source_dir=$work/cpuprobe-$version
log=$out/cpuprobe_${version}_${arch}.build

echo "build-deb: building cpuprobe $version ($arch) from commit $commit in $source_dir"
git -C "$root" archive --format=tar --prefix="cpuprobe-$version/" "$commit" | tar -x -C "$work" ||
    fail "could not export commit $commit into $work"
(cd "$work" && dpkg-source --build "cpuprobe-$version") >"$log" 2>&1 || {
    cat "$log" >&2
    fail "dpkg-source could not make the source package"
}

started=$SECONDS
if ! (cd "$source_dir" && dpkg-buildpackage -us -uc -b -Jauto) >>"$log" 2>&1; then
    tail -n 80 "$log" >&2
    fail "dpkg-buildpackage failed (the last 80 lines are above; the whole log is $log)"
fi
echo "build-deb: built in $((SECONDS - started)) s; tests: $(grep -E '^[0-9]+% tests passed' "$log" || echo "not run")"

# The .changes names the binary packages and the .buildinfo, the .dsc the source tarball.
changes=cpuprobe_${version}_${arch}.changes
dsc=cpuprobe_${version}.dsc
listed() { sed -n '/^Files:/,/^[^ ]/s/^ [0-9a-f]\{32\} .* //p' "$work/$1"; }
for file in "$changes" $(listed "$changes") "$dsc" $(listed "$dsc"); do
    cp "$work/$file" "$out/" || fail "could not copy $file into $out"
    echo "build-deb: made $out/$file"
done
package=$out/cpuprobe_${version}_${arch}.deb
[ -f "$package" ] || fail "$changes does not list the package cpuprobe_${version}_${arch}.deb"
echo "build-deb: log $log"
echo "$package"
