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

// One range of a write as the batches take it: the bytes the server took so far, the verdict
// on them, whether more are to go, the error that ended it, and the reply whose weak cache
// consistency data the attributes follow.
struct Span {
    uint64_t offset;
    const char *buf;
    WRITE3res last;
    unsigned count;
    unsigned written;
    int error; // 0 for a reply committed below the level asked, which sets no error number
    bool open;
    bool failed;
    bool replied;
    Nfs3WriteVerdict verdict;
};

void spanFailed(Span *span, int error)
{
    span->open = false;
    span->failed = true;
    span->error = error;
}

struct Piece {
    std::size_t span;
    unsigned size;
};

// The WRITEs of every piece of the open spans, all at once, as many as a batch holds, each as
// the one-at-a-time loop sends it. The replies are taken in order as that loop takes them: a
// failure ends its span; a piece the server took only in part ends the span's part of the
// batch, and the rest goes again from there as that loop would send it. Every reply that took
// data adds to its span's verdict, in piece order, since its bytes reached the server.
void writeBatch(const char *host, nfs_fh3 *fh, Span *spans, std::size_t n, unsigned most, stable_how stable,
                fattr3 *attr)
{
    nfsrpc::Batch<WRITE3args, WRITE3res> batch(xdr_WRITE3args, xdr_WRITE3res);
    Piece pieces[nfsrpc::kMostInFlight] = {};
    for (std::size_t s = 0; s < n; ++s) {
        Span &span = spans[s];
        for (unsigned at = span.written; span.open && at < span.count && !batch.full(); at += most) {
            const unsigned size = std::min(span.count - at, most);
            pieces[batch.size()] = {s, size};
            batch.add(WRITE3args{.file = *fh,
                                 .offset = span.offset + at,
                                 .count = size,
                                 .stable = stable,
                                 .data = {size, const_cast<char *>(span.buf + at)}}); // only encoded from
        }
    }
    batch.run(nfsops::nfs3Peer(host), NFSPROC3_WRITE);
    bool partial[kMostRanges] = {};
    for (std::size_t i = 0; i < batch.size(); ++i) {
        Span &span = spans[pieces[i].span];
        const WRITE3res &res = batch[i];
        if (!span.open)
            continue;
        if (partial[pieces[i].span]) {
            if (batch.error(i) == 0 && res.status == NFS3_OK && res.WRITE3res_u.resok.count != 0)
                verdictAdd(res.WRITE3res_u.resok, &span.verdict);
            continue;
        }
        if (batch.error(i) != 0) {
            spanFailed(&span, batch.error(i));
            continue;
        }
        span.last = res; // holds nothing allocated
        span.replied = true;
        errnoSet(0);
        const int accepted = acceptedCount(res, stable, pieces[i].size, attr);
        if (accepted < 0) {
            spanFailed(&span, errnoGet());
            continue;
        }
        verdictAdd(res.WRITE3res_u.resok, &span.verdict);
        span.written += static_cast<unsigned>(accepted);
        span.open = span.written < span.count;
        partial[pieces[i].span] = static_cast<unsigned>(accepted) != pieces[i].size;
    }
}

void writeAlone(const char *host, nfs_fh3 *fh, Span *pSpan, stable_how stable, fattr3 *attr);

// The spans written: the pieces of all of them in flight together while the window is open
// (for a single span only when it needs several pieces), else the first alone one piece at a
// time, then the others the same way.
void writeSpans(const char *host, nfs_fh3 *fh, Span *spans, std::size_t n, fattr3 *attr)
{
    const auto stable = static_cast<stable_how>(nfs3WriteStable);
    const unsigned most = nfsWordGet(nfs3MaxMsgLen);
    const auto anyOpen = [spans, n] {
        return std::any_of(spans, spans + n, [](const Span &s) { return s.open; });
    };
    while (anyOpen() && most != 0 && (n > 1 || spans[0].count > most) && nfsrpc::windowOpen()) {
        if (nfsInit() == -1) {
            for (std::size_t s = 0; s < n; ++s)
                if (spans[s].open)
                    spanFailed(&spans[s], errnoGet());
            return;
        }
        writeBatch(host, fh, spans, n, most, stable, attr);
    }
    for (std::size_t s = 0; s < n; ++s)
        writeAlone(host, fh, &spans[s], stable, attr);
}

// One span one piece at a time.
void writeAlone(const char *host, nfs_fh3 *fh, Span *pSpan, stable_how stable, fattr3 *attr)
{
    Span &span = *pSpan;
    while (span.open) {
        const unsigned size = std::min(span.count - span.written, nfsWordGet(nfs3MaxMsgLen));
        if (size == 0) {
            spanFailed(&span, K_EINVAL); // a transfer limit of 0 allows no progress
            return;
        }
        WRITE3args args{.file = *fh,
                        .offset = span.offset + span.written,
                        .count = size,
                        .stable = stable,
                        .data = {size, const_cast<char *>(span.buf + span.written)}}; // only encoded from
        const nfsrpc::Reply<WRITE3res> reply(nfsops::nfs3Peer(host), NFSPROC3_WRITE, xdr_WRITE3args, args,
                                             xdr_WRITE3res);
        errnoSet(0);
        if (nfsops::failed(reply)) {
            spanFailed(&span, errnoGet());
            return;
        }
        span.last = *reply; // holds nothing allocated
        span.replied = true;
        const int accepted = acceptedCount(span.last, stable, size, attr);
        if (accepted < 0) {
            spanFailed(&span, errnoGet());
            return;
        }
        verdictAdd(span.last.WRITE3res_u.resok, &span.verdict);
        span.written += static_cast<unsigned>(accepted);
        span.open = span.written < span.count;
    }
}

Span spanOf(uint64_t offset, unsigned count, const char *buf)
{
    return Span{.offset = offset,
                .buf = buf,
                .last = {},
                .count = count,
                .written = 0,
                .error = 0,
                .open = count > 0,
                .failed = false,
                .replied = false,
                .verdict = {}};
}

// A span's result; the attributes follow its last reply's weak cache consistency data.
Nfs3WriteResult resultOf(Span &span, fattr3 *attr)
{
    if (span.failed || span.open)
        return failed();
    if (span.replied)
        nfs3DecodeWcc(&span.last.WRITE3res_u.resok.file_wcc, attr);
    return {static_cast<int>(span.count), span.verdict};
}

} // namespace

Nfs3WriteResult nfs3FileWriteRun(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count,
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
    Span span = spanOf(offset, count, buf);
    writeSpans(host, fh, &span, 1, attr);
    // A reply committed below the level asked fails without an error number of its own.
    errnoSet(span.error != 0 ? span.error : savedErrno);
    return resultOf(span, attr);
}

void nfs3FileWriteRanges(const char *host, nfs_fh3 *fh, Nfs3WriteRange *ranges, unsigned n, fattr3 *attr)
{
    Span spans[kMostRanges] = {};
    const bool usable = nfsArgsGiven(host, fh, attr) && n <= kMostRanges && nfsInit() != -1;
    const int error = usable ? K_EINVAL : (errnoGet() != 0 ? errnoGet() : K_EINVAL);
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        const bool fits = usable && ranges[i].buf != nullptr && ranges[i].count <= INT_MAX;
        spans[i] = spanOf(ranges[i].offset, fits ? ranges[i].count : 0, ranges[i].buf);
        if (!fits)
            spanFailed(&spans[i], error);
    }
    if (usable)
        writeSpans(host, fh, spans, n, attr);
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
