#!/bin/sh
# Builds the benchmark and runs it under wine64 with the given arguments.
# Wine's C: drive is build/x86_64/wineprefix/drive_c.
set -e
. "$(dirname "$0")/setup.sh"
brennlow_install_missing
brennlow_build x86_64 BrennlowCmd >/dev/null
build="$BRENNLOW_ROOT/build/x86_64"
exec "$build/wine-run" "$build/BrennlowCmd.exe" "$@"
