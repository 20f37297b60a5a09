#!/usr/bin/env bash
# The main job: builds the system, starts rpcbind, nfs-ganesha and chrony on loopback and runs
# the shell script tools/main-job.rtsh against them through rtsh, the kernel shell; then a
# server of NFS version 4 alone (no portmapper) for tools/main-job-v4.rtsh. One line per step; the set-up's, configure's and build's output goes to logs that are shown when a
# step fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-release"
# shellcheck source=tools/steps.sh
. "$top/tools/steps.sh"

step "main job" "set-up: the packages of the main set (tools/setup.sh main)"
"$top/tools/setup.sh" main
step "main job" "configure in $build"
# shellcheck disable=SC2086 # RT_CMAKE_ARGS holds words for cmake
logged "$build/configure.log" cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DRT_TESTS=OFF "${launcherArgs[@]}" ${RT_CMAKE_ARGS:-}
step "main job" "build (log: $build/build.log)"
logged "$build/build.log" cmake --build "$build" -j2

step "main job" "peers: rpcbind, nfs-ganesha and chrony on loopback"
# chrony shares the NFS peers' private network namespace.
"$top/tests/peers/with-nfs-peers.sh" env SNTPC_NO_NAMESPACE=1 \
    "$top/tests/peers/with-chrony.sh" "$top/tools/main-job-steps.sh" "$build"

step "main job" "peers: nfs-ganesha serving NFS version 4 alone, no portmapper"
RT_NFS_SERVER_VERSIONS=4 exec "$top/tests/peers/with-nfs-peers.sh" "$top/tools/main-job-v4.sh" "$build"
