#!/usr/bin/env bash
# The benchmarks: a Release build, nfs-ganesha (with rpcbind) and chrony started on loopback by
# the peer scripts, every figure against its floor measured in the same run; the table on
# standard output, the figures as JSON and a plot of the throughput in the output folder.
#
#   tools/bench.sh [OUTDIR] [-- nfsSpeedBench options, e.g. --runs 7 --mib 64]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-bench"
out="$top/bench-results"
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
    out=$1
    shift
fi
[ "${1:-}" != "--" ] || shift

"$top/tools/setup.sh"
# The comparison peers and the plotting library, as Debian ships them.
missing=()
for package in libnfs-utils python3-matplotlib; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "bench: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRT_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target nfsSpeedBench sntpSpeedBench >/dev/null

mkdir -p "$out"
echo "bench: NFS figures against nfs-ganesha on loopback (a few minutes)"
"$top/tests/peers/with-nfs-peers.sh" "$build/bench/nfsSpeedBench" "$@" >"$out/nfs.jsonl"
echo "bench: SNTP figures against chrony on loopback"
"$top/tests/peers/with-chrony.sh" "$build/bench/sntpSpeedBench" >"$out/sntp.jsonl"
# Debian's own interpreter, which sees the plotting library the package installed.
/usr/bin/python3 "$top/bench/report.py" --json "$out/bench.json" --png "$out/throughput.png" \
    "$out/nfs.jsonl" "$out/sntp.jsonl"
