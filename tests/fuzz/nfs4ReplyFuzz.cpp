// The NFS version 4 COMPOUND reply decoder: the input is a reply's body after the RPC header.
// It is decoded twice, with READ data allocated and landing in a small buffer of the caller's;
// a decoded reply is checked against a request of the operations it answers, and one of one
// operation more, then released. The seeds are replies of a version 4 server (tools/fuzz-seeds.sh).
#include "xdr/nfs4Xdr.h"

#include <rpc/rpc.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// The request the reply would answer if it were complete, and that request with one more.
void check(const COMPOUND4res &res)
{
    std::vector<nfs_argop4> ops(res.resarray.resarray_len + 1);
    for (u_int i = 0; i < res.resarray.resarray_len; ++i) {
        ops[i].argop = res.resarray.resarray_val[i].resop;
    }
    ops.back().argop = OP_GETFH;
    COMPOUND4args args{};
    args.argarray = {res.resarray.resarray_len, ops.data()};
    (void)nfs4CheckCompound(args, res);
    args.argarray.argarray_len += 1;
    (void)nfs4CheckCompound(args, res);
}

void decode(const uint8_t *data, std::size_t size, char *readBuffer, u_int readCapacity)
{
    XDR xdr;
    xdrmem_create(&xdr, const_cast<char *>(reinterpret_cast<const char *>(data)), static_cast<u_int>(size),
                  XDR_DECODE);
    COMPOUND4res res{};
    res.readBuffer = readBuffer;
    res.readCapacity = readCapacity;
    if (xdr_COMPOUND4res(&xdr, &res)) {
        check(res);
    }
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_COMPOUND4res), reinterpret_cast<char *>(&res));
    xdr_destroy(&xdr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    decode(data, size, nullptr, 0);
    std::array<char, 64> buffer{};
    decode(data, size, buffer.data(), static_cast<u_int>(buffer.size()));
    return 0;
}
