# Sourced by the build scripts: installs what a fresh Debian 12 machine lacks.
BRENNLOW_PACKAGES="cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 googletest wine64 xvfb python3
    fonts-wine x11-apps netpbm php-cli stunnel4 openssl"
# The crash-report receiver: its databases (SQLite, and PostgreSQL, which its tests start
# a private cluster of) and the PHP-FPM of a production set-up.
BRENNLOW_PACKAGES="$BRENNLOW_PACKAGES php-sqlite3 php-pgsql postgresql php-fpm"
# The receiver's pages are tested in Chromium, driven from Node.js. npm comes with some
# builds of nodejs, and conflicts with them as a package of its own.
BRENNLOW_PACKAGES="$BRENNLOW_PACKAGES chromium nodejs"
command -v npm >/dev/null 2>&1 || BRENNLOW_PACKAGES="$BRENNLOW_PACKAGES npm"

# Wine's 32-bit loader runs the shipped i686 program; it is installed only where the
# kernel executes 32-bit code.
BRENNLOW_PACKAGES_32="wine32:i386"

# Tells whether this machine executes 32-bit x86 code: runs a 96-byte 32-bit Linux
# program that only exits with status 42. A kernel built without 32-bit support, or with
# it switched off, refuses to start it.
brennlow_runs_32bit()
{
    # Inside the build tree: a temporary folder may be mounted without execution.
    mkdir -p "$BRENNLOW_ROOT/build"
    _probe=$(mktemp "$BRENNLOW_ROOT/build/probe32.XXXXXX") || return 1
    printf '\177\105\114\106\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\273\52\0\0\0\315\200' >"$_probe"
    chmod +x "$_probe"
    "$_probe" 2>/dev/null
    _probe_status=$?
    rm -f "$_probe"
    [ "$_probe_status" -eq 42 ]
}

brennlow_install_missing()
{
    packages="$BRENNLOW_PACKAGES"
    foreign=""
    if brennlow_runs_32bit; then
        packages="$packages $BRENNLOW_PACKAGES_32"
        dpkg --print-foreign-architectures | grep -qx i386 || foreign="i386"
    fi
    missing=""
    for package in $packages; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    [ -z "$foreign" ] || $sudo dpkg --add-architecture "$foreign"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
}

# The architecture that runs as users run it: the shipped i686 build where this machine
# executes 32-bit code and has Wine's 32-bit loader, else its x86_64 twin.
brennlow_shipped_arch()
{
    if brennlow_runs_32bit && [ -x /usr/lib/wine/wine ]; then echo i686; else echo x86_64; fi
}

# The Wine loader that a build tree's programs run under, as its runner names it.
brennlow_wine_loader()
{
    sed -n 's/^WINE=//p' "$1/wine-run"
}

# Configures one architecture into build/<arch> and builds it, or only the targets named.
brennlow_build()
{
    arch="$1"
    shift
    cmake -S "$BRENNLOW_ROOT" -B "$BRENNLOW_ROOT/build/$arch" \
        -DCMAKE_TOOLCHAIN_FILE="$BRENNLOW_ROOT/cmake/mingw-$arch.cmake" >/dev/null
    targets=""
    for target in "$@"; do targets="$targets --target $target"; done
    cmake --build "$BRENNLOW_ROOT/build/$arch" --parallel "$(nproc)" $targets
}

# Starts a private Xvfb on the first free display from number $1 on, exports DISPLAY and
# leaves the server's process id in xvfb.
brennlow_start_xvfb()
{
    display="$1"
    while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY=":$display"
}

# Callers outside tools/ (a shell sourcing this file) set BRENNLOW_ROOT themselves.
BRENNLOW_ROOT="${BRENNLOW_ROOT:-$(cd "$(dirname "$0")/.." && pwd)}"
