#!/bin/bash
# What the fault relay carries at most, whoever the client is: nfs-cp reading 16 MiB files
# through nfsRelay (0.5 ms each way), as 1, 2, 4, 6 and 8 programs at once, three times each;
# the MiB/s of each batch in all, program start included. Run inside the peers:
#   tests/peers/with-nfs-peers.sh bench/nfsCpThroughRelay.sh build-bench/bench/nfsRelay
set -euo pipefail
relayProgram=${1:?usage: $0 NFSRELAY}
command -v nfs-cp >/dev/null || { echo "$0: no nfs-cp here (tools/setup.sh bench)" >&2; exit 1; }
readonly relayHost=127.0.0.77 size=$((16 << 20))
work=$(mktemp -d)
for i in 0 1 2 3 4 5 6 7; do
    head -c "$size" /dev/urandom >"$RT_NFS_EXPORT_DIR/relayCeiling$i.dat"
done
"$relayProgram" "$relayHost" "$RT_NFS_HOST" 500 2049 "$RT_NFS_MOUNT_PORT" -u 111 >/dev/null &
relay=$!
trap 'kill "$relay" 2>/dev/null; rm -rf "$work" "$RT_NFS_EXPORT_DIR"/relayCeiling*.dat' EXIT
sleep 1
for programs in 1 2 4 6 8; do
    for run in 1 2 3; do
        rm -f "$work"/copy*
        start=$(date +%s.%N)
        pids=()
        for ((i = 0; i < programs; i++)); do
            nfs-cp "nfs://$relayHost$RT_NFS_EXPORT/relayCeiling$i.dat?nfsport=2049&mountport=$RT_NFS_MOUNT_PORT" \
                "$work/copy$i" >/dev/null &
            pids+=("$!")
        done
        wait "${pids[@]}"
        end=$(date +%s.%N)
        for ((i = 0; i < programs; i++)); do
            cmp -s "$work/copy$i" "$RT_NFS_EXPORT_DIR/relayCeiling$i.dat" || { echo "$0: copy $i differs" >&2; exit 1; }
        done
        awk -v n="$programs" -v r="$run" -v s="$start" -v e="$end" -v mib=$((size >> 20)) \
            'BEGIN { printf "%d nfs-cp at once, run %d: %.0f MiB/s in all\n", n, r, n * mib / (e - s) }'
    done
done
