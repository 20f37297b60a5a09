// ONC RPC version 2 messages as the scripted server sees them: the decoded call header with
// its credential, and the replies it can send (RFC 5531).
#ifndef TESTS_SERVER_RPCMESSAGE_H
#define TESTS_SERVER_RPCMESSAGE_H

#include <rpc/rpc.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace scripted {

using Bytes = std::vector<uint8_t>;

// Largest datagram the server receives or sends.
inline constexpr std::size_t maxDatagram = 65507;

inline constexpr uint32_t authNone = 0;
inline constexpr uint32_t authUnix = 1;

// struct authsys_parms {
//     unsigned int stamp; string machinename<255>;
//     unsigned int uid; unsigned int gid; unsigned int gids<16>;
// };
// The group list is taken as long as it fits the credential body, so that a client sending
// more groups than the protocol allows is seen, not refused.
struct AuthUnixParms {
    uint32_t stamp = 0;
    std::string machineName;
    uint32_t uid = 0;
    uint32_t gid = 0;
    std::vector<uint32_t> gids;
};

// The fixed part of a call message, up to and including the verifier.
struct RpcCall {
    uint32_t xid = 0;
    uint32_t prog = 0;
    uint32_t vers = 0;
    uint32_t proc = 0;
    uint32_t credFlavor = 0;
    std::optional<AuthUnixParms> authUnix; // set when credFlavor is AUTH_UNIX
    uint16_t clientPort = 0;               // host byte order
    uint32_t clientAddr = 0;               // host byte order
};

enum class CallDecode {
    ok,
    malformed,   // not an RPC call message at all: dropped
    rpcMismatch, // a call, but not RPC version 2: answered with RPC_MISMATCH
    badCred,     // an AUTH_UNIX credential whose body does not parse: AUTH_BADCRED
};

// Decodes the header of DATAGRAM into CALL. On ok, *argsOffset is where the arguments begin.
CallDecode decodeCall(std::span<const uint8_t> datagram, RpcCall *call, std::size_t *argsOffset);

enum class ReplyKind {
    success,
    progUnavail,
    progMismatch,
    procUnavail,
    garbageArgs,
    systemErr,
    rpcMismatch, // MSG_DENIED
    authError,   // MSG_DENIED
    raw,         // the given bytes exactly, for replies no well-behaved server sends
    silent,      // no reply at all
};

// What a handler answers. Encoders run when the reply is built, on the receiving thread.
struct Reply {
    ReplyKind kind = ReplyKind::success;
    std::function<bool(XDR *)> results; // success: encodes the results; empty means void
    uint32_t low = 0;                   // progMismatch, rpcMismatch
    uint32_t high = 0;
    uint32_t authStat = 0; // authError
    Bytes rawBytes;        // raw

    static Reply ok(std::function<bool(XDR *)> encodeResults = {});
    // Success with results held by the reply: ENCODER is an xdr_ routine for T.
    template <typename T> static Reply ok(bool_t (*encoder)(XDR *, T *), T value)
    {
        auto held = std::make_shared<T>(std::move(value));
        return ok([encoder, held](XDR *xdrs) { return encoder(xdrs, held.get()) != 0; });
    }
    static Reply of(ReplyKind kind);
    static Reply progMismatch(uint32_t lowVers, uint32_t highVers);
    static Reply raw(Bytes bytes);
};

// Builds the datagram answering XID with REPLY. Returns nothing for a silent reply, and a
// SYSTEM_ERR reply when the results do not encode or do not fit a datagram.
std::optional<Bytes> encodeReply(uint32_t xid, const Reply &reply);

} // namespace scripted

#endif
