#!/usr/bin/env bash
# Checks that a built tavcam.dll exports every function of the .def under its
# undecorated name and with its ordinal.
# Usage: scripts/check-dll-exports.sh DLL TRIPLET(i686|x86_64)
set -euo pipefail
dll=$1
triplet=$2
def=$(dirname "$0")/../core/entry/tavcam.def
table=$("$triplet-w64-mingw32-objdump" -p "$dll")
base=$(awk '/^Ordinal Base/ {print $3; exit}' <<<"$table")
bad=0
while read -r name ordinal; do
    want=$((${ordinal#@} - base))
    if ! grep -qE "^\s*\[ *$want\] $name$" <<<"$table"; then
        echo "$dll: $name is not exported as ordinal ${ordinal#@}" >&2
        bad=1
    fi
done < <(awk '/^ +[A-Za-z_0-9]+ @[0-9]+/ {print $1, $2}' "$def")
count=$(awk '/^ +[A-Za-z_0-9]+ @[0-9]+/' "$def" | wc -l)
[ $bad -eq 0 ] && echo "$dll: all $count exports at their ordinals"
exit $bad
