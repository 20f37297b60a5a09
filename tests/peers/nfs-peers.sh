#!/bin/bash
# Starts and stops the real NFS peers of the live tests on loopback:
# an rpcbind answering on 127.0.0.1 (UDP never on the wildcard address, so that
# scripted servers on 127.0.0.2, 127.0.0.3, ... can run their own portmapper on
# port 111 of their address) and an NFS v3 server with MOUNT v1/v3 on
# 127.0.0.1, exporting a fresh folder.
#
#   nfs-peers.sh start DIR   DIR must not exist yet (or be an empty folder)
#   nfs-peers.sh stop DIR    stops what "start DIR" started and removes DIR
#   nfs-peers.sh restart-server DIR   kills the NFS server outright (as a crash would) and
#                            starts it again on the same ports; prints its new pid
#
# RT_NFS_SERVER_UDP=0 in the environment serves NFS and MOUNT over TCP only (UDP off, as a
# current Linux server has it); by default the server offers both.
#
# RT_NFS_SERVER_VERSIONS=4 serves NFS version 4 (4.0 and 4.1) alone, over TCP on port 2049,
# with no portmapper and no MOUNT service, as a firewalled server or a cloud file service
# offers it; the export is then reached through the pseudo root at /export. "3,4" serves both
# versions beside the portmapper. The default is 3. For lease and restart tests of version 4:
# RT_NFS_V4_LEASE=N sets the lease to N seconds, RT_NFS_V4_GRACE=N gives a restarted server
# a grace period of N seconds (without it the server starts without one); RT_NFS_V4_MINORS
# lists the minor versions served (e.g. "1,2": no 4.0).
#
# RT_NFS_SERVER_LOCKS=1 turns the server's lock manager on (version 3: NLM version 4, found
# through the portmapper) with a stand-in status monitor beside it (status-monitor.py), which
# the lock manager asks to watch each client that locks.
#
# Both daemons run in a mount namespace of their own whose /run is DIR/run, so
# the portmapper's socket, lock and warm-start files never touch the host's /run.
# Every file the two daemons write lives in DIR.
set -euo pipefail

readonly host=127.0.0.1
# rpcbind adds 127.0.0.1 itself and refuses to be given it; this extra address
# just keeps it from binding the UDP wildcard.
readonly rpcbindExtraAddr=127.0.0.254
readonly mountPort=20048
readonly serverUdp=${RT_NFS_SERVER_UDP:-1}
if [ "$serverUdp" = 0 ]; then
    readonly enableUdp=false transports="TCP" served=tcp
else
    readonly enableUdp=true transports="UDP, TCP" served=udp
fi
readonly versions=${RT_NFS_SERVER_VERSIONS:-3}
case "$versions" in
3) readonly protocols="3" ;;
4) readonly protocols="4" ;;
3,4 | "3, 4") readonly protocols="3, 4" ;;
*)
    echo "nfs-peers: RT_NFS_SERVER_VERSIONS is 3, 4 or 3,4, not '$versions'" >&2
    exit 2
    ;;
esac
# Version 4 alone: no portmapper, nothing but NFS on TCP port 2049.
if [ "$protocols" = 4 ]; then
    readonly v4only=1
else
    readonly v4only=
fi
if [ "${RT_NFS_SERVER_LOCKS:-0}" = 1 ] && [ -z "$v4only" ]; then
    readonly nlm=true
else
    readonly nlm=false
fi
here=$(cd "$(dirname "$0")" && pwd)
readonly here
readonly readyTimeoutSec=${RT_PEERS_TIMEOUT:-30}
readonly stopTimeoutSec=10

die() {
    echo "nfs-peers: $*" >&2
    exit 1
}

usage() {
    echo "usage: $0 start|stop DIR" >&2
    exit 2
}

needTools() {
    local tool
    for tool in rpcbind ganesha.nfsd rpcinfo ss unshare nsenter; do
        command -v "$tool" >/dev/null 2>&1 ||
            die "'$tool' not found (packages: rpcbind nfs-ganesha nfs-ganesha-vfs iproute2 util-linux)"
    done
    if [ "$nlm" = true ]; then
        command -v python3 >/dev/null 2>&1 || die "'python3' not found (package: python3), for the status monitor"
    fi
    # nfs-ganesha finds the exported folder's file system in the mount table under this name.
    [ -e /etc/mtab ] || die "/etc/mtab is missing (on an installed system a link to ../proc/self/mounts)"
}

