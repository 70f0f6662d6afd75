#!/bin/sh
# Crashes the fault test program a number of times (default 5) without a report server,
# so without a dialog, and prints the median time from the fault until both report files
# are complete on disk, and the files' sizes.
#   bench/crash-time.sh [runs] [architecture: i686 (the shipped build, default) or x86_64]
set -e
. "$(dirname "$0")/../tools/setup.sh"
runs="${1:-5}"
arch="${2:-i686}"
case "$arch" in
    i686 | x86_64) ;;
    *) echo "Unknown architecture $arch: i686 or x86_64" >&2; exit 2 ;;
esac
brennlow_install_missing
if [ "$arch" = i686 ] && [ "$(brennlow_shipped_arch)" != i686 ]; then
    echo "This machine does not run the i686 build; try x86_64." >&2
    exit 1
fi
brennlow_build "$arch" CrashProgram >/dev/null
build="$BRENNLOW_ROOT/build/$arch"
work=$(mktemp -d /tmp/brennlow-crash-time.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
cp "$build/tests/CrashProgram.exe" "$work/"
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
# One wineserver for all runs, gone a while after the last
/usr/lib/wine/wineserver -p10 >/dev/null 2>&1 </dev/null || true
"$build/wine-run" cmd /c exit >/dev/null 2>&1 </dev/null || true

for run in $(seq "$runs"); do
    rm -f "$work"/CrashProgram_Debug.*
    "$build/wine-run" "$work/CrashProgram.exe" timed >"$work/fault" 2>/dev/null </dev/null || true
    # The text report is closed last; the later of the two times marks the end.
    done=$(stat -c '%.9Y' "$work/CrashProgram_Debug.dmp" "$work/CrashProgram_Debug.txt" |
        sort -n | tail -1)
    awk -v fault="$(cat "$work/fault")" -v done="$done" \
        'BEGIN { printf "%.0f\n", (done - fault) * 1000 }' >>"$work/times"
    echo "run $run: $(tail -1 "$work/times") ms"
done
sort -n "$work/times" | awk '{ t[NR] = $1 } END {
    m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "median from fault to both files complete: %d ms over %d runs\n", m, NR }'
echo "minidump: $(stat -c %s "$work/CrashProgram_Debug.dmp") bytes," \
    "text report: $(stat -c %s "$work/CrashProgram_Debug.txt") bytes"
