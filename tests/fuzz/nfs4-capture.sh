#!/bin/bash
# Records NFS version 4 replies as fuzz seeds: run beside a server of version 4 alone
# (RT_NFS_SERVER_VERSIONS=4 tests/peers/with-nfs-peers.sh, as tools/fuzz-seeds.sh does).
# Lays out a small tree in the export, captures TCP port 2049 on loopback with tcpdump while
# libnfs's tools list it, read a file and write one with ?version=4, and cuts the server's
# COMPOUND replies out of the capture into DIR (nfs4SeedsFromPcap.py).
#
#   nfs4-capture.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
out=$1
here=$(cd "$(dirname "$0")" && pwd)
for tool in tcpdump nfs-ls nfs-cat nfs-cp python3; do
    command -v "$tool" >/dev/null || { echo "nfs4-capture: '$tool' not found (packages: tcpdump libnfs-utils)" >&2; exit 1; }
done
[ -n "${RT_NFS_EXPORT_DIR:-}" ] || { echo "nfs4-capture: run beside the NFS peers" >&2; exit 1; }

export_dir=$RT_NFS_EXPORT_DIR
mkdir -p "$export_dir/dir"
printf 'version 4 seed\n' >"$export_dir/dir/file.txt"
head -c 3000 /dev/zero | tr '\0' 'x' >"$export_dir/big"
ln -s dir/file.txt "$export_dir/link"
printf 'written through version 4\n' >"${TMPDIR:-/tmp}/nfs4-capture-$$"

work=$(mktemp -d)
capture=$work/v4.pcap
tcpdump --immediate-mode -i lo -U -s 0 -w "$capture" 'tcp port 2049' 2>"$work/tcpdump.log" &
dumper=$!
trap 'kill "$dumper" 2>/dev/null; rm -rf "$work" "${TMPDIR:-/tmp}/nfs4-capture-$$"' EXIT
for _ in $(seq 50); do
    grep -q 'listening on' "$work/tcpdump.log" && break
    sleep 0.1
done

url="nfs://${RT_NFS_HOST:-127.0.0.1}${RT_NFS_V4_EXPORT:-/export}"
nfs-ls "$url?version=4"
nfs-ls "$url/dir?version=4"
nfs-cat "$url/dir/file.txt?version=4"
nfs-cat "$url/big?version=4" >/dev/null
nfs-cp "${TMPDIR:-/tmp}/nfs4-capture-$$" "$url/new.txt?version=4"
cmp "${TMPDIR:-/tmp}/nfs4-capture-$$" "$export_dir/new.txt"

sleep 0.5
kill -INT "$dumper"
wait "$dumper" || true
python3 "$here/nfs4SeedsFromPcap.py" "$capture" "$out" ganesha
