// A version 4 file's ranges in READs and WRITEs, one piece at a time or a window of them at once.
#include "ops/nfs4DataSpans.h"

#include "rpc/nfsRemoteCall.h"

#include <brisnel/nfsErrors.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

using nfsres::Result;

constexpr uint64_t kMostData = static_cast<uint64_t>(NFS4_MAXDATA_DECODED);

// A piece's size: the transfer size, at least 1, at most what the rest of the range holds.
uint32_t pieceOf(unsigned most, uint64_t left)
{
    const uint64_t size = std::max(most, 1U);
    return static_cast<uint32_t>(std::min<uint64_t>({size, left, kMostData}));
}

template <typename Span> void spanFailed(Span &span, int error)
{
    span.open = false;
    span.error = error != 0 ? error : K_EIO;
}

template <typename Span> bool anyOpen(const Span *spans, std::size_t n)
{
    return std::any_of(spans, spans + n, [](const Span &span) { return span.open; });
}

// Bytes from OFFSET until COUNT arrived, the server reported the end, or a reply brought
// nothing: the count received. A failure is never a short count.
Result<unsigned> readAlone(const Nfs4Handle &fh, const Nfs4OpenFile &open, uint64_t offset, unsigned count,
                           char *buf)
{
    unsigned done = 0;
    while (done < count) {
        const uint32_t piece = pieceOf(Nfs4Protocol::readMost(), count - done);
        const Result<Nfs4ReadDone> read = nfs4Read(*fh.state, open, offset + done, buf + done, piece);
        if (!read.ok())
            return read.fail();
        done += read.value().count;
        if (read.value().eof || read.value().count == 0)
            break;
    }
    return done;
}

// A WRITE's reply added to its range's verdict: only UNSTABLE data awaits a COMMIT.
void verdictAdd(const Nfs4WriteDone &done, NfsWriteVerdict &verdict)
{
    if (done.committed != UNSTABLE4)
        return;
    if (verdict.unstable && std::memcmp(verdict.verf, done.verifier.data(), sizeof verdict.verf) != 0)
        verdict.verfChanged = true;
    std::memcpy(verdict.verf, done.verifier.data(), sizeof verdict.verf);
    verdict.unstable = true;
}

void writeAlone(const Nfs4Handle &fh, const Nfs4OpenFile &open, Nfs4WriteSpan &span)
{
    while (span.open) {
        const uint32_t piece = pieceOf(Nfs4Protocol::writeMost(), span.count - span.written);
        const Result<Nfs4WriteDone> wrote =
            nfs4Write(*fh.state, open, span.offset + span.written, span.buf + span.written, piece, UNSTABLE4);
        if (!wrote.ok() || wrote.value().count == 0) {
            spanFailed(span, wrote.ok() ? K_EIO : wrote.error());
            return;
        }
        verdictAdd(wrote.value(), span.verdict);
        span.written += wrote.value().count;
        span.open = span.written < span.count;
    }
}

// Where a piece of a window belongs: its range, and its place and size in it.
struct Place {
    std::size_t span;
    unsigned at;
    uint32_t size;
};

// The next pieces of the open SPANS, in order, up to WINDOW: each range's from what it holds
// so far. TAKE(i, span, at, size) takes each; their count. A piece from END on (a read's file
// size as last seen) goes only as the window's first: a range read ahead ends there unread, the
// first range goes on from there in the next window, so that a read at the end of the file
// costs one READ whatever the window.
template <typename Span, typename Done, typename Take>
std::size_t windowOf(Span *spans, std::size_t n, unsigned most, std::size_t window, uint64_t end, Done done,
                     Take take)
{
    std::size_t m = 0;
    for (std::size_t s = 0; s < n; ++s) {
        Span &span = spans[s];
        for (unsigned at = done(span); span.open && at < span.count && m < window; ++m) {
            if (span.offset + at >= end && (s > 0 || m > 0)) {
                span.open = s == 0;
                break;
            }
            const uint32_t size = pieceOf(most, span.count - at);
            take(m, s, at, size);
            at += size;
        }
    }
    return m;
}

