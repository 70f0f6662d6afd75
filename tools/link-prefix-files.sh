#!/bin/sh
# Usage: link-prefix-files.sh MODEL PREFIX
# Every Wine prefix holds a copy of each Windows module of Wine, over a gigabyte. The
# prefixes of one build tree come from the same Wine, so each module of PREFIX that is byte
# for byte the MODEL prefix's becomes a hard link to MODEL's file. Wine only reads them once
# a prefix is set up. A module on another file system, or one that differs, keeps its copy.
model=$(cd "$1/drive_c/windows" 2>/dev/null && pwd) || exit 0
cd "$2/drive_c/windows" 2>/dev/null || exit 0
find system32 syswow64 winsxs -type f \( -name '*.dll' -o -name '*.exe' -o -name '*.drv' \
    -o -name '*.sys' -o -name '*.vxd' -o -name '*.ocx' -o -name '*.cpl' -o -name '*.acm' \
    -o -name '*.tlb' -o -name '*.com' -o -name '*.ax' -o -name '*.nls' \) \
    -exec sh -c 'model=$1; shift
        for file; do
            cmp -s "$file" "$model/$file" && ln -f "$model/$file" "$file" 2>/dev/null
        done
        exit 0' sh "$model" {} + 2>/dev/null
exit 0
