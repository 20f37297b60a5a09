#!/usr/bin/env bash
# Records the fuzz harnesses' seed corpora from the real peers into tests/fuzz/corpus/: NFS
# version 3, MOUNT and portmapper replies, and the replies a listing and some lookups of a
# small tree meet (nfsReplyRecord beside the NFS peers), the time server's replies, and the
# NFS version 4 COMPOUND replies of a server of version 4 alone to libnfs's tools listing,
# reading and writing a small tree, captured with tcpdump (tests/fuzz/nfs4-capture.sh). The
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

rm -rf "$corpus/xdrResultsFuzz" "$corpus/nfsNameOpsFuzz" "$corpus/sntpReplyFuzz" "$corpus/nfs4ReplyFuzz"
"$top/tests/peers/with-nfs-peers.sh" "$recorder" nfs "$corpus"
RT_NFS_SERVER_VERSIONS=4 "$top/tests/peers/with-nfs-peers.sh" "$top/tests/fuzz/nfs4-capture.sh" "$corpus/nfs4ReplyFuzz"
"$top/tests/peers/with-chrony.sh" "$recorder" sntp "$corpus/sntpReplyFuzz"
echo "fuzz-seeds: $(find "$corpus" -type f | wc -l) seeds in $corpus"
