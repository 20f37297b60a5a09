// WRITE: a byte range of a file, in pieces of at most nfs3MaxMsgLen bytes, encoded straight
// from the caller's buffer. The replies' stability and verifiers are kept for the COMMIT that
// the caller sends later.
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

// Per task, as the writes themselves are.
thread_local Nfs3WriteVerdict lastVerdict{};

void verdictAdd(const WRITE3resok &ok)
{
    if (ok.committed != UNSTABLE)
        return;
    if (lastVerdict.unstable && std::memcmp(lastVerdict.verf, ok.verf, sizeof ok.verf) != 0)
        lastVerdict.verfChanged = true;
    std::memcpy(lastVerdict.verf, ok.verf, sizeof ok.verf);
    lastVerdict.unstable = true;
}

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

void nfs3WriteVerdictReset() { lastVerdict = Nfs3WriteVerdict{}; }

const Nfs3WriteVerdict &nfs3WriteVerdict() { return lastVerdict; }

int nfs3FileWrite(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count,
                  const char *buf, fattr3 *attr)
{
    const auto stable = static_cast<stable_how>(nfs3WriteStable);
    if (nfsInit() == -1)
        return -1;
    if (count == 0)
        return 0;
    if (count > INT_MAX) {
        errnoSet(K_EINVAL);
        return -1;
    }
    WRITE3res res{};
    unsigned written = 0;
    while (written < count) {
        const unsigned size = std::min(count - written, nfsWordGet(nfs3MaxMsgLen));
        if (size == 0) {
            errnoSet(K_EINVAL); // a transfer limit of 0 allows no progress
            return -1;
        }
        WRITE3args args{.file = *fh,
                        .offset = offset + written,
                        .count = size,
                        .stable = stable,
                        .data = {size, const_cast<char *>(buf + written)}}; // only encoded from
        const nfsrpc::Reply<WRITE3res> reply(nfsops::nfs3Peer(host), NFSPROC3_WRITE, xdr_WRITE3args, args,
                                             xdr_WRITE3res);
        if (nfsops::failed(reply))
            return -1;
        res = *reply; // holds nothing allocated
        const int accepted = acceptedCount(res, stable, size, attr);
        if (accepted < 0)
            return -1;
        verdictAdd(res.WRITE3res_u.resok);
        written += static_cast<unsigned>(accepted);
    }
    nfs3DecodeWcc(&res.WRITE3res_u.resok.file_wcc, attr);
    return static_cast<int>(count);
}
