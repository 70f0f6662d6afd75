#!/bin/sh
# Builds the fuzz program and runs every target under wine64 for a number of cases each
# (default 100,000), then every target once more under a double-byte ANSI code page. Prints one line per target: cases, seconds, cases per second, slowest case and
# the result; a failing case is printed so that it can be run alone again.
#   tools/fuzz.sh [cases] [seed] [further BrennlowFuzz options, e.g. --seconds 600]
set -e
. "$(dirname "$0")/setup.sh"
cases="${1:-100000}"
seed="${2:-1}"
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
brennlow_install_missing
brennlow_build x86_64 BrennlowFuzz >/dev/null

build="$BRENNLOW_ROOT/build/x86_64"
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p 2>/dev/null || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT INT TERM

status=0
"$build/wine-run" "$build/fuzz/BrennlowFuzz.exe" --cases "$cases" --seed "$seed" "$@" || status=1
# Wine takes the ANSI code page from LC_ALL: 932 has double-byte lead and trail bytes.
# A tenth of the cases there, with a seed of their own.
LC_ALL=ja_JP.UTF-8 "$build/wine-run" "$build/fuzz/BrennlowFuzz.exe" \
    --cases "$(( (cases + 9) / 10 ))" --seed "$((seed + 1))" "$@" || status=1
[ "$status" -eq 0 ] && echo "fuzz: every target passed" || echo "fuzz: FAILED"
exit "$status"
