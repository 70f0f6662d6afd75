# Sourced by the build scripts: installs what a fresh Debian 12 machine lacks.
BRENNLOW_PACKAGES="cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 googletest wine64 xvfb python3
    fonts-wine x11-apps netpbm php-cli"

brennlow_install_missing()
{
    missing=""
    for package in $BRENNLOW_PACKAGES; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
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
