#!/usr/bin/env bash
# clang-tidy and cppcheck over the project's own sources. With a build folder as argument,
# its compile_commands.json is used; otherwise one is made in build-lint.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-lint}
if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
fi
cd "$top"
mapfile -t sources < <(git ls-files 'kernel/*.cpp' 'nfs/*.cpp' 'sntpc/*.cpp' 'store/*.cpp' 'shell/*.cpp' 'tools/*.cpp')
status=0
# Two at a time: beside the live suites, which mostly wait on their peers, a second core is free.
if printf '%s\0' "${sources[@]}" | xargs -0 -n 8 -P 2 clang-tidy -p "$build" --quiet 2>/dev/null |
    grep -E -A3 'warning:|error:'; then
    status=1
fi
cppcheck -j 2 --quiet --error-exitcode=1 --enable=warning,performance,portability --inline-suppr \
    --std=c++20 --suppress=missingIncludeSystem -I include -I nfs "${sources[@]}" || status=1
[ "$status" -eq 0 ] && echo "lint: clang-tidy and cppcheck quiet on ${#sources[@]} files"
exit "$status"
