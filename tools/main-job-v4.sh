#!/usr/bin/env bash
# The main job's version 4 part, once a server of NFS version 4 alone is up (see main-job.sh):
# rtsh runs main-job-v4.rtsh, which mounts it with plain nfsMount, copies a file each way and
# reads it back through a symbolic link, and takes record locks that another task meets.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
hostDir=$(mktemp -d /tmp/main-job-v4.XXXXXX)
trap 'rm -rf "$hostDir"' EXIT
head -c 3000000 /dev/urandom >"$hostDir/v4.dat"

{
    printf 'nfsHost = "%s"\nnfsExport = "%s"\nhostDir = "host:%s"\n' \
        "$RT_NFS_HOST" "$RT_NFS_V4_EXPORT" "$hostDir"
    cat "$here/main-job-v4.rtsh"
} | "$build/shell/rtsh"

cmp "$hostDir/v4.dat" "$RT_NFS_EXPORT_DIR/v4.dat"
cmp "$hostDir/v4.dat" "$hostDir/v4.back"
cmp "$hostDir/v4.dat" "$hostDir/v4.vialink"
echo "main job: a server of NFS version 4 alone mounted by nfsMount (no portmapper), 3 MB copied in and back out (and through a symbolic link), the same on the server; record locks held and met by another task"
