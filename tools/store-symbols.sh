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
# Like a Windows symbol store, the store finds a name in any case and keeps the case it was
# first filed in: a folder or file that exists in another case takes this build.
filed_name()
{
    ls -A "$1" 2>/dev/null | awk -v name="$2" 'tolower($0) == tolower(name) { print; found = 1; exit }
        END { if (!found) print name }'
}
file=${where%%/*}
key=${where#*/}
key=${key%%/*}
folder="$store/$(filed_name "$store" "$file")"
folder="$folder/$(filed_name "$folder" "$key")"
target="$folder/$(filed_name "$folder" "$file")"
mkdir -p "$folder" || exit 1
# A reader never sees half a file, and runs side by side never share a temporary file.
temporary=$(mktemp "$folder/.store-symbols.XXXXXX") || exit 1
if ! cp "${debug:-$program}" "$temporary" || ! chmod 644 "$temporary" ||
    ! mv -f "$temporary" "$target"; then
    rm -f "$temporary"
    exit 1
fi
echo "Stored $target"
