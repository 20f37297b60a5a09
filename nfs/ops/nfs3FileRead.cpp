// READ: a byte range of a file, in pieces of at most nfs3MaxMsgLen bytes, decoded straight
// into the caller's buffer.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "ops/nfs3Data.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <climits>

namespace {

char **dataBuffer(READ3res &res)
{
    return &res.READ3res_u.resok.data.data_val;
}

void refreshAttributes(const post_op_attr &reply, fattr3 *attr)
{
    if (reply.attributes_follow)
        *attr = reply.post_op_attr_u.attributes;
}

// A decoded READ reply: its attributes taken, and its success part, or null with the
// error number set from its status.
const READ3resok *readOutcome(const READ3res &res, fattr3 *attr)
{
    if (res.status != NFS3_OK) {
        refreshAttributes(res.READ3res_u.resfail.file_attributes, attr);
        nfsErrnoSet(res.status);
        return nullptr;
    }
    refreshAttributes(res.READ3res_u.resok.file_attributes, attr);
    return &res.READ3res_u.resok;
}

// One READ of `wanted` bytes at `position` into `destination`: the bytes delivered, with
// *pEof set from the reply, or -1. The decoder refuses a reply carrying more than `wanted`
// bytes, or a count that disagrees with its data, before anything lands in the buffer.
int readOnce(const char *host, nfs_fh3 *fh, uint64_t position, unsigned wanted, char *destination,
             fattr3 *attr, bool *pEof)
{
    READ3args args{.file = *fh, .offset = position, .count = wanted};
    READ3res initial{};
    initial.READ3res_u.resok.data.data_val = destination;
    initial.READ3res_u.resok.data.data_len = wanted;
    const nfsrpc::Reply<READ3res> reply(nfsops::nfs3Peer(host), NFSPROC3_READ, xdr_READ3args, args,
                                        xdr_READ3res, initial, dataBuffer);
    if (nfsops::failed(reply))
        return -1;
    const READ3resok *ok = readOutcome(*reply, attr);
    if (ok == nullptr)
        return -1;
    *pEof = ok->eof != 0;
    return static_cast<int>(ok->count);
}

// One piece: READs until `size` bytes arrived, the server reports the end of the file, or a
// reply brings nothing at or past the file's known size. The bytes received, or -1.
int readPiece(const char *host, nfs_fh3 *fh, uint64_t position, unsigned size, char *destination,
              fattr3 *attr)
{
    unsigned received = 0;
    while (received < size) {
        bool eof = false;
        const int got =
            readOnce(host, fh, position + received, size - received, destination + received, attr, &eof);
        if (got < 0)
            return -1;
        received += static_cast<unsigned>(got);
        if (eof)
            break;
        // Nothing, and no end of file: the end only at or past the size known of the file,
        // before it a fault (a server could otherwise make any file read as empty).
        if (got == 0) {
            if (position + received < attr->size) {
                errnoSet(K_EIO);
                return -1;
            }
            break;
        }
    }
    return static_cast<int>(received);
}

// One range of a read as the batches take it: the bytes received so far, whether more are
// to come, and the error that ended it.
struct Span {
    uint64_t offset;
    char *buf;
    unsigned count;
    unsigned total;
    int error;
    bool open;
};

// Ends a span with the error of its failure (the error number a failed step left).
void spanFailed(Span *span, int error)
{
    span->open = false;
    span->error = error != 0 ? error : K_EIO;
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
void readBatch(const char *host, nfs_fh3 *fh, Span *spans, std::size_t n, unsigned most, fattr3 *attr)
{
    nfsrpc::Batch<READ3args, READ3res> batch(xdr_READ3args, xdr_READ3res, dataBuffer);
    Piece pieces[nfsrpc::kMostInFlight] = {};
    for (std::size_t s = 0; s < n; ++s) {
        Span &span = spans[s];
        for (unsigned at = span.total; span.open && at < span.count && !batch.full(); at += most) {
            const uint64_t position = span.offset + at;
            if (position >= attr->size && (s > 0 || batch.size() > 0)) {
                span.open = s == 0; // a range read ahead never goes past the size
                break;
            }
            const unsigned size = std::min(span.count - at, most);
            READ3res initial{};
            initial.READ3res_u.resok.data.data_val = span.buf + at;
            initial.READ3res_u.resok.data.data_len = size;
            pieces[batch.size()] = {s, size};
            batch.add(READ3args{.file = *fh, .offset = position, .count = size}, initial);
        }
    }
    batch.run(nfsops::nfs3Peer(host), NFSPROC3_READ);
    bool shortened[kMostRanges] = {};
    for (std::size_t i = 0; i < batch.size(); ++i) {
        Span &span = spans[pieces[i].span];
        if (!span.open || shortened[pieces[i].span])
            continue;
        if (batch.error(i) != 0) {
            spanFailed(&span, batch.error(i));
            continue;
        }
        const READ3resok *ok = readOutcome(batch[i], attr);
        if (ok == nullptr) {
            spanFailed(&span, errnoGet());
            continue;
        }
        const uint64_t position = span.offset + span.total;
        auto received = static_cast<unsigned>(ok->count);
        if (ok->eof == 0 && received < pieces[i].size) {
            if (received == 0) {
                if (position < attr->size) {
                    spanFailed(&span, K_EIO);
                    continue;
                }
            } else {
                const int rest = readPiece(host, fh, position + received, pieces[i].size - received,
                                           span.buf + span.total + received, attr);
                if (rest < 0) {
                    spanFailed(&span, errnoGet());
                    continue;
                }
                received += static_cast<unsigned>(rest);
            }
        }
        span.total += received;
        span.open = received != 0 && span.total < span.count;
        shortened[pieces[i].span] = received < pieces[i].size; // the end of the file
    }
}

// The spans read: the pieces of all of them in flight together while the window is open (for
// a single span only when it needs several pieces), else the first alone one piece at a time;
// a range read ahead that the window no longer serves is left unread (K_EIO).
void readSpans(const char *host, nfs_fh3 *fh, Span *spans, std::size_t n, fattr3 *attr)
{
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
        readBatch(host, fh, spans, n, most, attr);
    }
    for (std::size_t s = 1; s < n; ++s)
        if (spans[s].open)
            spanFailed(&spans[s], K_EIO);
    Span &span = spans[0];
    while (span.open && span.total < span.count) {
        const unsigned size = std::min(span.count - span.total, nfsWordGet(nfs3MaxMsgLen));
        if (nfsInit() == -1) {
            spanFailed(&span, errnoGet());
            return;
        }
        const int received = readPiece(host, fh, span.offset + span.total, size, span.buf + span.total, attr);
        if (received < 0) {
            spanFailed(&span, errnoGet());
            return;
        }
        if (received == 0)
            break;
        span.total += static_cast<unsigned>(received);
    }
}

Span spanOf(uint64_t offset, unsigned count, char *buf)
{
    return Span{.offset = offset, .buf = buf, .count = count, .total = 0, .error = 0, .open = count > 0};
}

} // namespace

