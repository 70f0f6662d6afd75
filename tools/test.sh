#!/bin/sh
# Builds both architectures and runs the whole test suite on each: the shipped i686 build
# under Wine's 32-bit loader, its x86_64 twin under wine64. Each build tree keeps its own
# Wine prefix and wineserver; one private X display serves both. Where the kernel does
# not execute 32-bit code, the i686 build is compiled and linked but its suite is skipped,
# with one line saying so. Arguments go to both CTest runs.
. "$(dirname "$0")/setup.sh"
set -e
brennlow_install_missing
brennlow_build i686
brennlow_build x86_64
set +e

# Windows of the tests need an X display; a private one keeps them off any desktop.
brennlow_start_xvfb 99
server=""
cleanup()
{
    [ -z "$server" ] || WINEPREFIX="$server" /usr/lib/wine/wineserver -k >/dev/null 2>&1
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs one architecture's suite with one wineserver for the whole run instead of one per
# test program. A test that hangs is stopped after TEST_TIME_LIMIT seconds unless it sets
# a limit of its own, so that one hang cannot hold up the whole run.
TEST_TIME_LIMIT=400
run_suite()
{
    build="$BRENNLOW_ROOT/build/$1"
    shift
    export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
    mkdir -p "$WINEPREFIX"
    server="$WINEPREFIX"
    /usr/lib/wine/wineserver -p 2>/dev/null
    "$build/wine-run" cmd /c exit >/dev/null 2>&1
    echo "Tests of the $(basename "$build") build:"
    (cd "$build" && ctest --output-on-failure --parallel 2 --timeout "$TEST_TIME_LIMIT" "$@")
    result=$?
    /usr/lib/wine/wineserver -k >/dev/null 2>&1
    server=""
    return $result
}

status=0
if [ "$(brennlow_shipped_arch)" = i686 ]; then
    run_suite i686 "$@" || status=1
elif brennlow_runs_32bit; then
    echo "The i686 suite was not run: Wine's 32-bit loader /usr/lib/wine/wine is missing."
else
    echo "The i686 suite was not run: this machine's kernel does not execute 32-bit code."
fi
run_suite x86_64 "$@" || status=1
exit $status
