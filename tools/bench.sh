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

# shellcheck source=tools/steps.sh
. "$top/tools/steps.sh"

# The main set, then the comparison peers (libnfs's nfs-ls and nfs-cat) and the plotting library.
step bench "set-up: the packages of the main and bench sets (tools/setup.sh bench)"
"$top/tools/setup.sh" bench
step bench "configure and build the benchmarks in Release (log: $build/build.log)"
logged "$build/configure.log" cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRT_TESTS=OFF \
    -DRT_BENCH=ON "${launcherArgs[@]}"
logged "$build/build.log" cmake --build "$build" -j2 --target nfsSpeedBench nfsRelay sntpSpeedBench

mkdir -p "$out"
echo "bench: NFS figures against nfs-ganesha on loopback and through a relay adding 0.5 ms each way (several minutes; --only window about 3.5)"
# The server's lock manager on, for the lock figures.
RT_NFS_SERVER_LOCKS=1 "$top/tests/peers/with-nfs-peers.sh" "$build/bench/nfsSpeedBench" "$@" >"$out/nfs.jsonl"
echo "bench: SNTP figures against chrony on loopback"
"$top/tests/peers/with-chrony.sh" "$build/bench/sntpSpeedBench" >"$out/sntp.jsonl"
# Debian's own interpreter, which sees the plotting library the package installed.
/usr/bin/python3 "$top/bench/report.py" --json "$out/bench.json" --png "$out/throughput.png" \
    "$out/nfs.jsonl" "$out/sntp.jsonl"
