#!/usr/bin/env bash
# Checks a module's dynamic symbol table: every name of the export list is defined there under
# that very name (C linkage: a C++ symbol of that name does not count), no name of the private
# list is visible. Private words may be C++ symbols, so demangled names are compared by their
# last component.
set -euo pipefail
library=$1 exports=$2 private=$3
exported=$(nm -D --defined-only "$library" | awk '{print $3}')
defined=$(nm -D --defined-only -C "$library" | awk '{print $3}' | sed 's/(.*//; s/.*:://')
status=0
while read -r name; do
    [[ -z "$name" || "$name" == \#* ]] && continue
    grep -qx "$name" <<<"$exported" || { echo "not exported with C linkage: $name"; status=1; }
done <"$exports"
if [ -n "$private" ]; then
    while read -r name; do
        [[ -z "$name" || "$name" == \#* ]] && continue
        if grep -qx "$name" <<<"$defined"; then echo "exported but private: $name"; status=1; fi
    done <"$private"
fi
[ "$status" -eq 0 ] && echo "$(basename "$library"): exports as listed"
exit "$status"
