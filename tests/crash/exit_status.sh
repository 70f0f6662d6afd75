#!/bin/sh
# A program that crashes under the test runner must end with a failing status, or CTest
# would count a test program that crashed as passed. The fault program's null write ends
# it with 0xC0000005, of which the status keeps the low byte.
# Arguments: the runner, the fault program.
work=$(mktemp -d) || exit 1
cp "$2" "$work/" && cd "$work" && "$1" "./$(basename "$2")" write >/dev/null 2>&1
status=$?
cd / && rm -rf "$work"
[ "$status" -eq 5 ] || { echo "the crashed program ended with status $status, not 5"; exit 1; }
