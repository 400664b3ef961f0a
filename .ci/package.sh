#!/usr/bin/env bash
# Packaging leg: the install rules, the man page, the Debian package (really installed and
# removed, so run it as root on a throwaway machine), the Windows zip where the MinGW toolchain
# file exists, and one short pass of the clock-accuracy benchmark driver.
# Run from the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

build="build-pkg"
build_win="build-pkg-win"
mingw_toolchain=cmake/mingw-w64-x86_64.cmake
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() { printf '\n--- package: %s ---\n' "$*"; }
fail() { printf 'package: FAILED: %s\n' "$*" >&2; exit 1; }

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

step "install tools (dpkg-dev, file, groff, mandoc, man-db, unzip)"
apt-get install -y --no-install-recommends g++ cmake make libgtest-dev libgmock-dev dpkg-dev \
    file gzip groff-base mandoc man-db unzip >/dev/null
if [ -f "$mingw_toolchain" ]; then
    apt-get install -y --no-install-recommends g++-mingw-w64-x86-64-win32 >/dev/null
fi

step "configure and build everything in $build (cpack builds it all anyway)"
cmake -S . -B "$build" -DCPUPROBE_WERROR=ON >/dev/null
cmake --build "$build" -j2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in the cache"
echo "project version $version"

step "man page lint (groff and mandoc warnings fail)"
ctest --test-dir "$build" -R '^man_page_' --no-tests=error --output-on-failure
grep -q "cpuprobe $version" "$build/man/cpuprobe.1" || fail "man page does not name version $version"

step "install into a scratch prefix: the tool and its man page, nothing else"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
(cd "$work/prefix" && find . -type f) | expect_lines "installed files" \
    ./bin/cpuprobe ./share/man/man1/cpuprobe.1

step "build the Debian package"
(cd "$build" && cpack -G DEB)
arch=$(dpkg --print-architecture)
deb="$build/cpuprobe_${version}_${arch}.deb"
[ -f "$deb" ] || fail "$deb not made"

step "check the package's fields and contents"
dpkg-deb --info "$deb"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = cpuprobe ] || fail "Package field"
[ "$(field Version)" = "$version" ] || fail "Version field"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture field"
[ "$(field Section)" = utils ] || fail "Section field"
[ -n "$(field Maintainer)" ] || fail "Maintainer field empty"
[ -n "$(field Description)" ] || fail "Description field empty"
field Depends | grep -q 'libc6' || fail "Depends does not name libc6"
field Depends | grep -q 'libstdc++6' || fail "Depends does not name libstdc++6"
dpkg-deb --contents "$deb"
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $NF }' | expect_lines "package files" \
    ./usr/bin/cpuprobe ./usr/share/man/man1/cpuprobe.1.gz
dpkg-deb --contents "$deb" | awk '$1 ~ /^d/ { print $NF }' | expect_lines "package folders" \
    ./usr/ ./usr/bin/ ./usr/share/ ./usr/share/man/ ./usr/share/man/man1/
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/man/man1/cpuprobe.1.gz | gzip -t ||
    fail "man page is not valid gzip"

step "install the package, run the tool from PATH, find its man page, remove it"
# Slim Debian images exclude /usr/share/man from every package; let this one's page through.
dpkg --path-include='/usr/share/man/man1/cpuprobe.1.gz' -i "$deb"
[ "$(command -v cpuprobe)" = /usr/bin/cpuprobe ] || fail "cpuprobe not on PATH as /usr/bin/cpuprobe"
lines=$(cpuprobe </dev/null | wc -l)
[ "$lines" -eq 18 ] || fail "installed cpuprobe printed $lines lines, not 18"
cpuprobe </dev/null | sed -n '4p'
[ "$(man -w cpuprobe)" = /usr/share/man/man1/cpuprobe.1.gz ] || fail "man -w cpuprobe: $(man -w cpuprobe 2>&1)"
dpkg -r cpuprobe
for gone in /usr/bin/cpuprobe /usr/share/man/man1/cpuprobe.1.gz; do
    [ ! -e "$gone" ] || fail "$gone left behind by dpkg -r"
done
if dpkg -s cpuprobe 2>/dev/null | grep -q '^Status: install ok installed'; then
    fail "cpuprobe still installed after dpkg -r"
fi

if [ -f "$mingw_toolchain" ]; then
    step "Windows zip from the MinGW build in $build_win"
    cmake -S . -B "$build_win" --toolchain "$mingw_toolchain" -DBUILD_TESTING=OFF \
        -DCPUPROBE_WERROR=ON >/dev/null
    cmake --build "$build_win" -j2
    (cd "$build_win" && cpack)
    zip="$build_win/cpuprobe-${version}-win64.zip"
    [ -f "$zip" ] || fail "$zip not made"
    unzip -l "$zip"
    unzip -Z1 "$zip" | grep -v '/$' | expect_lines "zip files" \
        "cpuprobe-${version}-win64/cpuprobe.exe" "cpuprobe-${version}-win64/README.txt"
    unzip -p "$zip" "cpuprobe-${version}-win64/README.txt" |
        awk '!/\r$/ { bare++ } END { exit NR == 0 || bare > 0 }' ||
        fail "README.txt is empty or has lines not ending in CRLF"
else
    step "no $mingw_toolchain: Windows zip skipped"
fi

step "clock-accuracy benchmark driver, once, 2 runs, short window"
bash bench/clock_accuracy.sh --tool "$build/cpuprobe" --reference "$build/tsc_reference" \
    -n 2 --window 0.5

step "passed in $((SECONDS - started)) s"
