#!/usr/bin/env bash
# The whole test suite: set-up, a sanitized build, the 32-bit build with its unit suites, a
# short run of the fuzzing harnesses, and every test through CTest. With --all-arches first,
# also the slower runs on other architectures (tools/test-arches.sh). Other arguments go to
# CTest. One line per step; the set-up's, configure's and builds' output goes to logs that are
# shown when a step fails, and CTest prints a line per suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-test"
# shellcheck source=tools/steps.sh
. "$top/tools/steps.sh"
allArches=0
if [ "${1:-}" = --all-arches ]; then
    allArches=1
    shift
fi

if [ "$allArches" -eq 1 ]; then
    step test "set-up: the packages of the main, test and arches sets (tools/setup.sh arches)"
    "$top/tools/setup.sh" arches
else
    step test "set-up: the packages of the main and test sets (tools/setup.sh test)"
    "$top/tools/setup.sh" test
fi
step test "configure the sanitized build in $build"
logged "$build/configure.log" cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON \
    -DRT_WERROR=ON "${launcherArgs[@]}"
step test "build it (log: $build/build.log)"
logged "$build/build.log" cmake --build "$build" -j2
# The ThreadSanitizer build of the concurrency tests, which CTest runs as nfsConcurrencyTsan.
step test "build the concurrency tests with ThreadSanitizer (tools/tsan.sh --build)"
"$top/tools/tsan.sh" --build

# The 32-bit configuration is built every time, so that a 32-bit mistake cannot land unseen.
step test "the 32-bit x86 build and its unit suites (tools/test-i686.sh)"
"$top/tools/test-i686.sh"
if [ "$allArches" -eq 1 ]; then
    step test "the other architectures (tools/test-arches.sh)"
    "$top/tools/test-arches.sh"
fi
# A short bounded run of every fuzzing harness (tools/test-fuzz.sh SECONDS runs longer); a
# finding fails the command after the rest of the suite has run.
step test "fuzzing harnesses, 10 seconds each (tools/test-fuzz.sh)"
fuzzStatus=0
"$top/tools/test-fuzz.sh" 10 || fuzzStatus=1

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0"
step test "every suite through CTest, two at a time"
cd "$build"
ctest --output-on-failure --timeout 900 -j2 "$@"
[ "$fuzzStatus" -eq 0 ] || { echo "test: a fuzzing harness failed (above)"; exit 1; }
