#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan and UBSan) in build-fuzz and runs each for
# SECONDS (default 10), from its seed corpus in tests/fuzz/corpus/ when there is one, with a
# 64 MiB malloc limit. New inputs go to a scratch folder; a failing input is left in build-fuzz.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-fuzz"
seconds=${1:-10}
# shellcheck source=tools/steps.sh
. "$top/tools/steps.sh"

CC=clang CXX=clang++ logged "$build/configure.log" cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON -DRT_FUZZ=ON "${launcherArgs[@]}"
logged "$build/build.log" cmake --build "$build" -j2 --target fuzzHarnesses

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
cd "$build"
for harness in tests/fuzz/*Fuzz; do
    name=$(basename "$harness")
    seeds="$top/tests/fuzz/corpus/$name"
    mkdir -p "$scratch/$name"
    [ -d "$seeds" ] || seeds=
    if "$harness" -max_total_time="$seconds" -malloc_limit_mb=64 -rss_limit_mb=1024 -timeout=10 \
        -print_final_stats=0 "$scratch/$name" $seeds >"$name.log" 2>&1; then
        echo "fuzz: $name ran ${seconds}s, nothing found"
    else
        echo "fuzz: $name FAILED, see $build/$name.log:"
        grep -E 'ERROR|SUMMARY' "$name.log" | head -3
        status=1
    fi
done
exit "$status"
