#!/bin/sh
# Files a program's debug information in the symbol store, where tools/symbolize.py finds
# it for the reports of that build:
#   tools/store-symbols.sh <program> [<debug file>] [--store DIR]
# <program> is the file as shipped: its PE time stamp and size of image, which stripping
# rewrites, make the key. <debug file> is the same build before stripping (default: the
# program itself, when it still carries its debug information). The store defaults to
# $BRENNLOW_SYMBOL_STORE, else "symbols" in the current folder.
usage="usage: $0 <program> [<debug file>] [--store DIR]"
store="${BRENNLOW_SYMBOL_STORE:-symbols}"
program=""
debug=""
while [ $# -gt 0 ]; do
    case "$1" in
    --store)
        [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
        store="$2"
        shift 2
        continue
        ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) if [ -z "$program" ]; then program="$1"; elif [ -z "$debug" ]; then debug="$1"
       else echo "$usage" >&2; exit 2; fi ;;
    esac
    shift
done
[ -n "$program" ] || { echo "$usage" >&2; exit 2; }
where=$(python3 "$(dirname "$0")/symbolize.py" --key "$program" --debug "${debug:-$program}") ||
    exit 1
mkdir -p "$store/${where%/*}" || exit 1
# A reader never sees half a file.
cp "${debug:-$program}" "$store/$where.part" && mv "$store/$where.part" "$store/$where" || exit 1
echo "Stored $store/$where"
