// Directory reading and path lookup of both protocol versions, with the remote call replaced:
// each call encodes its arguments and decodes its result from the input's next chunk (layout in
// nfsNameOpsDrive.h). An input used up fails the call as a silent server does, and a result
// that does not decode as an undecodable reply does; a decoded result is left for the caller
// to release, as after a real call.
#include "nfsNameOpsDrive.h"

#include "rpc/nfsRemoteCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

const uint8_t *next = nullptr;
const uint8_t *end = nullptr;

// The next chunk; false when the input has none left. A length past the end takes the rest.
bool chunkTake(std::vector<char> *chunk)
{
    if (end - next < 2)
        return false;
    const auto length = static_cast<std::size_t>(next[0] << 8 | next[1]);
    next += 2;
    const std::size_t taken = std::min(length, static_cast<std::size_t>(end - next));
    chunk->assign(next, next + taken);
    next += taken;
    return true;
}

// Runs an XDR routine of the caller's type on bytes: through the RPC library, as the real
// call's decoding does, for its filter type is not the routine's own.
bool filterRun(xdrproc_t proc, void *object, char *bytes, std::size_t size, xdr_op op)
{
    XDR xdr;
    xdrmem_create(&xdr, bytes, static_cast<u_int>(size), op);
    auto *where = static_cast<caddr_t>(object);
    const bool done = xdr_reference(&xdr, &where, 0, proc) != 0;
    xdr_destroy(&xdr);
    return done;
}

} // namespace

// 0, or the error number of the failed call, as the real one gives it.
int nfsrpc::exchange(const Peer & /*peer*/, uint32_t /*proc*/, xdrproc_t inproc, const void *in,
                     xdrproc_t outproc, void *out)
{
    if (nfsInit() == -1)
        return errnoGet();
    static std::array<char, 65536> message{};
    if (!filterRun(inproc, const_cast<void *>(in), message.data(), message.size(), XDR_ENCODE))
        return K_RPC_CLNT_ERRNO_BASE | RPC_CANTENCODEARGS;
    std::vector<char> result;
    if (!chunkTake(&result))
        return K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT;
    if (filterRun(outproc, out, result.data(), result.size(), XDR_DECODE))
        return 0;
    return K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    next = data + 1;
    end = data + size;
    std::string path;
    if ((data[0] & 2) != 0) { // a lookup: its path comes first
        std::vector<char> text;
        if (!chunkTake(&text))
            return 0;
        path.assign(text.begin(), text.end());
    }
    std::array<char, NFS3_FHSIZE> root3{'r', 'o', 'o', 't'};
    const nfs_fh3 mountFh3{{8, root3.data()}};
    const nfs_fh2 mountFh2{'r', 'o', 'o', 't'};
    nameops::drive(data[0], "fuzz-host", mountFh3, mountFh2, path);
    return 0;
}
