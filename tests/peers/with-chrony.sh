#!/usr/bin/env bash
# Runs a test program beside a chrony serving and broadcasting on loopback, and stops chrony
# again however the program ends.
#
#   with-chrony.sh PROGRAM [ARGS...]
#
# As root, everything runs in a private network and process namespace: its own loopback,
# made multicast-capable, where nothing clashes with a system time service, and where chrony
# cannot outlive the run. Elsewhere chrony runs on the host's loopback and the multicast case
# is skipped (also when SNTPC_NO_NAMESPACE is set). The program finds the ports in
# SNTPC_CHRONY_PORT and SNTPC_CHRONY_BROADCAST_PORT, which the caller may choose; a second chrony
# with no time source, unsynchronised and so answering with stratum 0, on SNTPC_CHRONY_UNSYNC_PORT.
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 PROGRAM [ARGS...]" >&2
    exit 2
fi

export SNTPC_CHRONY_PORT="${SNTPC_CHRONY_PORT:-11123}"
export SNTPC_CHRONY_BROADCAST_PORT="${SNTPC_CHRONY_BROADCAST_PORT:-11124}"
export SNTPC_CHRONY_UNSYNC_PORT="${SNTPC_CHRONY_UNSYNC_PORT:-11125}"

if [[ -z "${SNTPC_NO_NAMESPACE:-}" && -z "${_SNTPC_NAMESPACE_MADE:-}" && $(id -u) -eq 0 ]] &&
    unshare --net --pid --fork --mount-proc true 2>/dev/null; then
    # The script becomes the first process of the new process namespace, with a /proc of its
    # own (the sanitizers read their threads there): when it ends, the
    # kernel ends chrony too.
    _SNTPC_NAMESPACE_MADE=1 exec unshare --net --pid --fork --mount-proc --kill-child "$0" "$@"
fi

if [[ -n "${_SNTPC_NAMESPACE_MADE:-}" ]]; then
    ip link set lo up
    ip link set lo multicast on
    ip route add 224.0.0.0/4 dev lo
    export SNTPC_MULTICAST=1
fi

workdir=$(mktemp -d "${TMPDIR:-/tmp}/chrony-test.XXXXXX")
chrony_pid=
unsync_pid=

stop_chrony() {
    for pid in $chrony_pid $unsync_pid; do
        kill -0 "$pid" 2>/dev/null || continue
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$workdir"
}
trap stop_chrony EXIT
trap 'exit 130' INT TERM

cat >"$workdir/chrony.conf" <<CONF
port $SNTPC_CHRONY_PORT
bindaddress 127.0.0.1
allow 127.0.0.1
local stratum 8
cmdport 0
pidfile $workdir/chronyd.pid
driftfile $workdir/chrony.drift
broadcast 1 127.0.0.1 $SNTPC_CHRONY_BROADCAST_PORT
CONF

# In the foreground (-d), so that its process number is ours to stop.
chronyd -d -x -u root -f "$workdir/chrony.conf" >"$workdir/chronyd.log" 2>&1 &
chrony_pid=$!

# Wait until chrony has bound its server port.
for _ in $(seq 100); do
    if ss -Hlun "sport = :$SNTPC_CHRONY_PORT" 2>/dev/null | grep -q .; then
        break
    fi
    if ! kill -0 "$chrony_pid" 2>/dev/null; then
        echo "chronyd did not start:" >&2
        cat "$workdir/chronyd.log" >&2
        exit 1
    fi
    sleep 0.1
done

# The unsynchronised one, started and waited for alike.
cat >"$workdir/unsync.conf" <<CONF
port $SNTPC_CHRONY_UNSYNC_PORT
bindaddress 127.0.0.1
allow 127.0.0.1
cmdport 0
pidfile $workdir/unsync.pid
CONF
chronyd -d -x -u root -f "$workdir/unsync.conf" >"$workdir/unsync.log" 2>&1 &
unsync_pid=$!
for _ in $(seq 100); do
    ss -Hlun "sport = :$SNTPC_CHRONY_UNSYNC_PORT" 2>/dev/null | grep -q . && break
    if ! kill -0 "$unsync_pid" 2>/dev/null; then
        echo "chronyd (unsynchronised) did not start:" >&2
        cat "$workdir/unsync.log" >&2
        exit 1
    fi
    sleep 0.1
done

status=0
"$@" || status=$?
if [[ $status -ne 0 ]]; then
    echo "---- chronyd log ----" >&2
    cat "$workdir/chronyd.log" "$workdir/unsync.log" >&2
fi
exit "$status"
