#!/bin/sh
# Crashes the fault test program a number of times (default 5) without a report server,
# so without a dialog, and in the same run the minimal reporter, which does only what no
# crash report can leave out (the symbol engine started with the same options, the same
# minidump type written from a helper thread, a one-line text file), once alone and once
# with the system libraries of the fault program loaded. Prints, per architecture, the
# median time of each from the fault until both report files are complete on disk, and
# the ratios of the fault program's to the minimal reporter's.
# Usage: crash-time.sh [runs [architecture...]]; the architectures default to i686 and
# x86_64 where this machine runs the shipped i686 build, else to x86_64.
set -e
. "$(dirname "$0")/../tools/setup.sh"
runs="${1:-5}"
[ $# -gt 0 ] && shift
archs="$*"
brennlow_install_missing
if [ -z "$archs" ]; then
    archs="x86_64"
    [ "$(brennlow_shipped_arch)" = i686 ] && archs="i686 x86_64"
fi
work=$(mktemp -d /tmp/brennlow-crash-time.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM

# Runs "$work/$1.exe" with the arguments $2 the given number of times; prints the median
# milliseconds from the fault it prints to the later of its two report files.
median_ms()
{
    rm -f "$work/times"
    for run in $(seq "$runs"); do
        rm -f "$work/$1"_Debug.*
        "$build/wine-run" "$work/$1.exe" $2 >"$work/fault" 2>/dev/null </dev/null || true
        # The text report is closed last; the later of the two times marks the end.
        done=$(stat -c '%.9Y' "$work/$1_Debug.dmp" "$work/$1_Debug.txt" | sort -n | tail -1)
        awk -v fault="$(cat "$work/fault")" -v done="$done" \
            'BEGIN { printf "%.0f\n", (done - fault) * 1000 }' >>"$work/times"
        echo "  $1 run $run: $(tail -1 "$work/times") ms" >&2
    done
    sort -n "$work/times" | awk '{ t[NR] = $1 } END {
        printf "%d\n", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

ratio()
{
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b ? a / b : 0 }'
}

for arch in $archs; do
    brennlow_build "$arch" CrashProgram MinimalReporter >/dev/null
    build="$BRENNLOW_ROOT/build/$arch"
    cp "$build/tests/CrashProgram.exe" "$build/tests/MinimalReporter.exe" "$work/"
    export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
    # One wineserver for all runs of the architecture, gone a while after the last
    /usr/lib/wine/wineserver -p10 >/dev/null 2>&1 </dev/null || true
    "$build/wine-run" cmd /c exit >/dev/null 2>&1 </dev/null || true
    fault=$(median_ms CrashProgram timed)
    sizes="minidump $(stat -c %s "$work/CrashProgram_Debug.dmp") bytes,"
    sizes="$sizes text report $(stat -c %s "$work/CrashProgram_Debug.txt") bytes"
    minimal=$(median_ms MinimalReporter "")
    libraries=$(median_ms MinimalReporter libraries)
    echo "$arch: median from fault to both files complete over $runs runs:" \
        "fault program $fault ms ($sizes);" \
        "minimal reporter $minimal ms, ratio $(ratio "$fault" "$minimal");" \
        "with the fault program's libraries $libraries ms, ratio $(ratio "$fault" "$libraries")"
done
