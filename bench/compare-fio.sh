#!/bin/sh
# Measures BrennlowCmd under wine64 against fio on the same folder, file size and block
# size, and prints each tool's median MB/s per pass and the ratio of the medians.
#
#   bench/compare-fio.sh [folder] [file size in MB] [rounds]
#
# Defaults: build/bench (the disk of the work tree), 2048 MB, 9 rounds. Both tools time
# in whole milliseconds, so the file must be large enough for a cached read to last a
# good many of them; synced writes on a shared virtual disk vary by a factor of two or
# more from one run to the next, hence the rounds. Each round runs the two tools one
# after the other, in alternating order.
#
# fio does what the benchmark does: a sequential write of a file pre-sized with
# ftruncate (which is what the write pass's SetEndOfFile becomes under Wine) and ended
# by a sync, then a sequential read of that file with the cache left as it is. Wine
# ignores the unbuffered flag, so fio runs buffered too. Then fio's write pass runs with
# each of its allocation settings, and strace (when installed) shows which one the
# benchmark's pre-sizing is. MB means 2^20 bytes.
set -e
. "$(dirname "$0")/../tools/setup.sh"

folder="${1:-$BRENNLOW_ROOT/build/bench}"
size_mb="${2:-2048}"
rounds="${3:-9}"

brennlow_install_missing
if ! command -v fio >/dev/null 2>&1; then
    BRENNLOW_PACKAGES=fio brennlow_install_missing
fi
brennlow_build x86_64 BrennlowCmd >/dev/null

build="$BRENNLOW_ROOT/build/x86_64"
mkdir -p "$folder"
folder="$(cd "$folder" && pwd)"
work="$(mktemp -d)"
# fio uses the benchmark's own test folder and file name, made and removed around each
# job as the benchmark does: the file system then places both tools' files alike, and a
# write right after the other tool's delete meets the same free space.
fio_folder="$folder/BrennlowTest"
fio_file="$fio_folder/BrennlowTest.bin"
trap 'rm -rf "$work"; rm -f "$fio_file"; rmdir "$fio_folder" 2>/dev/null || true' EXIT INT TERM

# A prefix of its own, so that a test run in the build tree is never disturbed; its
# wineserver stays up between the runs and ends by itself afterwards.
export WINEPREFIX="$build/bench-wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.brennlow-ready" ]; then
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    touch "$WINEPREFIX/.brennlow-ready"
fi
# (It refuses when one from an earlier run is still up, which serves as well.)
/usr/lib/wine/wineserver -p30 >/dev/null 2>&1 || true

windows_folder="Z:$(printf '%s' "$folder" | tr '/' '\\')"

# Prints "<write MB/s> <read MB/s>" of one BrennlowCmd run, without log line.
run_brennlow()
{
    out="$(cd "$work" && /usr/lib/wine/wine64 "$build/BrennlowCmd.exe" \
        -d "$windows_folder" -s "$size_mb" -b "$1" -l 0)"
    printf '%s\n' "$out" | awk '/^read: [0-9]+ write: [0-9]+/ { print $4, $2; found = 1 }
        END { if (!found) exit 1 }' || {
        printf 'BrennlowCmd gave no result:\n%s\n' "$out" >&2
        exit 1
    }
}

# fio's MB/s of one job: bytes over runtime, from its terse output (field 6/9 read,
# 47/50 write: KiB and milliseconds).
fio_rate()
{
    fio --name=bench --filename="$fio_file" --size="${size_mb}M" --ioengine=psync \
        --direct=0 --output-format=terse --terse-version=3 "$@" |
        awk -F';' '{ kib = $6 + $47; ms = $9 + $50; if (ms > 0) printf "%.1f\n", kib / 1024 * 1000 / ms; else print 0 }'
}

