// WRITE: a byte range of a file, in pieces of at most nfs3MaxMsgLen bytes, encoded straight
// from the caller's buffer. The replies' stability and verifiers go back with the result, for
// the COMMIT that the caller sends later.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "ops/nfs3Data.h"
#include "ops/nfs3Protocol.h"
#include "ops/nfsDataSpans.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

NfsWriteResult failed()
{
    return {-1, {}};
}

using Span = nfsops::WriteSpan<WRITE3res>;

// A span's result; the attributes follow its last reply's weak cache consistency data.
NfsWriteResult resultOf(Span &span, fattr3 *attr)
{
    if (span.failed || span.open)
        return failed();
    if (span.replied)
        nfs3DecodeWcc(&span.last.WRITE3res_u.resok.file_wcc, attr);
    return {static_cast<int>(span.count), span.verdict};
}

} // namespace

void Nfs3Protocol::verdictAdd(const WRITE3res &res, NfsWriteVerdict *verdict)
{
    const WRITE3resok &ok = res.WRITE3res_u.resok;
    if (ok.committed != UNSTABLE)
        return;
    if (verdict->unstable && std::memcmp(verdict->verf, ok.verf, sizeof ok.verf) != 0)
        verdict->verfChanged = true;
    std::memcpy(verdict->verf, ok.verf, sizeof ok.verf);
    verdict->unstable = true;
}

int Nfs3Protocol::accepted(const WRITE3res &res, stable_how level, unsigned sent, fattr3 *attr)
{
    if (res.status != NFS3_OK) {
        nfs3DecodeWcc(&res.WRITE3res_u.resfail.file_wcc, attr);
        nfsErrnoSet(res.status);
        return -1;
    }
    const WRITE3resok &ok = res.WRITE3res_u.resok;
    if (ok.committed < level)
        return -1; // the data is less safe than asked: the error number stays as it was
    if (ok.count == 0 || ok.count > sent) {
        errnoSet(K_EIO);
        return -1;
    }
    return static_cast<int>(ok.count);
}

void Nfs3Protocol::writeAlone(const char *host, nfs_fh3 *fh, nfsops::WriteSpan<WRITE3res> *pSpan,
                              fattr3 *attr, stable_how level)
{
    nfsops::WriteSpan<WRITE3res> &span = *pSpan;
    while (span.open) {
        const unsigned size = std::min(span.count - span.written, writeMost());
        if (size == 0) {
            nfsops::spanFailed(&span, K_EINVAL); // a transfer limit of 0 allows no progress
            return;
        }
        const nfsrpc::Reply<WRITE3res> reply(
            peer(host), kWriteProc, writeArgsCoder,
            writeArgs(*fh, span.offset + span.written, size, span.buf + span.written, level), writeResCoder);
        errnoSet(0);
        if (nfsops::failed(reply)) {
            nfsops::spanFailed(&span, errnoGet());
            return;
        }
        span.last = *reply; // holds nothing allocated
        span.replied = true;
        const int taken = accepted(span.last, level, size, attr);
        if (taken < 0) {
            nfsops::spanFailed(&span, errnoGet());
            return;
        }
        verdictAdd(span.last, &span.verdict);
        span.written += static_cast<unsigned>(taken);
        span.open = span.written < span.count;
    }
}

NfsWriteResult nfs3FileWriteRun(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count,
                                const char *buf, fattr3 *attr)
{
    if (!nfsArgsGiven(host, fh, buf, attr) || nfsInit() == -1)
        return failed();
    if (count == 0)
        return {0, {}};
    if (count > INT_MAX) {
        errnoSet(K_EINVAL);
        return failed();
    }
    const int savedErrno = errnoGet();
    Span span = nfsops::writeSpanOf<WRITE3res>(offset, count, buf);
    nfsops::writeSpans<Nfs3Protocol>(static_cast<stable_how>(nfs3WriteStable), host, fh, &span, 1, attr);
    // A reply committed below the level asked fails without an error number of its own.
    errnoSet(span.error != 0 ? span.error : savedErrno);
    return resultOf(span, attr);
}

void nfs3FileWriteRanges(const char *host, nfs_fh3 *fh, NfsWriteRange *ranges, unsigned n, fattr3 *attr)
{
    Span spans[kMostRanges] = {};
    const bool usable = nfsArgsGiven(host, fh, attr) && n <= kMostRanges && nfsInit() != -1;
    const int error = usable ? K_EINVAL : (errnoGet() != 0 ? errnoGet() : K_EINVAL);
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        const bool fits = usable && ranges[i].buf != nullptr && ranges[i].count <= INT_MAX;
        spans[i] =
            nfsops::writeSpanOf<WRITE3res>(ranges[i].offset, fits ? ranges[i].count : 0, ranges[i].buf);
        if (!fits)
            nfsops::spanFailed(&spans[i], error);
    }
    if (usable)
        nfsops::writeSpans<Nfs3Protocol>(static_cast<stable_how>(nfs3WriteStable), host, fh, spans, n, attr);
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        ranges[i].result = resultOf(spans[i], attr);
        ranges[i].error = spans[i].error != 0 ? spans[i].error : (ranges[i].result.written < 0 ? K_EIO : 0);
    }
}

int nfs3FileWrite(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, const char *buf,
                  fattr3 *attr)
{
    return nfs3FileWriteRun(host, fh, offset, count, buf, attr).written;
}
