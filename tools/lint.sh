#!/usr/bin/env bash
# clang-tidy and cppcheck over the project's own sources (the modules, the kernel layer, the
# shell and the tools). With a build folder as argument, its compile_commands.json is used;
# otherwise one is made in build-lint. A tool that is missing or cannot run fails the lint,
# as does any finding: silence counts only from a tool that ran.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-lint}

for tool in clang-tidy cppcheck; do
    command -v "$tool" >/dev/null || { echo "lint: $tool is missing (tools/setup.sh test installs it)" >&2; exit 1; }
done
if [ ! -f "$build/compile_commands.json" ]; then
    mkdir -p "$build"
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$build/configure.log" 2>&1 ||
        { tail -n 20 "$build/configure.log" >&2; echo "lint: cannot configure $build" >&2; exit 1; }
fi
cd "$top"
mapfile -t sources < <(find kernel nfs sntpc store shell tools -name '*.cpp' | sort)
[ "${#sources[@]}" -gt 0 ] || { echo "lint: no sources found under $top" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0

# Two at a time: beside the live suites, which mostly wait on their peers, a second core is free.
tidyStatus=0
printf '%s\0' "${sources[@]}" | xargs -0 -n 8 -P 2 clang-tidy -p "$build" --quiet \
    >"$out/tidy.txt" 2>"$out/tidy.err" || tidyStatus=$?
if grep -E -A3 'warning:|error:' "$out/tidy.txt"; then
    status=1
elif [ "$tidyStatus" -ne 0 ]; then
    echo "lint: clang-tidy could not check every file (status $tidyStatus):" >&2
    grep -v 'warnings\? generated\.$' "$out/tidy.err" | tail -n 20 >&2
    status=1
fi

cppStatus=0
cppcheck -j 2 --quiet --error-exitcode=1 --enable=warning,performance,portability --inline-suppr \
    --std=c++20 --suppress=missingIncludeSystem -I include -I nfs -I shell "${sources[@]}" || cppStatus=$?
if [ "$cppStatus" -eq 1 ]; then
    status=1
elif [ "$cppStatus" -ne 0 ]; then
    echo "lint: cppcheck could not run (status $cppStatus)" >&2
    status=1
fi
[ "$status" -eq 0 ] && echo "lint: clang-tidy and cppcheck ran on ${#sources[@]} files and are quiet"
exit "$status"