int nfs3FileRead(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, char *buf, fattr3 *attr)
{
    if (!nfsArgsGiven(host, fh, buf, attr))
        return -1;
    // The result is a byte count in an int.
    if (count > INT_MAX) {
        errnoSet(K_EINVAL);
        return -1;
    }
    Span span = spanOf(offset, count, buf);
    readSpans(host, fh, &span, 1, attr);
    if (span.error != 0) {
        errnoSet(span.error);
        return -1;
    }
    return static_cast<int>(span.total);
}

void nfs3FileReadRanges(const char *host, nfs_fh3 *fh, NfsReadRange *ranges, unsigned n, fattr3 *attr)
{
    Span spans[kMostRanges] = {};
    const bool usable = nfsArgsGiven(host, fh, attr) && n <= kMostRanges;
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        const bool fits = usable && ranges[i].buf != nullptr && ranges[i].count <= INT_MAX;
        spans[i] = spanOf(ranges[i].offset, fits ? ranges[i].count : 0, ranges[i].buf);
        if (!fits)
            spanFailed(&spans[i], K_EINVAL);
    }
    if (usable)
        readSpans(host, fh, spans, n, attr);
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        ranges[i].error = spans[i].error;
        ranges[i].received = spans[i].error != 0 ? -1 : static_cast<int>(spans[i].total);
    }
}
