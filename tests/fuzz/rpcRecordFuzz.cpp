// The TCP call path from the connection up: record marking (fragments, their lengths, records
// of other calls) and the reply decoder with a result decoder behind it. The first byte picks
// the result decoder; the rest is what the server sends on the connection after the call,
// where the word 0x58494421 ("XID!") stands for the call's transaction id. The connection is
// one end of a socket pair holding the input; its end breaks the connection, and a new one
// cannot be opened, so every input ends with an answer, a failure or the call's short time-out.
#include "rpc/nfsRpcExchange.h"

#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsRpcLib.h>

#include <arpa/inet.h>
#include <rpc/pmap_prot.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kPlaceholder = 0x58494421;
constexpr std::size_t kMostInput = 128 * 1024; // within a socket pair's buffer
constexpr u_int kReceiveRoom = 65536;

// A result of one type, decoded through the exchange and released after it. READ's data goes
// into a buffer of the caller's, as the module's own READs do.
template <typename T> clnt_stat exchangeInto(NfsRpcExchange call, bool_t (*decoder)(XDR *, T *), T initial)
{
    T result = initial;
    call.outproc = reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(decoder));
    call.out = &result;
    const clnt_stat status = nfsRpcTcpExchange(call);
    xdr_free(call.outproc, reinterpret_cast<char *>(&result));
    return status;
}

bool_t readInto(XDR *xdrs, READ3res *res)
{
    return xdr_READ3res(xdrs, res);
}

clnt_stat exchangeAny(const NfsRpcExchange &call, uint8_t choice)
{
    static std::array<char, 8192> data{};
    switch (choice % 4) {
    case 0: {
        NfsRpcExchange one = call;
        one.outproc = reinterpret_cast<xdrproc_t>(xdr_void);
        return nfsRpcTcpExchange(one);
    }
    case 1: {
        READ3res initial{};
        initial.READ3res_u.resok.data.data_val = data.data();
        initial.READ3res_u.resok.data.data_len = static_cast<u_int>(data.size());
        // The caller's buffer is never released: decoding into it, then forgetting it.
        READ3res result = initial;
        NfsRpcExchange one = call;
        one.outproc = reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(readInto));
        one.out = &result;
        const clnt_stat status = nfsRpcTcpExchange(one);
        if (result.status == NFS3_OK && result.READ3res_u.resok.data.data_val == data.data())
            result.READ3res_u.resok.data.data_val = nullptr;
        xdr_free(one.outproc, reinterpret_cast<char *>(&result));
        return status;
    }
    case 2: return exchangeInto<GETATTR3res>(call, xdr_GETATTR3res, GETATTR3res{});
    default: return exchangeInto<pmaplist *>(call, xdr_pmaplist, nullptr);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size == 0 || size > kMostInput || nfsInit() == -1)
        return 0;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return 0;
    const int room = 2 * kMostInput;
    setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    setsockopt(ends[0], SOL_SOCKET, SO_RCVBUF, &room, sizeof room);

    // The call about to be made takes the next transaction id.
    const uint32_t xid = htonl(nfsRpcTransactionId() + 1);
    std::vector<uint8_t> stream(data + 1, data + size);
    for (std::size_t at = 0; at + sizeof xid <= stream.size(); ++at) {
        uint32_t word = 0;
        std::memcpy(&word, stream.data() + at, sizeof word);
        if (ntohl(word) == kPlaceholder)
            std::memcpy(stream.data() + at, &xid, sizeof xid);
    }
    if (!stream.empty() && send(ends[1], stream.data(), stream.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
        close(ends[0]);
        close(ends[1]);
        return 0;
    }
    shutdown(ends[1], SHUT_WR);

    sockaddr_in nowhere{};
    nowhere.sin_family = AF_INET;
    nowhere.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    nowhere.sin_port = htons(1);
    AUTH *none = authnone_create();
    const NfsRpcExchange call{ends[0],
                              nowhere,
                              none,
                              NFS_PROGRAM,
                              NFS_V3,
                              0,
                              reinterpret_cast<xdrproc_t>(xdr_void),
                              nullptr,
                              nullptr,
                              nullptr,
                              {400, kReceiveRoom},
                              NfsRpcClock::duration::zero(),
                              NfsRpcClock::now() + std::chrono::milliseconds(20),
                              IPPROTO_TCP};
    exchangeAny(call, data[0]);
    auth_destroy(none);
    close(ends[0]);
    close(ends[1]);
    return 0;
}
