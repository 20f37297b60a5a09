#!/usr/bin/env bash
# The concurrency tests built with ThreadSanitizer (clang, only what they need, in build-tsan)
# and run against the real peers (the record-lock ones with the server's lock manager on); then
# the version 4 state's tasks and the version 4 driver's lock waits and releases against a server of version 4 alone; then the kernel layer's record locks, whose tasks contend for ranges. Extra arguments go to the concurrency test binary; --build only builds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-tsan"
# shellcheck source=tools/steps.sh
. "$top/tools/steps.sh"

logged "$build/configure.log" cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRT_TSAN=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcherArgs[@]}"
logged "$build/build.log" cmake --build "$build" -j2 --target nfsConcurrencyTests nfs4LiveTests kernelTests
if [ "${1:-}" = "--build" ]; then
    exit 0
fi

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tests/tsan.supp"
"$top/tests/peers/with-nfs-peers.sh" "$build/tests/nfsConcurrencyTests" "$@"
RT_NFS_SERVER_LOCKS=1 "$top/tests/peers/with-nfs-peers.sh" "$build/tests/nfsConcurrencyTests" \
    --gtest_filter='NlmLive.*'
RT_NFS_SERVER_VERSIONS=4 "$top/tests/peers/with-nfs-peers.sh" "$build/tests/nfs4LiveTests" \
    --gtest_filter='Nfs4StateLive.FourTasks*:Nfs4StateLive.TasksMovingWindows*:Nfs4StateLive.LastUser*:Minors/Nfs4LockLive.Waiting*:Minors/Nfs4DriverLockMinors.WaitGranted*:Minors/Nfs4DriverLockMinors.CloseAndTaskEnd*:Nfs4DriverLockLive.LocksReclaimed*'
exec "$build/tests/kernelTests" --gtest_filter='FileLock*'
