// Module-private: READs and WRITEs of byte ranges of a file with several pieces in flight (the
// window), for both versions over the version's protocol type P (nfs2Protocol.h,
// nfs3Protocol.h; what it gives is NfsProtocolData in nfsProtocol.h), which says how one piece
// is asked for and how its reply reads. The calls are the same as one piece at a time, only
// overlapped; each version's own one-at-a-time loop (P::readAlone, P::writeAlone) serves the
// window of 1. Every WRITE of one write asks for the same level of safety (P::WriteLevel).
#ifndef NFS_OPS_NFSDATASPANS_H
#define NFS_OPS_NFSDATASPANS_H

#include "core/nfsDispatch.h"
#include "core/nfsResult.h"
#include "rpc/nfsRemoteCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace nfsops {

// One range of a read as the batches take it: the bytes received so far, whether more are
// to come, and the error that ended it.
struct ReadSpan {
    uint64_t offset;
    char *buf;
    unsigned count;
    unsigned total;
    int error;
    bool open;
};

inline ReadSpan readSpanOf(uint64_t offset, unsigned count, char *buf)
{
    return ReadSpan{.offset = offset, .buf = buf, .count = count, .total = 0, .error = 0, .open = count > 0};
}

// The protocol type's steps follow the C convention (false or -1 with the error number set):
// their outcome is taken as a value, the task's error number left as it was.
template <typename Step> nfsres::Result<int> stepOutcome(Step step)
{
    return nfsres::viaErrno(step);
}

// Ends a span with the error of its failure.
inline void spanFailed(ReadSpan *span, int error)
{
    span->open = false;
    span->error = error != 0 ? error : K_EIO;
}

// One range of a write as the batches take it: the bytes the server took so far, the verdict
// on them, whether more are to go, the error that ended it, and the reply whose attributes
// the file's follow.
template <typename Res> struct WriteSpan {
    uint64_t offset;
    const char *buf;
    Res last;
    unsigned count;
    unsigned written;
    int error; // 0 for a reply committed below the level asked, which sets no error number
    bool open;
    bool failed;
    bool replied;
    NfsWriteVerdict verdict;
};

