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

Nfs3WriteResult failed()
{
    return {-1, {}};
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

// The WRITEs of every piece from *pWritten on, all at once, as many as a batch holds, each as
// the one-at-a-time loop sends it. The replies are taken in order as that loop takes them: a
// failure fails the write; a piece the server took only in part ends the batch, and the rest
// goes again from there as that loop would send it. Every reply that took data adds to the
// verdict, in piece order, since its bytes reached the server. False on failure; *last is the
// reply whose weak cache consistency data the attributes follow.
bool writeBatch(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, unsigned most,
                stable_how stable, const char *buf, fattr3 *attr, unsigned *pWritten, Nfs3WriteResult *result,
                WRITE3res *last)
{
    nfsrpc::Batch<WRITE3args, WRITE3res> batch(xdr_WRITE3args, xdr_WRITE3res);
    unsigned sizes[nfsrpc::kMostInFlight] = {};
    for (unsigned at = *pWritten; at < count && !batch.full(); at += sizes[batch.size() - 1]) {
        const unsigned size = std::min(count - at, most);
        sizes[batch.size()] = size;
        batch.add(WRITE3args{.file = *fh,
                             .offset = offset + at,
                             .count = size,
                             .stable = stable,
                             .data = {size, const_cast<char *>(buf + at)}}); // only encoded from
    }
    batch.run(nfsops::nfs3Peer(host), NFSPROC3_WRITE);
    bool taking = true;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const WRITE3res &res = batch[i];
        if (!taking) {
            if (batch.error(i) == 0 && res.status == NFS3_OK && res.WRITE3res_u.resok.count != 0)
                verdictAdd(res.WRITE3res_u.resok, &result->verdict);
            continue;
        }
        if (batch.error(i) != 0) {
            errnoSet(batch.error(i));
            return false;
        }
        *last = res; // holds nothing allocated
        const int accepted = acceptedCount(res, stable, sizes[i], attr);
        if (accepted < 0)
            return false;
        verdictAdd(res.WRITE3res_u.resok, &result->verdict);
        *pWritten += static_cast<unsigned>(accepted);
        taking = static_cast<unsigned>(accepted) == sizes[i];
    }
    return true;
}

} // namespace

Nfs3WriteResult nfs3FileWriteRun(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count,
                                 const char *buf, fattr3 *attr)
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
    // Several pieces in flight: the same WRITEs as below, overlapped.
    const unsigned most = nfsWordGet(nfs3MaxMsgLen);
    while (written < count && most != 0 && count > most && nfsrpc::windowOpen()) {
        if (nfsInit() == -1 ||
            !writeBatch(host, fh, offset, count, most, stable, buf, attr, &written, &result, &res))
            return failed();
    }
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

int nfs3FileWrite(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, const char *buf,
                  fattr3 *attr)
{
    return nfs3FileWriteRun(host, fh, offset, count, buf, attr).written;
}
