#!/usr/bin/env bash
# Records the fuzz harnesses' seed corpora from the real peers into tests/fuzz/corpus/: NFS
# version 3, MOUNT and portmapper replies, and the replies a listing and some lookups of a
# small tree meet (nfsReplyRecord beside the NFS peers), and the time server's replies. The
# corpora are committed; run this again after a change of an input format. Builds in build-fuzz.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-fuzz"
corpus="$top/tests/fuzz/corpus"

# shellcheck source=tools/steps.sh
. "$top/tools/steps.sh"

CC=clang CXX=clang++ logged "$build/configure.log" cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON -DRT_FUZZ=ON "${launcherArgs[@]}"
cmake --build "$build" -j2 --target nfsReplyRecord
recorder="$build/tests/fuzz/nfsReplyRecord"

rm -rf "$corpus/xdrResultsFuzz" "$corpus/nfsNameOpsFuzz" "$corpus/sntpReplyFuzz"
"$top/tests/peers/with-nfs-peers.sh" "$recorder" nfs "$corpus"
"$top/tests/peers/with-chrony.sh" "$recorder" sntp "$corpus/sntpReplyFuzz"
echo "fuzz-seeds: $(find "$corpus" -type f | wc -l) seeds in $corpus"
