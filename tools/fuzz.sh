#!/bin/sh
# Builds the fuzz program of both architectures (only x86_64 where this machine does not
# execute 32-bit code) and runs every target of each under Wine for a number of cases each
# (default 100,000), then every target once more under a double-byte ANSI code page. Prints
# one line per target: cases, seconds, cases per second, slowest case and the result; a
# failing case is printed so that it can be run alone again.
#   tools/fuzz.sh [cases] [seed] [further BrennlowFuzz options, e.g. --seconds 600]
set -e
. "$(dirname "$0")/setup.sh"
cases="${1:-100000}"
seed="${2:-1}"
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
brennlow_install_missing
archs="x86_64"
[ "$(brennlow_shipped_arch)" = i686 ] && archs="i686 x86_64"

status=0
for arch in $archs; do
    brennlow_build "$arch" BrennlowFuzz >/dev/null
    build="$BRENNLOW_ROOT/build/$arch"
    export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wineserver -p 2>/dev/null || true
    echo "The $arch build:"
    "$build/wine-run" "$build/fuzz/BrennlowFuzz.exe" --cases "$cases" --seed "$seed" "$@" ||
        status=1
    # Wine takes the ANSI code page from LC_ALL: 932 has double-byte lead and trail bytes.
    # A tenth of the cases there, with a seed of their own.
    LC_ALL=ja_JP.UTF-8 "$build/wine-run" "$build/fuzz/BrennlowFuzz.exe" \
        --cases "$(( (cases + 9) / 10 ))" --seed "$((seed + 1))" "$@" || status=1
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
done
[ "$status" -eq 0 ] && echo "fuzz: every target passed" || echo "fuzz: FAILED"
exit "$status"
