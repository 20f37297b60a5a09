#!/bin/bash
# Runs CMD ARGS with the real NFS peers up on loopback and exits with CMD's status.
# The test sees:
#   RT_NFS_HOST        the server's address (127.0.0.1)
#   RT_NFS_EXPORT      the path a MOUNT request names
#   RT_NFS_EXPORT_DIR  the same folder on this machine, for checking the server's side
#   RT_RPCBIND_PID, RT_GANESHA_PID  the peers' processes, for tests that pause one
#   RT_NFS_PEERS_RESTART  a command that kills the NFS server and starts it again, printing
#                      its new pid (RT_GANESHA_PID is then stale)
#   RT_NFS_MOUNT_PORT  the server's MOUNT port, fixed across restarts
#   RT_NFS_SERVER_UDP  0 when the server offers NFS and MOUNT over TCP only (set it before
#                      calling this wrapper to have it so), else 1
#   RT_NFS_SERVER_VERSIONS  the NFS versions served: 3 (the default), 4 (4.0 and 4.1 alone, on
#                      TCP port 2049, with no portmapper: RT_RPCBIND_PID is then empty) or 3,4;
#                      set it before calling this wrapper (see nfs-peers.sh, also for
#                      RT_NFS_V4_LEASE and RT_NFS_V4_GRACE)
#   RT_NFS_V4_EXPORT   the export's path in the server's version 4 pseudo file system
#   RT_NFS_SERVER_LOCKS  1 when the version 3 server serves locks (its lock manager and a
#                      status monitor beside it); set it before calling this wrapper
#
# Where the machine allows it, everything runs in private network, mount and pid
# namespaces: the peers then never meet an rpcbind or NFS server of the host or
# of a concurrent run; when this wrapper is killed outright the kernel ends every
# process it started, and the state folder's content, a private tmpfs, goes with
# them (only the empty folder stays behind).
# SIGINT, SIGTERM and SIGHUP stop CMD and the peers in order. Set
# RT_PEERS_NO_NAMESPACE=1 to run in the host's namespaces.
set -uo pipefail

[ $# -ge 1 ] || { echo "usage: $0 CMD [ARGS...]" >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
self="$here/$(basename "$0")"
readonly nsFlags=(--net --mount --pid --fork --kill-child --mount-proc)

# Runs PID's command to its end, passing SIGINT, SIGTERM and SIGHUP on to TARGET
# (a command for finding the pid to signal), and sets `status` to its exit status.
superviseChild() {
    local pid=$1 target=$2
    # shellcheck disable=SC2064 # TARGET is fixed now; the pid it finds is looked up then
    trap "kill -TERM \$($target) 2>/dev/null" INT TERM HUP
    # wait returns early when a trapped signal arrives; keep waiting until the
    # child has really ended.
    while :; do
        wait "$pid"
        status=$?
        kill -0 "$pid" 2>/dev/null || break
    done
    trap - INT TERM HUP
}

# The namespaced shell is the only child of unshare.
# shellcheck disable=SC2317 # called through superviseChild's trap
innerShellPid() {
    cat "/proc/$unsharePid/task/$unsharePid/children" 2>/dev/null
}

if [ -z "${RT_PEERS_IN_NAMESPACE:-}" ] && [ -z "${RT_PEERS_NO_NAMESPACE:-}" ]; then
    if unshare "${nsFlags[@]}" true 2>/dev/null; then
        # If this shell is killed outright, unshare dies too, and with it the namespace.
        setpriv --pdeathsig KILL -- unshare "${nsFlags[@]}" \
            env RT_PEERS_IN_NAMESPACE=1 "$self" "$@" <&0 &
        unsharePid=$!
        superviseChild "$unsharePid" innerShellPid
        exit "$status"
    fi
    echo "with-nfs-peers: no private namespaces here; using the host's loopback" >&2
fi

base=$(mktemp -d /tmp/nfs-peers.XXXXXX) || exit 1
mountedBase=
if [ -n "${RT_PEERS_IN_NAMESPACE:-}" ]; then
    ip link set lo up || { echo "with-nfs-peers: cannot bring up loopback" >&2; exit 1; }
    # The NFS server resolves its bind address as IPv6 with v4-mapping and the
    # "only if configured" flag, which finds nothing while ::1 is the only IPv6
    # address: give loopback a private one.
    ip -6 addr add fd00:7274::1/128 dev lo nodad 2>/dev/null || true
    mount -n -t tmpfs -o mode=0755 rt-nfs-peers "$base" && mountedBase=1
fi
dir="$base/peers"

stopped=
stopPeers() {
    [ -n "$stopped" ] && return
    stopped=1
    "$here/nfs-peers.sh" stop "$dir"
    # A server thread still closing its files can hold the folder a moment longer: the
    # namespace is private, so a lazy unmount is as good.
    [ -z "$mountedBase" ] || umount -n "$base" 2>/dev/null || umount -n -l "$base"
    rmdir "$base"
}
trap stopPeers EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

"$here/nfs-peers.sh" start "$dir" || exit 1

export RT_NFS_HOST=127.0.0.1
export RT_NFS_EXPORT="$dir/export"
export RT_NFS_EXPORT_DIR="$dir/export"
RT_RPCBIND_PID=$(awk '$1 == "rpcbind" { print $2 }' "$dir/peers.pids")
RT_GANESHA_PID=$(awk '$1 == "ganesha.nfsd" { print $2 }' "$dir/peers.pids")
export RT_RPCBIND_PID RT_GANESHA_PID
export RT_NFS_PEERS_RESTART="$here/nfs-peers.sh restart-server $dir"
export RT_NFS_MOUNT_PORT=20048
export RT_NFS_SERVER_UDP=${RT_NFS_SERVER_UDP:-1}
export RT_NFS_SERVER_VERSIONS=${RT_NFS_SERVER_VERSIONS:-3}
export RT_NFS_V4_EXPORT=/export
export RT_NFS_SERVER_LOCKS=${RT_NFS_SERVER_LOCKS:-0}

"$@" <&0 &
cmdPid=$!
superviseChild "$cmdPid" "echo $cmdPid"
stopPeers
exit "$status"