# Prints the last lines of every log in DIR, for a failed start.
showLogs() {
    local log
    for log in "$dir"/log/*.log; do
        [ -f "$log" ] || continue
        echo "---- last lines of $log" >&2
        tail -n 25 "$log" >&2
    done
}

isAlive() {
    local pid=$1 state
    [ -r "/proc/$pid/stat" ] || return 1
    state=$(sed -e 's/^.*) //' "/proc/$pid/stat" 2>/dev/null | cut -d' ' -f1) || return 1
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# Threads of the process besides its (possibly zombie) leader that have not exited yet.
threadsLeft() {
    local pid=$1 tasks
    tasks=$(find "/proc/$pid/task" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l) || return 1
    [ "$tasks" -gt 1 ]
}

# Only a process whose command is NAME counts, so that a reused pid is never hit.
# The launchers (unshare, nsenter, sh) count too: they exec the daemon in place.
isOurs() {
    local pid=$1 name=$2 comm
    isAlive "$pid" || return 1
    comm=$(cat "/proc/$pid/comm" 2>/dev/null) || return 1
    case "$comm" in
    "$name" | unshare | nsenter | sh) return 0 ;;
    *) return 1 ;;
    esac
}

portInUse() {
    local port=$1
    [ -n "$(ss -Hulpn "sport = :$port" 2>/dev/null | awk -v h="$host:$port" '$4 == h || $4 ~ /^(0\.0\.0\.0|\*|\[::\]):/')" ] ||
        [ -n "$(ss -Htlpn "sport = :$port" 2>/dev/null | awk -v h="$host:$port" '$4 == h || $4 ~ /^(0\.0\.0\.0|\*):/')" ]
}

checkNoClash() {
    if portInUse 111; then
        die "port 111 on $host is taken, probably by an rpcbind that this script did not start:
$(ss -Hulpn 'sport = :111'; ss -Htlpn 'sport = :111')
Run the tests through with-nfs-peers.sh (it uses a private network namespace) or stop that rpcbind."
    fi
    if portInUse 2049; then
        die "port 2049 on $host is taken by a process that this script did not start:
$(ss -Hulpn 'sport = :2049'; ss -Htlpn 'sport = :2049')"
    fi
}

# The NFSV4 block: lease and grace as the environment asks, else a server without grace.
v4Params() {
    [ -z "${RT_NFS_V4_LEASE:-}" ] || echo "    Lease_Lifetime = $RT_NFS_V4_LEASE;"
    [ -z "${RT_NFS_V4_MINORS:-}" ] || echo "    Minor_Versions = $RT_NFS_V4_MINORS;"
    if [ -n "${RT_NFS_V4_GRACE:-}" ]; then
        echo "    Grace_Period = $RT_NFS_V4_GRACE;"
        echo "    Graceless = false;"
    else
        echo "    Graceless = true;"
    fi
}

writeGaneshaConfig() {
    local udp=$enableUdp exportTransports=$transports
    if [ -n "$v4only" ]; then
        udp=false exportTransports=TCP
    fi
    cat >"$dir/ganesha.conf" <<EOF
NFS_CORE_PARAM {
    Protocols = $protocols;
    Enable_UDP = $udp;
    Bind_addr = $host;
    # A fixed MOUNT port, the same after a restart, so that a relay can stand in front of it.
    MNT_Port = $mountPort;
    Enable_NLM = $nlm;
    Enable_RQUOTA = false;
    Clustered = false;
}
NFSV4 {
$(v4Params)
    RecoveryRoot = "$dir/recovery";
}
NFS_KRB5 {
    Active_krb5 = false;
    CCacheDir = "$dir/run/ganesha";
}
EXPORT {
    Export_Id = 1;
    Path = "$dir/export";
    Pseudo = "/export";
    Protocols = $protocols;
    Transports = $exportTransports;
    Access_Type = RW;
    Squash = No_Root_Squash;
    SecType = sys;
    FSAL {
        Name = VFS;
    }
}
LOG {
    Default_Log_Level = EVENT;
}
EOF
}

# True once the portmapper lists NFS v3 and MOUNT v1 and v3 over UDP (TCP when UDP is off).
registrationsReady() {
    local list
    list=$(rpcinfo -p "$host" 2>/dev/null) || return 1
    echo "$list" | awk -v p="$served" '$1 == 100003 && $2 == 3 && $3 == p { n++ }
                        $1 == 100005 && $2 == 1 && $3 == p { m1++ }
                        $1 == 100005 && $2 == 3 && $3 == p { m3++ }
                        END { exit !(n && m1 && m3) }'
}

# Polls CHECK until it succeeds, failing early when daemon PID has died.
waitFor() {
    local what=$1 pid=$2 check=$3
    local deadline=$((SECONDS + readyTimeoutSec))
    until $check; do
        isAlive "$pid" || { showLogs; die "$what ended during start-up"; }
        [ "$SECONDS" -lt "$deadline" ] || { showLogs; die "$what not ready after ${readyTimeoutSec}s"; }
        sleep 0.2
    done
}

rpcbindAnswers() {
    rpcinfo -p "$host" >/dev/null 2>&1
}

checkRpcbindBinds() {
    local udp
    udp=$(ss -Hulpn 'sport = :111' | awk '{ print $4 }')
    if echo "$udp" | grep -Eq '^(0\.0\.0\.0|\*|\[::\]):111$'; then
        die "rpcbind bound the UDP wildcard address: $udp"
    fi
}

startRpcbind() {
    mkdir -p "$dir/run/rpcbind"
    # The new mount namespace sees DIR/run as /run; rpcbind keeps its files there.
    # shellcheck disable=SC2016 # $1 and $2 belong to the inner shell
    unshare --mount --propagation private -- /bin/sh -c \
        'mount -n --bind "$1" /run && exec rpcbind -f -h "$2"' \
        rpcbind "$dir/run" "$rpcbindExtraAddr" \
        >"$dir/log/rpcbind.log" 2>&1 </dev/null &
    local pid=$!
    echo "rpcbind $pid" >>"$dir/peers.pids"
    waitFor rpcbind "$pid" rpcbindAnswers
    checkRpcbindBinds
}

# The status monitor the lock manager asks, registered through rpcbind's local socket.
startStatusMonitor() {
    python3 "$here/status-monitor.py" "$host" "$dir/run/rpcbind.sock" \
        >"$dir/log/status-monitor.log" 2>&1 </dev/null &
    local pid=$!
    echo "python3 $pid" >>"$dir/peers.pids"
    waitFor status-monitor "$pid" statusMonitorReady
}

statusMonitorReady() {
    grep -q '^ready$' "$dir/log/status-monitor.log" 2>/dev/null
}

# True once NFS version 4 accepts a NULL call over TCP on port 2049, asked directly (rpcinfo
# asks the portmapper first): one record of xid 1, NFS program 100003 version 4 procedure 0,
# no credentials; the reply must be a REPLY, MSG_ACCEPTED, SUCCESS.
v4Answers() {
    local reply
    # shellcheck disable=SC2016 # $1 belongs to the inner shell
    reply=$(timeout 2 bash -c 'exec 3<>"/dev/tcp/$1/2049" &&
        printf "\x80\0\0\x28\0\0\0\x01\0\0\0\0\0\0\0\x02\0\x01\x86\xa3\0\0\0\x04\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0" >&3 &&
        head -c 28 <&3 | od -An -tx1 | tr -d " \n"' v4probe "$host" 2>/dev/null) || return 1
    [ "$reply" = 80000018000000010000000100000000000000000000000000000000 ]
}

# Version 4 alone: the server in a mount namespace of its own whose /run is DIR/run, as
# rpcbind's is; nothing to register with.
startGaneshaAlone() {
    writeGaneshaConfig
    mkdir -p "$dir/run/ganesha"
    # shellcheck disable=SC2016 # $1 to $3 belong to the inner shell
    unshare --mount --propagation private -- /bin/sh -c \
        'mount -n --bind "$1" /run && exec ganesha.nfsd -F -f "$2" -L "$3" -p /run/ganesha.pid -N NIV_EVENT' \
        ganesha "$dir/run" "$dir/ganesha.conf" "$dir/log/ganesha.log" \
        >"$dir/log/ganesha-console.log" 2>&1 </dev/null &
    local pid=$!
    echo "ganesha.nfsd $pid" >>"$dir/peers.pids"
    waitFor ganesha.nfsd "$pid" v4Answers
}

startGanesha() {
    if [ -n "$v4only" ]; then
        startGaneshaAlone
        return
    fi
    local rpcbindPid
    rpcbindPid=$(awk '$1 == "rpcbind" { print $2 }' "$dir/peers.pids")
    writeGaneshaConfig
    # Same mount namespace as rpcbind, so it registers through rpcbind's local socket; and the
    # same root: entering a mount namespace also moves to its root, which in a chroot is not ours.
    nsenter --mount="/proc/$rpcbindPid/ns/mnt" --root="/proc/$rpcbindPid/root" -- \
        ganesha.nfsd -F -f "$dir/ganesha.conf" -L "$dir/log/ganesha.log" \
        -p "$dir/run/ganesha.pid" -N NIV_EVENT \
        >"$dir/log/ganesha-console.log" 2>&1 </dev/null &
    local pid=$!
    echo "ganesha.nfsd $pid" >>"$dir/peers.pids"
    waitFor ganesha.nfsd "$pid" registrationsReady
    # After a restart the old registrations are still there: wait for the answers.
    waitFor ganesha.nfsd "$pid" programsAnswer
}

programsAnswer() {
    local program
    local programs=("100005 1" "100005 3" "100003 3")
    [ "$nlm" = false ] || programs+=("100021 4")
    for program in "${programs[@]}"; do
        # shellcheck disable=SC2086 # program number and version as two words
        rpcinfo "-${served:0:1}" "$host" $program >/dev/null 2>&1 || return 1
    done
}

start() {
    local startedNs
    startedNs=$(date +%s%N)
    needTools
    if [ -e "$dir" ] && { [ ! -d "$dir" ] || [ -n "$(ls -A "$dir")" ]; }; then
        die "$dir exists and is not an empty folder"
    fi
    checkNoClash
    mkdir -p "$dir"/{export,recovery,run,log}
    chmod 0777 "$dir/export"
    : >"$dir/peers.pids"
    # A failed start leaves nothing running.
    trap stopIfFailed EXIT
    [ -n "$v4only" ] || startRpcbind
    [ "$nlm" = false ] || startStatusMonitor
    startGanesha
    trap - EXIT
    echo "nfs-peers: ready in $((($(date +%s%N) - startedNs) / 1000000)) ms; export $dir/export on $host (NFS $protocols)"
}

stopIfFailed() {
    local status=$?
    [ "$status" -eq 0 ] || stopPeers
    exit "$status"
}

stopOne() {
    local name=$1 pid=$2
    isOurs "$pid" "$name" || return 0
    kill -TERM "$pid" 2>/dev/null || true
    # A test may have left it paused with SIGSTOP.
    kill -CONT "$pid" 2>/dev/null || true
    local deadline=$((SECONDS + stopTimeoutSec))
    while isAlive "$pid" && [ "$SECONDS" -lt "$deadline" ]; do
        sleep 0.1
    done
    if isAlive "$pid"; then
        echo "nfs-peers: $name ($pid) ignored SIGTERM; killing it" >&2
        kill -KILL "$pid" 2>/dev/null || true
        while isAlive "$pid"; do sleep 0.1; done
    fi
}

# Stops in reverse start order: the NFS server first, while rpcbind can still
# take its unregistration.
stopPeers() {
    [ -f "$dir/peers.pids" ] || return 0
    local name pid
    tac "$dir/peers.pids" | while read -r name pid; do
        stopOne "$name" "$pid"
    done
}

restartServer() {
    local pid
    pid=$(awk '$1 == "ganesha.nfsd" { print $2 }' "$dir/peers.pids" | tail -n 1)
    if [ -n "$pid" ] && isOurs "$pid" ganesha.nfsd; then
        kill -KILL "$pid" 2>/dev/null || true
        kill -CONT "$pid" 2>/dev/null || true
        while isAlive "$pid"; do sleep 0.05; done
    fi
    # Also after a kill by the caller: the leader turns zombie while the other threads still
    # exit, and the lock on the pid file goes with the last of them, so a server started
    # sooner refuses to run. Bounded, in case the pid was reused since.
    local tries=0
    while [ -n "$pid" ] && threadsLeft "$pid" && [ "$tries" -lt 200 ]; do
        sleep 0.05
        tries=$((tries + 1))
    done
    sed -i '/^ganesha.nfsd /d' "$dir/peers.pids"
    startGanesha >&2
    awk '$1 == "ganesha.nfsd" { print $2 }' "$dir/peers.pids"
}

stop() {
    [ -d "$dir" ] || return 0
    [ -f "$dir/peers.pids" ] || die "$dir holds no peers.pids; not removing it"
    stopPeers
    rm -rf -- "$dir"
}

[ $# -eq 2 ] || usage
dir=$2
case "$dir" in
/*) ;;
*) dir=$PWD/$dir ;;
esac
case "$1" in
start) start ;;
stop) stop ;;
restart-server) restartServer ;;
*) usage ;;
esac
