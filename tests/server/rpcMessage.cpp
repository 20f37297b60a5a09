// Decoding of call headers and encoding of replies, through libtirpc's memory XDR streams.
#include "server/rpcMessage.h"

#include <array>
#include <utility>

namespace scripted {
namespace {

constexpr uint32_t msgCall = 0;
constexpr uint32_t msgReply = 1;
constexpr uint32_t rpcVersion = 2;
constexpr uint32_t msgAccepted = 0;
constexpr uint32_t msgDenied = 1;
constexpr uint32_t maxAuthBody = 400;
constexpr uint32_t maxMachineName = 255;

// A memory stream that is destroyed with its holder.
class MemoryStream {
public:
    MemoryStream(const uint8_t *data, std::size_t size, xdr_op op)
    {
        // libtirpc takes a mutable base for both directions; decoding never writes to it.
        xdrmem_create(&xdrs_, const_cast<char *>(reinterpret_cast<const char *>(data)),
                      static_cast<u_int>(size), op);
    }
    MemoryStream(const MemoryStream &) = delete;
    MemoryStream &operator=(const MemoryStream &) = delete;
    ~MemoryStream() { xdr_destroy(&xdrs_); }

    XDR *get() { return &xdrs_; }
    std::size_t position() { return xdr_getpos(&xdrs_); }

private:
    XDR xdrs_{};
};

bool word(XDR *xdrs, uint32_t *value)
{
    return xdr_u_int(xdrs, value) != 0;
}

// opaque_auth: the flavor and a body of at most 400 bytes.
bool opaqueAuth(XDR *xdrs, uint32_t *flavor, Bytes *body)
{
    uint32_t length = 0;
    if (!word(xdrs, flavor) || !word(xdrs, &length) || length > maxAuthBody) {
        return false;
    }
    body->resize(length);
    return length == 0 || xdr_opaque(xdrs, reinterpret_cast<char *>(body->data()), length) != 0;
}

bool decodeAuthUnix(const Bytes &body, AuthUnixParms *parms)
{
    MemoryStream stream(body.data(), body.size(), XDR_DECODE);
    XDR *xdrs = stream.get();
    uint32_t nameLength = 0;
    if (!word(xdrs, &parms->stamp) || !word(xdrs, &nameLength) || nameLength > maxMachineName) {
        return false;
    }
    std::array<char, maxMachineName> name{};
    if (nameLength > 0 && !xdr_opaque(xdrs, name.data(), nameLength)) {
        return false;
    }
    parms->machineName.assign(name.data(), nameLength);
    uint32_t groups = 0;
    if (!word(xdrs, &parms->uid) || !word(xdrs, &parms->gid) || !word(xdrs, &groups)) {
        return false;
    }
    // Each group takes four bytes, so the body bounds the count.
    if (groups > (body.size() - stream.position()) / 4) {
        return false;
    }
    parms->gids.resize(groups);
    for (uint32_t &gid : parms->gids) {
        if (!word(xdrs, &gid)) {
            return false;
        }
    }
    return true;
}

} // namespace

CallDecode decodeCall(std::span<const uint8_t> datagram, RpcCall *call, std::size_t *argsOffset)
{
    MemoryStream stream(datagram.data(), datagram.size(), XDR_DECODE);
    XDR *xdrs = stream.get();
    uint32_t type = 0;
    uint32_t version = 0;
    if (!word(xdrs, &call->xid) || !word(xdrs, &type) || type != msgCall || !word(xdrs, &version)) {
        return CallDecode::malformed;
    }
    if (version != rpcVersion) {
        return CallDecode::rpcMismatch;
    }
    Bytes credBody;
    Bytes verfBody;
    uint32_t verfFlavor = 0;
    if (!word(xdrs, &call->prog) || !word(xdrs, &call->vers) || !word(xdrs, &call->proc) ||
        !opaqueAuth(xdrs, &call->credFlavor, &credBody) || !opaqueAuth(xdrs, &verfFlavor, &verfBody)) {
        return CallDecode::malformed;
    }
    if (call->credFlavor == authUnix) {
        AuthUnixParms parms;
        if (!decodeAuthUnix(credBody, &parms)) {
            return CallDecode::badCred;
        }
        call->authUnix = std::move(parms);
    }
    *argsOffset = stream.position();
    return CallDecode::ok;
}

Reply Reply::ok(std::function<bool(XDR *)> encodeResults)
{
    Reply reply;
    reply.results = std::move(encodeResults);
    return reply;
}

Reply Reply::of(ReplyKind kind)
{
    Reply reply;
    reply.kind = kind;
    return reply;
}

Reply Reply::progMismatch(uint32_t lowVers, uint32_t highVers)
{
    Reply reply = of(ReplyKind::progMismatch);
    reply.low = lowVers;
    reply.high = highVers;
    return reply;
}

Reply Reply::raw(Bytes bytes)
{
    Reply reply = of(ReplyKind::raw);
    reply.rawBytes = std::move(bytes);
    return reply;
}

namespace {

// accept_stat values of an accepted reply.
uint32_t acceptStat(ReplyKind kind)
{
    switch (kind) {
    case ReplyKind::success: return 0;
    case ReplyKind::progUnavail: return 1;
    case ReplyKind::progMismatch: return 2;
    case ReplyKind::procUnavail: return 3;
    case ReplyKind::garbageArgs: return 4;
    default: return 5;
    }
}

bool encodeBody(XDR *xdrs, uint32_t xid, const Reply &reply)
{
    uint32_t header[] = {xid, msgReply, msgAccepted};
    if (reply.kind == ReplyKind::rpcMismatch || reply.kind == ReplyKind::authError) {
        header[2] = msgDenied;
    }
    for (uint32_t &value : header) {
        if (!word(xdrs, &value)) {
            return false;
        }
    }
    if (reply.kind == ReplyKind::rpcMismatch) {
        uint32_t words[] = {0, reply.low, reply.high};
        return word(xdrs, &words[0]) && word(xdrs, &words[1]) && word(xdrs, &words[2]);
    }
    if (reply.kind == ReplyKind::authError) {
        uint32_t words[] = {1, reply.authStat};
        return word(xdrs, &words[0]) && word(xdrs, &words[1]);
    }
    uint32_t verifier[] = {authNone, 0, acceptStat(reply.kind)};
    for (uint32_t &value : verifier) {
        if (!word(xdrs, &value)) {
            return false;
        }
    }
    if (reply.kind == ReplyKind::progMismatch) {
        uint32_t low = reply.low;
        uint32_t high = reply.high;
        return word(xdrs, &low) && word(xdrs, &high);
    }
    if (reply.kind == ReplyKind::success && reply.results) {
        return reply.results(xdrs);
    }
    return true;
}

} // namespace

std::optional<Bytes> encodeReply(uint32_t xid, const Reply &reply)
{
    if (reply.kind == ReplyKind::silent) {
        return std::nullopt;
    }
    if (reply.kind == ReplyKind::raw) {
        return reply.rawBytes;
    }
    Bytes datagram(maxDatagram);
    MemoryStream stream(datagram.data(), datagram.size(), XDR_ENCODE);
    if (!encodeBody(stream.get(), xid, reply)) {
        return encodeReply(xid, Reply::of(ReplyKind::systemErr));
    }
    datagram.resize(stream.position());
    return datagram;
}

} // namespace scripted
