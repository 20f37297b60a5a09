#!/usr/bin/env bash
# The main job: builds the system, starts rpcbind, nfs-ganesha and chrony on loopback and runs
# the shell script tools/main-job.rtsh against them through rtsh, the kernel shell.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-release"

"$top/tools/setup.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRT_TESTS=OFF ${RT_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j2 >/dev/null

echo "== starting rpcbind, nfs-ganesha and chrony on loopback"
# chrony shares the NFS peers' private network namespace.
exec "$top/tests/peers/with-nfs-peers.sh" env SNTPC_NO_NAMESPACE=1 \
    "$top/tests/peers/with-chrony.sh" "$top/tools/main-job-steps.sh" "$build"
