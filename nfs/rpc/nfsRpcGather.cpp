// The gathering encoder: an XDR stream over the library's memory stream that lets large byte
// pieces through by reference. A routine that moves the stream's position (which no call
// argument routine of this module does) fails the encoding, so a message never goes out with
// bytes out of place.
#include "rpc/nfsRpcGather.h"

#include <algorithm>

namespace {

// The state behind the outer stream: the memory stream that takes the copied bytes, and the list.
struct Gathering {
    XDR inner;
    NfsRpcGathered *gathered;
    std::size_t referenced; // the pieces' bytes so far
};

Gathering &stateOf(XDR *xdrs)
{
    return *static_cast<Gathering *>(xdrs->x_private);
}

bool_t putLong(XDR *xdrs, const long *value)
{
    XDR &inner = stateOf(xdrs).inner;
    return XDR_PUTLONG(&inner, value);
}

bool_t putBytes(XDR *xdrs, const char *bytes, u_int length)
{
    Gathering &state = stateOf(xdrs);
    NfsRpcGathered &gathered = *state.gathered;
    if (length < kGatherLeast || gathered.pieces == kMostGatherPieces)
        return XDR_PUTBYTES(&state.inner, bytes, length);
    gathered.piece[gathered.pieces++] = {XDR_GETPOS(&state.inner), bytes, length};
    state.referenced += length;
    return TRUE;
}

u_int position(XDR *xdrs)
{
    Gathering &state = stateOf(xdrs);
    return XDR_GETPOS(&state.inner) + static_cast<u_int>(state.referenced);
}

bool_t refuseLong(XDR * /*xdrs*/, long * /*value*/)
{
    return FALSE;
}

bool_t refuseBytes(XDR * /*xdrs*/, char * /*bytes*/, u_int /*length*/)
{
    return FALSE;
}

bool_t refusePosition(XDR * /*xdrs*/, u_int /*position*/)
{
    return FALSE;
}

// Words written in place go into the buffer at the copied bytes' end, as a put would.
int32_t *inlined(XDR *xdrs, u_int length)
{
    XDR &inner = stateOf(xdrs).inner;
    return XDR_INLINE(&inner, length);
}

void destroyed(XDR * /*xdrs*/) {}

bool_t refuseControl(XDR * /*xdrs*/, int /*request*/, void * /*info*/)
{
    return FALSE;
}

const XDR::xdr_ops kGatheringOps = {refuseLong, putLong,  refuseBytes, putBytes, position,
                                    refusePosition, inlined, destroyed, refuseControl};

} // namespace

std::size_t NfsRpcGathered::length() const
{
    std::size_t total = inBuffer;
    for (std::size_t i = 0; i < pieces; ++i)
        total += piece[i].length;
    return total;
}

void NfsRpcGathered::shift(std::size_t by)
{
    inBuffer += by;
    for (std::size_t i = 0; i < pieces; ++i)
        piece[i].at += by;
}

u_int nfsRpcEncodeGathered(const NfsRpcExchange &call, uint32_t xid, char *at, u_int room,
                           NfsRpcGathered *gathered)
{
    *gathered = NfsRpcGathered{};
    Gathering state{{}, gathered, 0};
    xdrmem_create(&state.inner, at, room, XDR_ENCODE);
    XDR outer{};
    outer.x_op = XDR_ENCODE;
    outer.x_ops = &kGatheringOps;
    outer.x_private = &state;
    const u_int length = nfsRpcEncodeCallOn(&outer, call, xid);
    gathered->inBuffer = XDR_GETPOS(&state.inner);
    xdr_destroy(&state.inner);
    // The whole message is bounded as the copying encoder bounds it.
    if (length == 0 || gathered->length() != length || length > room) {
        *gathered = NfsRpcGathered{};
        return 0;
    }
    return length;
}

int nfsRpcGatherIov(const char *buffer, const NfsRpcGathered &gathered, std::size_t skip, iovec *iov)
{
    int n = 0;
    std::size_t from = 0; // the buffer's next byte
    std::size_t passed = 0; // the message's bytes before the entry considered
    const auto add = [&](const char *bytes, std::size_t length) {
        if (length == 0)
            return;
        if (skip < passed + length) {
            const std::size_t into = skip > passed ? skip - passed : 0;
            iov[n++] = {const_cast<char *>(bytes + into), length - into};
        }
        passed += length;
    };
    for (std::size_t i = 0; i < gathered.pieces; ++i) {
        const NfsRpcGathered::Piece &piece = gathered.piece[i];
        add(buffer + from, piece.at - from);
        add(piece.bytes, piece.length);
        from = piece.at;
    }
    add(buffer + from, gathered.inBuffer - from);
    return n;
}