# Prints "<write MB/s> <read MB/s>" of fio with the given block size in kB and
# allocation setting.
run_fio()
{
    mkdir -p "$fio_folder"
    rm -f "$fio_file"
    write=$(fio_rate --rw=write --bs="${1}k" --fallocate="$2" --end_fsync=1)
    read=$(fio_rate --rw=read --bs="${1}k" --invalidate=0)
    rm -f "$fio_file"
    rmdir "$fio_folder"
    echo "$write $read"
}

# fio's write pass alone, with the given allocation setting, in MB/s.
run_fio_write()
{
    mkdir -p "$fio_folder"
    rm -f "$fio_file"
    fio_rate --rw=write --bs=1024k --fallocate="$1" --end_fsync=1
    rm -f "$fio_file"
    rmdir "$fio_folder"
}

median()
{
    sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2];
                                       else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ratio()
{
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f\n", a / b; else print "-" }'
}

echo "Folder $folder, file $size_mb MB, $rounds rounds; rates in MB/s (2^20 bytes)."
# The first synced write after a pause is much slower than the rest, whoever makes it.
run_brennlow 1024 >/dev/null
run_fio 1024 truncate >/dev/null
for block in 1024 64; do
    echo
    echo "Block $block kB"
    : >"$work/ours" && : >"$work/fio"
    round=1
    while [ "$round" -le "$rounds" ]; do
        if [ $((round % 2)) -eq 1 ]; then
            ours=$(run_brennlow "$block")
            theirs=$(run_fio "$block" truncate)
        else
            theirs=$(run_fio "$block" truncate)
            ours=$(run_brennlow "$block")
        fi
        echo "$ours" >>"$work/ours"
        echo "$theirs" >>"$work/fio"
        set -- $ours $theirs
        printf '  round %d: BrennlowCmd write %6s read %6s | fio write %8s read %8s\n' \
            "$round" "$1" "$2" "$3" "$4"
        round=$((round + 1))
    done
    for pass in write read; do
        column=1
        [ "$pass" = read ] && column=2
        ours=$(cut -d' ' -f$column "$work/ours" | median)
        theirs=$(cut -d' ' -f$column "$work/fio" | median)
        printf '  median %-5s BrennlowCmd %8s  fio %8s  ratio %s\n' \
            "$pass" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
    done
done

echo
echo "fio write pass at 1024 kB by allocation setting (--fallocate=...), the settings"
echo "taking turns over $rounds rounds of their own"
# Consecutive synced writes tend to alternate between fast and slow, so the order turns
# by one each round and no setting keeps its place.
order="none truncate posix keep"
round=1
while [ "$round" -le "$rounds" ]; do
    for mode in $order; do
        run_fio_write "$mode" >>"$work/mode-$mode"
    done
    order="${order#* } ${order%% *}"
    round=$((round + 1))
done
for mode in none truncate posix keep; do
    printf '  %-8s median %8s\n' "$mode" "$(median <"$work/mode-$mode")"
done

# Which system call the write pass's pre-sizing really makes, when strace is at hand:
# ftruncate is --fallocate=truncate, fallocate the posix, keep or native settings. The
# timings above differ by less than their noise on most disks; this settles it.
# Wine may resize the file in its server, so that one is restarted under the trace too.
if command -v strace >/dev/null 2>&1; then
    bytes=$((size_mb * 1048576))
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w
    (cd "$work" && strace -f -e trace=ftruncate,fallocate -o "$work/trace" \
        /usr/lib/wine/wine64 "$build/BrennlowCmd.exe" -d "$windows_folder" -s "$size_mb" \
        -b 1024 -l 0 >/dev/null)
    call=$(grep -E "(ftruncate|fallocate)\(.*[ ,]$bytes([ )]|$)" "$work/trace" | head -n 1 |
        sed -E 's/^[0-9]+ +//; s/ +/ /g')
    echo "  the write pass pre-sizes with: ${call:-(no ftruncate or fallocate to $bytes bytes)}"
    case "$call" in
        ftruncate*) echo "  matching allocation setting: --fallocate=truncate" ;;
        fallocate*) echo "  matching allocation setting: --fallocate=posix" ;;
    esac
fi
