#!/bin/sh
# Builds the benchmark and runs it under Wine with the given arguments: the shipped i686
# program under Wine's 32-bit loader, or the x86_64 twin under wine64 where this machine
# does not execute 32-bit code. Wine's C: drive is build/<architecture>/wineprefix/drive_c.
set -e
. "$(dirname "$0")/setup.sh"
brennlow_install_missing
arch=$(brennlow_shipped_arch)
brennlow_build "$arch" BrennlowCmd >/dev/null
build="$BRENNLOW_ROOT/build/$arch"
exec "$build/wine-run" "$build/BrennlowCmd.exe" "$@"
