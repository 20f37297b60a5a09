// WRITE: a byte range of a file, in pieces of at most nfs3MaxMsgLen bytes, encoded straight
// from the caller's buffer. The replies' stability and verifiers go back with the result, for
// the COMMIT that the caller sends later.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "ops/nfs3Data.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

void verdictAdd(const WRITE3resok &ok, Nfs3WriteVerdict *verdict)
{
    if (ok.committed != UNSTABLE)
        return;
    if (verdict->unstable && std::memcmp(verdict->verf, ok.verf, sizeof ok.verf) != 0)
        verdict->verfChanged = true;
    std::memcpy(verdict->verf, ok.verf, sizeof ok.verf);
    verdict->unstable = true;
}

Nfs3WriteResult failed() { return {-1, {}}; }

// One WRITE reply's verdict: the bytes the server took, or -1. A reply that takes nothing,
// or claims more than was sent, would leave the loop without progress (or past the range),
// so it fails with K_EIO instead of being sent again.
int acceptedCount(const WRITE3res &res, stable_how asked, unsigned sent, fattr3 *attr)
{
    if (res.status != NFS3_OK) {
        nfs3DecodeWcc(&res.WRITE3res_u.resfail.file_wcc, attr);
        nfsErrnoSet(res.status);
        return -1;
    }
    const WRITE3resok &ok = res.WRITE3res_u.resok;
    if (ok.committed < asked)
        return -1; // the data is less safe than asked: the error number stays as it was
    if (ok.count == 0 || ok.count > sent) {
        errnoSet(K_EIO);
        return -1;
    }
    return static_cast<int>(ok.count);
}

} // namespace

Nfs3WriteResult nfs3FileWriteRun(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, const char *buf,
                                 fattr3 *attr)
{
    const auto stable = static_cast<stable_how>(nfs3WriteStable);
    if (!nfsArgsGiven(host, fh, buf, attr) || nfsInit() == -1)
        return failed();
    if (count == 0)
        return {0, {}};
    if (count > INT_MAX) {
        errnoSet(K_EINVAL);
        return failed();
    }
    Nfs3WriteResult result{static_cast<int>(count), {}};
    WRITE3res res{};
    unsigned written = 0;
    while (written < count) {
        const unsigned size = std::min(count - written, nfsWordGet(nfs3MaxMsgLen));
        if (size == 0) {
            errnoSet(K_EINVAL); // a transfer limit of 0 allows no progress
            return failed();
        }
        WRITE3args args{.file = *fh,
                        .offset = offset + written,
                        .count = size,
                        .stable = stable,
                        .data = {size, const_cast<char *>(buf + written)}}; // only encoded from
        const nfsrpc::Reply<WRITE3res> reply(nfsops::nfs3Peer(host), NFSPROC3_WRITE, xdr_WRITE3args, args,
                                             xdr_WRITE3res);
        if (nfsops::failed(reply))
            return failed();
        res = *reply; // holds nothing allocated
        const int accepted = acceptedCount(res, stable, size, attr);
        if (accepted < 0)
            return failed();
        verdictAdd(res.WRITE3res_u.resok, &result.verdict);
        written += static_cast<unsigned>(accepted);
    }
    nfs3DecodeWcc(&res.WRITE3res_u.resok.file_wcc, attr);
    return result;
}

int nfs3FileWrite(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, const char *buf, fattr3 *attr)
{
    return nfs3FileWriteRun(host, fh, offset, count, buf, attr).written;
}
