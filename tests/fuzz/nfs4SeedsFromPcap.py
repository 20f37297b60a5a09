#!/usr/bin/env python3
"""Cuts the NFS version 4 replies out of a packet capture into fuzz seeds.

    nfs4SeedsFromPcap.py CAPTURE DIR LABEL

CAPTURE is a classic pcap file (tcpdump -w) of TCP traffic with a server on port 2049. The
server's side of each connection is put together in sequence order, split at the record marks
(RFC 5531, section 11), and every accepted, successful RPC reply with a body, the COMPOUND4res
after the RPC header, is written to DIR/LABEL-NN-opM (M: the operation of its first result), each
different reply once.
"""
import struct
import sys
from pathlib import Path

NFS_PORT = 2049


def packets(path):
    data = Path(path).read_bytes()
    magic = struct.unpack_from("<I", data)[0]
    endian = "<" if magic in (0xA1B2C3D4, 0xA1B23C4D) else ">"
    linktype = struct.unpack_from(endian + "I", data, 20)[0]
    offset = 24
    while offset + 16 <= len(data):
        _, _, caplen, _ = struct.unpack_from(endian + "IIII", data, offset)
        offset += 16
        yield linktype, data[offset:offset + caplen]
        offset += caplen


def ipPayload(linktype, frame):
    """The IP packet inside a frame of the capture's link type, or None."""
    if linktype == 1:  # Ethernet
        ethertype, start = struct.unpack_from(">H", frame, 12)[0], 14
    elif linktype == 113:  # Linux cooked
        ethertype, start = struct.unpack_from(">H", frame, 14)[0], 16
    elif linktype == 276:  # Linux cooked, version 2
        ethertype, start = struct.unpack_from(">H", frame, 0)[0], 20
    elif linktype in (101, 12):  # raw IP
        return frame
    else:
        raise SystemExit(f"nfs4SeedsFromPcap: link type {linktype} not known")
    return frame[start:] if ethertype in (0x0800, 0x86DD) else None


def tcpSegment(ip):
    """(client port, sequence number, payload) of a segment the server sent, or None."""
    if ip[0] >> 4 == 4:
        if ip[9] != 6:
            return None
        ip = ip[(ip[0] & 0x0F) * 4:struct.unpack_from(">H", ip, 2)[0]]
    elif ip[0] >> 4 == 6:
        if ip[6] != 6:
            return None
        ip = ip[40:40 + struct.unpack_from(">H", ip, 4)[0]]
    else:
        return None
    sport, dport, seq = struct.unpack_from(">HHI", ip, 0)
    if sport != NFS_PORT:
        return None
    return dport, seq, ip[(ip[12] >> 4) * 4:]


def streams(path):
    """The server's bytes per client port, each segment once, in sequence order."""
    segments = {}
    for linktype, frame in packets(path):
        ip = ipPayload(linktype, frame)
        segment = tcpSegment(ip) if ip else None
        if segment and segment[2]:
            segments.setdefault(segment[0], {})[segment[1]] = segment[2]
    for port, bySeq in sorted(segments.items()):
        yield port, b"".join(bySeq[seq] for seq in sorted(bySeq))


def records(stream):
    record, offset = b"", 0
    while offset + 4 <= len(stream):
        mark = struct.unpack_from(">I", stream, offset)[0]
        record += stream[offset + 4:offset + 4 + (mark & 0x7FFFFFFF)]
        offset += 4 + (mark & 0x7FFFFFFF)
        if mark & 0x80000000:
            yield record
            record = b""


def replyBody(record):
    """The body of an accepted, successful reply, or None."""
    if len(record) < 24:
        return None
    _, msgType, replyStat, _, verfLength = struct.unpack_from(">IIIII", record, 0)
    start = 20 + (verfLength + 3) // 4 * 4
    if msgType != 1 or replyStat != 0 or len(record) < start + 4:
        return None
    if struct.unpack_from(">I", record, start)[0] != 0:
        return None
    return record[start + 4:]


def firstOp(body):
    tagLength = struct.unpack_from(">I", body, 4)[0]
    at = 8 + (tagLength + 3) // 4 * 4
    if len(body) < at + 8 or struct.unpack_from(">I", body, at)[0] == 0:
        return "none"
    return str(struct.unpack_from(">I", body, at + 4)[0])


def main():
    if len(sys.argv) != 4:
        raise SystemExit("usage: nfs4SeedsFromPcap.py CAPTURE DIR LABEL")
    out = Path(sys.argv[2])
    out.mkdir(parents=True, exist_ok=True)
    count, seen = 0, set()
    for _, stream in streams(sys.argv[1]):
        for record in records(stream):
            body = replyBody(record)
            if body and len(body) >= 12 and body not in seen:
                seen.add(body)
                count += 1
                (out / f"{sys.argv[3]}-{count:02d}-op{firstOp(body)}").write_bytes(body)
    print(f"nfs4SeedsFromPcap: {count} replies from {sys.argv[1]}")


main()
