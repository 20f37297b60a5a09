#!/usr/bin/env python3
"""A stand-in status monitor (program 100024, version 1) for a lock manager under test.

The NFS server's lock manager asks the status monitor on its own host to watch each client
that takes a lock (SM_MON) and refuses locks when nobody answers. This one answers every
procedure with success and watches nothing: SM_STAT and SM_MON with STAT_SUCC and state 1,
SM_UNMON and SM_UNMON_ALL with state 1, SM_SIMU_CRASH and SM_NOTIFY with nothing.

It serves UDP and TCP on ephemeral ports of HOST and registers both with the portmapper
through its local socket (a registration over the network is refused from a non-loopback
style caller), then prints "ready" and serves until it is ended.

    status-monitor.py HOST RPCBIND_SOCKET
"""
import socket
import socketserver
import struct
import sys
import threading

SM_PROG, SM_VERS = 100024, 1
RPCB_PROG, RPCB_VERS, RPCBPROC_SET, RPCBPROC_UNSET = 100000, 4, 1, 2
STATE = 1
MOST_RECORD = 64 * 1024


def pad(data):
    return data + b"\0" * (-len(data) % 4)


def xdr_string(text):
    raw = text.encode()
    return struct.pack(">I", len(raw)) + pad(raw)


def results(proc):
    """The result of procedure PROC, or None for a procedure unknown."""
    if proc in (1, 2):
        return struct.pack(">Ii", 0, STATE)
    if proc in (3, 4):
        return struct.pack(">i", STATE)
    if proc in (0, 5, 6):
        return b""
    return None


def answer(call):
    """The reply to one call message, or None when it is no call to answer."""
    if len(call) < 24:
        return None
    xid, mtype, rpcvers, prog, vers, proc = struct.unpack(">6I", call[:24])
    if mtype != 0:
        return None
    head = struct.pack(">III", xid, 1, 0) + struct.pack(">II", 0, 0)  # REPLY, ACCEPTED, AUTH_NONE
    if rpcvers != 2:
        return struct.pack(">III", xid, 1, 1) + struct.pack(">III", 0, 2, 2)  # RPC_MISMATCH
    if prog != SM_PROG:
        return head + struct.pack(">I", 1)  # PROG_UNAVAIL
    if vers != SM_VERS:
        return head + struct.pack(">III", 2, SM_VERS, SM_VERS)  # PROG_MISMATCH
    body = results(proc)
    if body is None:
        return head + struct.pack(">I", 3)  # PROC_UNAVAIL
    return head + struct.pack(">I", 0) + body


def serve_udp(sock):
    while True:
        call, peer = sock.recvfrom(MOST_RECORD)
        reply = answer(call)
        if reply is not None:
            sock.sendto(reply, peer)


def read_exact(stream, count):
    data = b""
    while len(data) < count:
        piece = stream.recv(count - len(data))
        if not piece:
            return None
        data += piece
    return data


def read_record(stream):
    """One record's message, its fragments joined, or None at the end or past the limit."""
    message = b""
    while True:
        mark = read_exact(stream, 4)
        if mark is None:
            return None
        (word,) = struct.unpack(">I", mark)
        length = word & 0x7FFFFFFF
        if len(message) + length > MOST_RECORD:
            return None
        fragment = read_exact(stream, length)
        if fragment is None:
            return None
        message += fragment
        if word & 0x80000000:
            return message


class TcpCalls(socketserver.BaseRequestHandler):
    def handle(self):
        while True:
            call = read_record(self.request)
            if call is None:
                return
            reply = answer(call)
            if reply is not None:
                self.request.sendall(struct.pack(">I", 0x80000000 | len(reply)) + reply)


class TcpServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def rpcbind_call(path, proc, netid, uaddr):
    """RPCBPROC_SET or _UNSET of version 4 over the portmapper's local socket; its boolean."""
    args = struct.pack(">II", SM_PROG, SM_VERS) + xdr_string(netid) + xdr_string(uaddr) + xdr_string("superuser")
    call = struct.pack(">10I", 7, 0, 2, RPCB_PROG, RPCB_VERS, proc, 0, 0, 0, 0) + args
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as stream:
        stream.settimeout(5)
        stream.connect(path)
        stream.sendall(struct.pack(">I", 0x80000000 | len(call)) + call)
        reply = read_record(stream)
    if reply is None or len(reply) < 28:
        return False
    xid, mtype, replied, _, _, accepted, value = struct.unpack(">7I", reply[:28])
    return xid == 7 and mtype == 1 and replied == 0 and accepted == 0 and value == 1


def uaddr(host, port):
    return "%s.%d.%d" % (host, port >> 8, port & 0xFF)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: status-monitor.py HOST RPCBIND_SOCKET")
    host, rpcbind = sys.argv[1], sys.argv[2]
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind((host, 0))
    tcp = TcpServer((host, 0), TcpCalls)
    for netid, port in (("udp", udp.getsockname()[1]), ("tcp", tcp.server_address[1])):
        rpcbind_call(rpcbind, RPCBPROC_UNSET, netid, "")
        if not rpcbind_call(rpcbind, RPCBPROC_SET, netid, uaddr(host, port)):
            sys.exit("status-monitor: the portmapper refused the %s registration" % netid)
    threading.Thread(target=serve_udp, args=(udp,), daemon=True).start()
    print("ready", flush=True)
    tcp.serve_forever()


if __name__ == "__main__":
    main()
