#!/usr/bin/env bash
# Lays out the project's C and C++ sources with clang-format and the checkout's .clang-format.
#   tools/format.sh           rewrites the files in place
#   tools/format.sh --check   changes nothing; lists the files it would change, fails if any
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
command -v clang-format >/dev/null || { echo "format: clang-format is missing (apt-get install --no-remove clang-format)" >&2; exit 1; }
mapfile -t files < <(find include kernel nfs sntpc store shell tools tests bench \
    \( -name '*.cpp' -o -name '*.h' \) -not -path 'tests/fuzz/corpus/*' | sort)
if [ "${1:-}" = --check ]; then
    status=0
    for file in "${files[@]}"; do
        clang-format --style=file "$file" | cmp -s "$file" - || { echo "$file"; status=1; }
    done
    exit "$status"
fi
clang-format --style=file -i "${files[@]}"
echo "format: ${#files[@]} files laid out"
