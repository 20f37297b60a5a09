#!/usr/bin/env bash
# clang-tidy and cppcheck over the project's own sources (not the tests' third-party parts).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-lint"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
sources=$(cd "$top" && git ls-files 'kernel/*.cpp' 'nfs/*.cpp' 'sntpc/*.cpp' 'store/*.cpp' 'tools/*.cpp' "$@")
cd "$top"
status=0
clang-tidy -p "$build" --quiet $sources 2>/dev/null | grep -E 'warning:|error:' && status=1
cppcheck --quiet --enable=warning,performance,portability --inline-suppr --std=c++20 \
    --suppress=missingIncludeSystem -I include -I nfs $sources || status=1
exit "$status"
