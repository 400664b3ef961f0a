#!/usr/bin/env bash
# The emulator of the Windows builds' checks: runs a Windows program under Wine.
#
# usage: tests/windows/wine.sh WIDTH VERSION PROGRAM [ARGUMENT...]
#
# WIDTH is 32 or 64; VERSION the Windows the program is told it runs on (winxp, winxp64,
# win95, win98, nt40). Each width and version has a prefix of its own under
# $CPUPROBE_WINE_PREFIXES (default: cpuprobe-wine in TMPDIR), made on first use, and a
# wineserver that stays a minute after its last program, so later runs start at once. Where
# this machine cannot run Wine of that width, it says why and exits 77.
set -euo pipefail
width=$1 version=$2
shift 2
case $width in
    32) wine=/usr/lib/wine/wine server=/usr/lib/wine/wineserver32 arch=win32 ;;
    64) wine=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver64 arch=win64 ;;
    *) echo "wine.sh: WIDTH is 32 or 64, not $width" >&2 && exit 2 ;;
esac
skip() {
    echo "SKIPPED: $*" >&2
    exit 77
}
[ -x "$wine" ] || skip "no $arch Wine here ($wine: Debian's wine$width package)"

export WINEPREFIX=${CPUPROBE_WINE_PREFIXES:-${TMPDIR:-/tmp}/cpuprobe-wine}/$width-$version
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINESERVER=$server
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$(dirname "$WINEPREFIX")"
# One run at a time makes the prefix. Nothing Wine starts to stay (the server, its services)
# keeps a descriptor of the caller's or the lock, which would hold them for its lifetime.
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    WINEARCH=$arch "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&- ||
        skip "Wine could not make a $arch prefix in $WINEPREFIX (a kernel without 32-bit programs?)"
    "$wine" winecfg -v "$version" </dev/null >/dev/null 2>&1 9>&-
fi
# Wine's services start with the first program a server runs, and would hold that program's
# stdout open for their lifetime: a new server (status 0; 2 where one runs) is booted first,
# with nothing of the caller's.
if "$server" -p60 </dev/null >/dev/null 2>&1 9>&-; then
    "$wine" wineboot </dev/null >/dev/null 2>&1 9>&-
fi
exec 9>&-
exec "$wine" "$@"
