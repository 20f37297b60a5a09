#!/usr/bin/env bash
# The main job: builds the modules, starts the local servers on loopback and shows what the
# system does against them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-release"

"$top/tools/setup.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRT_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null

echo "== starting rpcbind and nfs-ganesha on loopback"
exec "$top/tests/peers/with-nfs-peers.sh" "$top/tools/main-job-steps.sh" "$build"
