#!/usr/bin/env bash
# The whole test suite: set-up, a sanitized build, and every test through CTest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-test"

"$top/tools/setup.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON -DRT_WERROR=ON >/dev/null
cmake --build "$build" -j2
# The ThreadSanitizer build of the concurrency tests, which CTest runs as nfsConcurrencyTsan.
"$top/tools/tsan.sh" --build

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0"
cd "$build"
ctest --output-on-failure --timeout 900 -j2 "$@"
