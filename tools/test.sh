#!/usr/bin/env bash
# The whole test suite: set-up, a sanitized build, the 32-bit build with its unit suites, a
# short run of the fuzzing harnesses, and every test through CTest. With --all-arches first, also the slower runs on other
# architectures (tools/test-arches.sh). Other arguments go to CTest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-test"
allArches=0
if [ "${1:-}" = --all-arches ]; then
    allArches=1
    shift
fi

"$top/tools/setup.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON -DRT_WERROR=ON >/dev/null
cmake --build "$build" -j2
# The ThreadSanitizer build of the concurrency tests, which CTest runs as nfsConcurrencyTsan.
"$top/tools/tsan.sh" --build

# The 32-bit configuration is built every time, so that a 32-bit mistake cannot land unseen.
"$top/tools/test-i686.sh"
[ "$allArches" -eq 1 ] && "$top/tools/test-arches.sh"
# A short bounded run of every fuzzing harness (tools/test-fuzz.sh SECONDS runs longer); a
# finding fails the command after the rest of the suite has run.
fuzzStatus=0
"$top/tools/test-fuzz.sh" 10 || fuzzStatus=1

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0"
cd "$build"
ctest --output-on-failure --timeout 900 -j2 "$@"
[ "$fuzzStatus" -eq 0 ] || { echo "test: a fuzzing harness failed (above)"; exit 1; }