// The pieces of every open range read together, a window at a time. The answers are taken in
// order as the one-at-a-time loop takes them: a failure ends its range; a piece that came back
// short without the end is completed by further READs; a piece that reached the end (short,
// empty or marked so) ends its range, and what its later pieces brought is not used (their
// bytes lie past the range's result).
void readWindow(const Nfs4Handle &fh, const Nfs4OpenFile &open, Nfs4ReadSpan *spans, std::size_t n,
                std::size_t window, uint64_t fileSize)
{
    const unsigned most = Nfs4Protocol::readMost();
    while (anyOpen(spans, n)) {
        Nfs4ReadPiece pieces[nfsrpc::kMostInFlight];
        Place places[nfsrpc::kMostInFlight];
        const std::size_t m = windowOf(
            spans, n, most, window, fileSize, [](const Nfs4ReadSpan &span) { return span.total; },
            [&](std::size_t i, std::size_t s, unsigned at, uint32_t size) {
                places[i] = Place{s, at, size};
                pieces[i] = Nfs4ReadPiece{spans[s].offset + at, spans[s].buf + at, size, nfsres::Fail{K_EIO}};
            });
        nfs4ReadTogether(*fh.state, open, pieces, m);
        bool ended[kMostRanges] = {};
        for (std::size_t i = 0; i < m; ++i) {
            const Place &place = places[i];
            Nfs4ReadSpan &span = spans[place.span];
            if (!span.open || ended[place.span])
                continue;
            if (!pieces[i].done.ok()) {
                spanFailed(span, pieces[i].done.error());
                continue;
            }
            unsigned received = pieces[i].done.value().count;
            bool end = pieces[i].done.value().eof || received == 0;
            if (!end && received < place.size) {
                const Result<unsigned> rest = readAlone(fh, open, pieces[i].offset + received,
                                                        place.size - received, pieces[i].buffer + received);
                if (!rest.ok()) {
                    spanFailed(span, rest.error());
                    continue;
                }
                received += rest.value();
                end = received < place.size;
            }
            span.total += received;
            ended[place.span] = end;
            span.open = !end && span.total < span.count;
        }
    }
}

// The pieces of every open range written together, a window at a time, the answers taken in
// order: a failure ends its range; a piece the server took only in part ends the range's part
// of the window, and the rest goes again from there. Every answer that took data adds to its
// range's verdict, since its bytes reached the server.
void writeWindow(const Nfs4Handle &fh, const Nfs4OpenFile &open, Nfs4WriteSpan *spans, std::size_t n,
                 std::size_t window)
{
    const unsigned most = Nfs4Protocol::writeMost();
    while (anyOpen(spans, n)) {
        Nfs4WritePiece pieces[nfsrpc::kMostInFlight];
        Place places[nfsrpc::kMostInFlight];
        const std::size_t m = windowOf(
            spans, n, most, window, UINT64_MAX, [](const Nfs4WriteSpan &span) { return span.written; },
            [&](std::size_t i, std::size_t s, unsigned at, uint32_t size) {
                places[i] = Place{s, at, size};
                pieces[i] = Nfs4WritePiece{spans[s].offset + at, spans[s].buf + at, size, nfsres::Fail{K_EIO}};
            });
        nfs4WriteTogether(*fh.state, open, pieces, m, UNSTABLE4);
        bool partial[kMostRanges] = {};
        for (std::size_t i = 0; i < m; ++i) {
            Nfs4WriteSpan &span = spans[places[i].span];
            const Result<Nfs4WriteDone> &done = pieces[i].done;
            if (!span.open)
                continue;
            if (partial[places[i].span]) {
                if (done.ok() && done.value().count > 0)
                    verdictAdd(done.value(), span.verdict);
                continue;
            }
            if (!done.ok() || done.value().count == 0) {
                spanFailed(span, done.ok() ? K_EIO : done.error());
                continue;
            }
            verdictAdd(done.value(), span.verdict);
            span.written += done.value().count;
            span.open = span.written < span.count;
            partial[places[i].span] = done.value().count != places[i].size;
        }
    }
}

// True when SPANS need more than one piece between them and the window holds more than one.
template <typename Span> bool windowServes(const Span *spans, std::size_t n, unsigned most)
{
    if (!nfsrpc::windowOpen())
        return false;
    std::size_t pieces = 0;
    for (std::size_t s = 0; s < n && pieces < 2; ++s)
        if (spans[s].open)
            pieces += spans[s].count > std::max(most, 1U) ? 2U : 1U;
    return pieces > 1;
}

} // namespace

Nfs4WriteSpan nfs4WriteSpanOf(uint64_t offset, unsigned count, const char *buf)
{
    return Nfs4WriteSpan{
        .offset = offset, .buf = buf, .count = count, .written = 0, .error = 0, .verdict = {}, .open = count > 0};
}

void nfs4ReadSpans(const Nfs4Handle &fh, Nfs4ReadSpan *spans, std::size_t n, const fattr3 *attr)
{
    const Nfs4OpenFile open = nfs4OpenOf(fh);
    if (windowServes(spans, n, Nfs4Protocol::readMost())) {
        readWindow(fh, open, spans, n, nfsrpc::windowCalls(), attr != nullptr ? attr->size : UINT64_MAX);
        return;
    }
    for (std::size_t s = 0; s < n; ++s) {
        Nfs4ReadSpan &span = spans[s];
        if (!span.open)
            continue;
        const Result<unsigned> read = readAlone(fh, open, span.offset, span.count, span.buf);
        if (!read.ok()) {
            spanFailed(span, read.error());
            continue;
        }
        span.total = read.value();
        span.open = false;
    }
}

void nfs4WriteSpans(const Nfs4Handle &fh, Nfs4WriteSpan *spans, std::size_t n)
{
    const Nfs4OpenFile open = nfs4OpenOf(fh);
    if (windowServes(spans, n, Nfs4Protocol::writeMost())) {
        writeWindow(fh, open, spans, n, nfsrpc::windowCalls());
        return;
    }
    for (std::size_t s = 0; s < n; ++s)
        writeAlone(fh, open, spans[s]);
}