template <typename Res> WriteSpan<Res> writeSpanOf(uint64_t offset, unsigned count, const char *buf)
{
    return WriteSpan<Res>{.offset = offset,
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

template <typename Res> void spanFailed(WriteSpan<Res> *span, int error)
{
    span->open = false;
    span->failed = true;
    span->error = error;
}

// One piece of a batch: its span and size.
struct Piece {
    std::size_t span;
    unsigned size;
};

// The first READ of every piece of the open spans, all at once, as many as a batch holds: the
// pieces of the first span that start before the file's size as last seen (always its first),
// then those of the others (ranges read ahead), which end at that size. The pieces are then
// taken in order as the one-at-a-time loop takes them: each completed by further READs where
// its first came back short without the end of the file; a failure ends its span; a short
// piece (the end of the file) ends the span's part of the batch, and what its later pieces
// brought is not used (their bytes are overwritten or lie past the span's result); the span
// goes on from there in the next batch, as the one-at-a-time loop goes on after a short piece,
// until a piece brings nothing.
template <typename P>
void readBatch(const char *host, typename P::Handle *fh, ReadSpan *spans, std::size_t n, unsigned most,
               typename P::Attr *attr)
{
    nfsrpc::Batch<typename P::ReadArgs, typename P::ReadRes> batch(P::readArgsCoder, P::readResCoder,
                                                                   P::readBuffer);
    Piece pieces[nfsrpc::kMostInFlight] = {};
    for (std::size_t s = 0; s < n; ++s) {
        ReadSpan &span = spans[s];
        for (unsigned at = span.total; span.open && at < span.count && !batch.full(); at += most) {
            const uint64_t position = span.offset + at;
            if (position >= attr->size && (s > 0 || batch.size() > 0)) {
                span.open = s == 0; // a range read ahead never goes past the size
                break;
            }
            const unsigned size = std::min(span.count - at, most);
            pieces[batch.size()] = {s, size};
            batch.add(P::readArgs(*fh, position, size), P::readInitial(span.buf + at, size));
        }
    }
    batch.run(P::peer(host), P::kReadProc);
    bool shortened[kMostRanges] = {};
    for (std::size_t i = 0; i < batch.size(); ++i) {
        ReadSpan &span = spans[pieces[i].span];
        if (!span.open || shortened[pieces[i].span])
            continue;
        if (batch.error(i) != 0) {
            spanFailed(&span, batch.error(i));
            continue;
        }
        const uint64_t position = span.offset + span.total;
        unsigned received = 0;
        bool eof = false;
        const nfsres::Result<int> outcome =
            stepOutcome([&] { return P::readOutcome(batch[i], position, attr, &received, &eof) ? 0 : -1; });
        if (!outcome.ok()) {
            spanFailed(&span, outcome.error());
            continue;
        }
        if (!eof && received < pieces[i].size) {
            if (received == 0) {
                if (position < attr->size) {
                    spanFailed(&span, K_EIO);
                    continue;
                }
            } else {
                const nfsres::Result<int> rest = stepOutcome([&] {
                    return P::readPiece(host, fh, position + received, pieces[i].size - received,
                                        span.buf + span.total + received, attr);
                });
                if (!rest.ok() || rest.value() < 0) {
                    spanFailed(&span, rest.error());
                    continue;
                }
                received += static_cast<unsigned>(rest.value());
            }
        }
        span.total += received;
        span.open = received != 0 && span.total < span.count;
        shortened[pieces[i].span] = received < pieces[i].size; // the end of the file
    }
}

// Sends batches of the spans' pieces in flight together while a span is open and the window
// serves them (several spans, or one that needs several pieces). False when the task's client
// record could not be made (nfsInit): every open span has then failed.
template <typename Span, typename Batch> bool inFlight(Span *spans, std::size_t n, unsigned most, Batch batch)
{
    const auto anyOpen = [spans, n] {
        return std::any_of(spans, spans + n, [](const Span &s) { return s.open; });
    };
    while (anyOpen() && most != 0 && (n > 1 || spans[0].count > most) && nfsrpc::windowOpen()) {
        if (const nfsres::Result<int> ready = stepOutcome([] { return nfsInit(); }); !ready.ok()) {
            for (std::size_t s = 0; s < n; ++s)
                if (spans[s].open)
                    spanFailed(&spans[s], ready.error());
            return false;
        }
        batch();
    }
    return true;
}

// The spans read (at most kMostRanges): the pieces of all of them in flight together while the
// window is open (for a single span only when it needs several pieces), else the first alone
// one piece at a time; a range read ahead that the window no longer serves is left unread.
template <typename P>
void readSpans(const char *host, typename P::Handle *fh, ReadSpan *spans, std::size_t n,
               typename P::Attr *attr)
{
    const unsigned most = P::readMost();
    if (!inFlight(spans, n, most, [&] { readBatch<P>(host, fh, spans, n, most, attr); }))
        return;
    for (std::size_t s = 1; s < n; ++s)
        if (spans[s].open)
            spanFailed(&spans[s], K_EIO);
    P::readAlone(host, fh, &spans[0], attr);
}

// The WRITEs of every piece of the open spans, all at once, as many as a batch holds, each as
// the one-at-a-time loop sends it. The replies are taken in order as that loop takes them: a
// failure ends its span; a piece the server took only in part ends the span's part of the
// batch, and the rest goes again from there as that loop would send it. Every reply that took
// data adds to its span's verdict, in piece order, since its bytes reached the server.
template <typename P>
void writeBatch(typename P::WriteLevel level, const char *host, typename P::Handle *fh,
                WriteSpan<typename P::WriteRes> *spans, std::size_t n, unsigned most, typename P::Attr *attr)
{
    nfsrpc::Batch<typename P::WriteArgs, typename P::WriteRes> batch(P::writeArgsCoder, P::writeResCoder);
    Piece pieces[nfsrpc::kMostInFlight] = {};
    for (std::size_t s = 0; s < n; ++s) {
        auto &span = spans[s];
        for (unsigned at = span.written; span.open && at < span.count && !batch.full(); at += most) {
            const unsigned size = std::min(span.count - at, most);
            pieces[batch.size()] = {s, size};
            batch.add(P::writeArgs(*fh, span.offset + at, size, span.buf + at, level));
        }
    }
    batch.run(P::peer(host), P::kWriteProc);
    bool partial[kMostRanges] = {};
    for (std::size_t i = 0; i < batch.size(); ++i) {
        auto &span = spans[pieces[i].span];
        const typename P::WriteRes &res = batch[i];
        if (!span.open)
            continue;
        if (partial[pieces[i].span]) {
            if (batch.error(i) == 0 && P::tookData(res))
                P::verdictAdd(res, &span.verdict);
            continue;
        }
        if (batch.error(i) != 0) {
            spanFailed(&span, batch.error(i));
            continue;
        }
        span.last = res; // holds nothing allocated
        span.replied = true;
        const nfsres::Result<int> taken =
            stepOutcome([&] { return P::accepted(res, level, pieces[i].size, attr); });
        if (!taken.ok() || taken.value() < 0) {
            // 0 for a reply committed below the level asked, which sets no error number
            spanFailed(&span, taken.error());
            continue;
        }
        const int accepted = taken.value();
        P::verdictAdd(res, &span.verdict);
        span.written += static_cast<unsigned>(accepted);
        span.open = span.written < span.count;
        partial[pieces[i].span] = static_cast<unsigned>(accepted) != pieces[i].size;
    }
}

// The spans written (at most kMostRanges): the pieces of all of them in flight together while
// the window is open (for a single span only when it needs several pieces), else one piece at
// a time, span after span.
template <typename P>
void writeSpans(typename P::WriteLevel level, const char *host, typename P::Handle *fh,
                WriteSpan<typename P::WriteRes> *spans, std::size_t n, typename P::Attr *attr)
{
    const unsigned most = P::writeMost();
    if (!inFlight(spans, n, most, [&] { writeBatch<P>(level, host, fh, spans, n, most, attr); }))
        return;
    for (std::size_t s = 0; s < n; ++s)
        P::writeAlone(host, fh, &spans[s], attr, level);
}

} // namespace nfsops

#endif
