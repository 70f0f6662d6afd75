#!/bin/sh
# Uploads stored per second by the receiver: 16 concurrent clients, each upload a 2 MB
# minidump and a real text report of the fault program (a stripped copy, as shipped),
# with and without symbolising it with the symbol store, on SQLite and on PostgreSQL.
# Usage: receiver-uploads.sh [architecture]  (default: x86_64; the build tree must hold
# the fault program: tools/setup.sh's brennlow_build <architecture> CrashProgram)
set -e
. "$(dirname "$0")/../tools/setup.sh"
arch="${1:-x86_64}"
build="$BRENNLOW_ROOT/build/$arch"
brennlow_install_missing
work=$(mktemp -d /tmp/brennlow-bench-uploads.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
"$arch-w64-mingw32-strip" -o "$work/CrashProgram.exe" "$build/tests/CrashProgram.exe"
sh "$BRENNLOW_ROOT/tools/store-symbols.sh" "$work/CrashProgram.exe" "$build/tests/CrashProgram.exe" \
    --store "$work/store" >/dev/null
(cd "$work" && "$build/wine-run" ./CrashProgram.exe write >/dev/null 2>&1) || true
bench="php -d memory_limit=-1 $BRENNLOW_ROOT/bench/receiver-uploads.php $BRENNLOW_ROOT $work/CrashProgram_Debug.txt"
for store in "" "$work/store"; do
    $bench "$store"
    sh "$BRENNLOW_ROOT/tests/receiver/WithPostgres.sh" $bench "$store"
done
