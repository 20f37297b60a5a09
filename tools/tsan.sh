#!/usr/bin/env bash
# The concurrency tests built with ThreadSanitizer (clang, only what they need, in build-tsan)
# and run against the real peers. Extra arguments go to the test binary; --build only builds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-tsan"
# shellcheck source=tools/steps.sh
. "$top/tools/steps.sh"

logged "$build/configure.log" cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRT_TSAN=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcherArgs[@]}"
logged "$build/build.log" cmake --build "$build" -j2 --target nfsConcurrencyTests
if [ "${1:-}" = "--build" ]; then
    exit 0
fi

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tests/tsan.supp"
exec "$top/tests/peers/with-nfs-peers.sh" "$build/tests/nfsConcurrencyTests" "$@"
