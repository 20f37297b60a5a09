#!/usr/bin/env bash
# The main job's run, once the local servers are up (see main-job.sh): rtsh runs the script
# main-job.rtsh, told first where the servers and the host's files are.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
hostDir=$(mktemp -d /tmp/main-job.XXXXXX)
trap 'rm -rf "$hostDir"' EXIT
printf 'Notes written on the host,\ncopied through the NFS client.\n' >"$hostDir/notes.txt"
head -c 4194304 /dev/urandom >"$hostDir/big.dat"

{
    printf 'nfsHost = "%s"\nnfsExport = "%s"\nhostDir = "host:%s"\nchronyPort = %s\n' \
        "$RT_NFS_HOST" "$RT_NFS_EXPORT" "$hostDir" "$SNTPC_CHRONY_PORT"
    sed "s|@server@|$RT_NFS_HOST:$RT_NFS_EXPORT|" "$here/main-job.rtsh"
} | "$build/shell/rtsh"

# What a user meets when something is wrong: a mount that fails says what to do, and a command
# on a path that names no device (the failed mount's) refuses instead of changing host files.
wrong=$(printf 'ld < brisnel\nnfsTimeoutSec = 2\nnfsMount "127.0.0.9","/nope","/fb"\ncd "%s"\nrm /fb/notes.txt\n' \
    "host:$hostDir" | "$build/shell/rtsh" -k 2>&1) || true
printf '%s\n' "$wrong"
grep -q '^hint: ' <<<"$wrong"
grep -q 'not done without -f' <<<"$wrong"

# The 4 MiB copied with 32 KiB transfers: the same bytes in the exported folder and back.
cmp "$hostDir/big.dat" "$RT_NFS_EXPORT_DIR/big.dat"
cmp "$hostDir/big.dat" "$hostDir/big.back"
cmp "$hostDir/big.dat" "$hostDir/big.tcp"
echo "main job: 4 MiB through 32 KiB transfers over UDP and, mounted with options, the server's preferred transfers over TCP, the same on the server and copied back"
