#!/bin/sh
# Builds both architectures and runs every test on the x86_64 build under wine64.
# The i686 build is the shipped one; it is compiled and linked here, but 32-bit code
# cannot execute on the build machines.
set -e
. "$(dirname "$0")/setup.sh"
brennlow_install_missing
brennlow_build i686
brennlow_build x86_64

build="$BRENNLOW_ROOT/build/x86_64"
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"

# Windows of the tests need an X display; a private one keeps them off any desktop.
brennlow_start_xvfb 99

cleanup()
{
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT INT TERM

# One wineserver for the whole run instead of one per test program (or the one that
# is already serving this prefix).
/usr/lib/wine/wineserver -p 2>/dev/null || true
"$build/wine-run" cmd /c exit >/dev/null 2>&1 || true

cd "$build"
set +e
ctest --output-on-failure --parallel 2 "$@"
