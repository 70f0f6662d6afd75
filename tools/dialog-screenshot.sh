#!/bin/sh
# Shows the problem-report dialog with sample report files on a private X display and
# saves a PNG picture of it, to look at how the dialog reads after a crash.
#
#     tools/dialog-screenshot.sh [--no-build] [--check] [picture.png]
#
# The picture goes to report-dialog.png in the build tree (BRENNLOW_BUILD, else build/i686,
# the shipped program, where this machine runs 32-bit code, else build/x86_64) unless
# named. --no-build takes the program as built; --check also fails unless the picture holds
# the white upper band and the title's blue, RGB(9, 55, 117).
# Needs xwd (x11-apps), netpbm and fonts-wine.
set -e
. "$(dirname "$0")/setup.sh"

build_first=1
check=0
while [ $# -gt 0 ]; do
    case "$1" in
        --no-build) build_first=0 ;;
        --check) check=1 ;;
        *) break ;;
    esac
    shift
done
build="${BRENNLOW_BUILD:-$BRENNLOW_ROOT/build/$(brennlow_shipped_arch)}"
picture="${1:-$build/report-dialog.png}"
[ "$build_first" -eq 0 ] ||
    { brennlow_install_missing; brennlow_build "$(basename "$build")" ReportDialogShow >/dev/null; }

work=$(mktemp -d)
brennlow_start_xvfb 120
shown=""
cleanup()
{
    [ -z "$shown" ] || kill "$shown" 2>/dev/null || true
    # Only this script's programs run in its prefix.
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# A prefix of its own, made once, that looks like an installed system: Wine's own fonts,
# captions drawn by Wine itself as no window manager runs.
export WINEPREFIX="$build/screenshot-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(brennlow_wine_loader "$build")
if [ ! -f "$WINEPREFIX/.brennlow-ready" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1
    for value in Decorated Managed; do
        "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /t REG_SZ /d N /f >/dev/null 2>&1
    done
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    "$(dirname "$0")/link-prefix-files.sh" "$build/wineprefix" "$WINEPREFIX"
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.brennlow-ready"
fi

# Sample report files with the names the crash path gives them.
printf 'MDMP sample minidump\r\n' >"$work/BrennlowCmd_Debug.dmp"
printf 'Unhandled exception 0xC0000005 (EXCEPTION_ACCESS_VIOLATION)\r\n' >"$work/BrennlowCmd_Debug.txt"
windows_path()
{
    printf 'Z:%s' "$1" | tr / '\\'
}

# The X server needs a moment before the first window.
for _ in 1 2 3 4 5 6 7 8 9 10; do
    xwd -root -silent >/dev/null 2>&1 && break
    sleep 0.2
done
"$wine" "$build/ReportDialogShow.exe" "$(windows_path "$work/BrennlowCmd_Debug.txt")" \
    "$(windows_path "$work/BrennlowCmd_Debug.dmp")" >/dev/null 2>&1 &
shown=$!

# The dialog's window carries the product name as its title; it is taken once it has
# been painted for a moment.
title="Brennlow Disk Benchmark"
tries=0
until xwd -name "$title" -silent >"$work/dialog.xwd" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || { echo "The dialog did not appear." >&2; exit 1; }
    sleep 0.2
done
sleep 1
xwd -name "$title" -silent >"$work/dialog.xwd"
xwdtopnm "$work/dialog.xwd" 2>/dev/null | pnmtopng >"$picture"
echo "Saved $picture"

if [ "$check" -eq 1 ]; then
    colours=$(pngtopnm "$picture" | ppmhist -noheader)
    # ppmhist lines: red green blue luminance count
    has_colour()
    {
        printf '%s\n' "$colours" | awk -v r="$1" -v g="$2" -v b="$3" -v least="$4" \
            '$1 == r && $2 == g && $3 == b && $5 >= least { found = 1 } END { exit !found }'
    }
    # The white band covers the upper four fifths of the dialog.
    has_colour 255 255 255 20000 || { echo "No white upper band in $picture" >&2; exit 1; }
    has_colour 9 55 117 20 || { echo "No title colour RGB(9, 55, 117) in $picture" >&2; exit 1; }
    echo "The white band and the title colour are there."
fi
