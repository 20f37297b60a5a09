#!/usr/bin/env bash
# The main job's steps, run while the local servers are up (see main-job.sh).
set -euo pipefail
build=$1
export LD_LIBRARY_PATH="$build/kernel:$build/nfs:$build/sntpc:$build/store${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

echo "== brisnel: credentials and remote calls to ${RT_NFS_HOST}"
"$build/tools/brisnelDemo" "$RT_NFS_HOST" "$build/nfs/libbrisnel.so"

echo
echo "== tovelle and quenby: the time from a local chrony, and the value store"
"$(dirname "$0")/../tests/peers/with-chrony.sh" sh -c \
    "\"$build/tools/sntpStoreDemo\" 127.0.0.1 \"\$SNTPC_CHRONY_PORT\""

echo
echo "== brisnel: mounting ${RT_NFS_EXPORT} of ${RT_NFS_HOST}, a file through the device's cache"
"$build/tools/nfsMountDemo" "$RT_NFS_HOST" "$RT_NFS_EXPORT" "$RT_NFS_EXPORT_DIR" "$build/nfs/libbrisnel.so"

echo
echo "== brisnel: file calls on a mount of ${RT_NFS_EXPORT}: list, create, write, read, rename, remove, links"
"$build/tools/nfsFileDemo" "$RT_NFS_HOST" "$RT_NFS_EXPORT" "$RT_NFS_EXPORT_DIR" "$build/nfs/libbrisnel.so"
