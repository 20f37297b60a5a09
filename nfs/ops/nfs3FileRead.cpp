// READ: a byte range of a file, in pieces of at most nfs3MaxMsgLen bytes, decoded straight
// into the caller's buffer.
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

namespace {

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
    using P = Nfs3Protocol;
    const nfsrpc::Reply<READ3res> reply(P::peer(host), P::kReadProc, P::readArgsCoder,
                                        P::readArgs(*fh, position, wanted), P::readResCoder,
                                        P::readInitial(destination, wanted), P::readBuffer);
    if (nfsops::failed(reply))
        return -1;
    const READ3resok *ok = readOutcome(*reply, attr);
    if (ok == nullptr)
        return -1;
    *pEof = ok->eof != 0;
    return static_cast<int>(ok->count);
}

} // namespace

int Nfs3Protocol::readPiece(const char *host, nfs_fh3 *fh, uint64_t position, unsigned size,
                            char *destination, fattr3 *attr)
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

bool Nfs3Protocol::readOutcome(const READ3res &res, uint64_t /*position*/, fattr3 *attr, unsigned *pCount,
                               bool *pEof)
{
    const READ3resok *ok = ::readOutcome(res, attr);
    if (ok == nullptr)
        return false;
    *pCount = static_cast<unsigned>(ok->count);
    *pEof = ok->eof != 0;
    return true;
}

void Nfs3Protocol::readAlone(const char *host, nfs_fh3 *fh, nfsops::ReadSpan *pSpan, fattr3 *attr)
{
    nfsops::ReadSpan &span = *pSpan;
    while (span.open && span.total < span.count) {
        const unsigned size = std::min(span.count - span.total, readMost());
        if (nfsInit() == -1) {
            nfsops::spanFailed(&span, errnoGet());
            return;
        }
        const int received = readPiece(host, fh, span.offset + span.total, size, span.buf + span.total, attr);
        if (received < 0) {
            nfsops::spanFailed(&span, errnoGet());
            return;
        }
        if (received == 0)
            break;
        span.total += static_cast<unsigned>(received);
    }
}

int nfs3FileRead(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, char *buf, fattr3 *attr)
{
    if (!nfsArgsGiven(host, fh, buf, attr))
        return -1;
    // The result is a byte count in an int.
    if (count > INT_MAX) {
        errnoSet(K_EINVAL);
        return -1;
    }
    nfsops::ReadSpan span = nfsops::readSpanOf(offset, count, buf);
    nfsops::readSpans<Nfs3Protocol>(host, fh, &span, 1, attr);
    if (span.error != 0) {
        errnoSet(span.error);
        return -1;
    }
    return static_cast<int>(span.total);
}

void nfs3FileReadRanges(const char *host, nfs_fh3 *fh, NfsReadRange *ranges, unsigned n, fattr3 *attr)
{
    nfsops::ReadSpan spans[kMostRanges] = {};
    const bool usable = nfsArgsGiven(host, fh, attr) && n <= kMostRanges;
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        const bool fits = usable && ranges[i].buf != nullptr && ranges[i].count <= INT_MAX;
        spans[i] = nfsops::readSpanOf(ranges[i].offset, fits ? ranges[i].count : 0, ranges[i].buf);
        if (!fits)
            nfsops::spanFailed(&spans[i], K_EINVAL);
    }
    if (usable)
        nfsops::readSpans<Nfs3Protocol>(host, fh, spans, n, attr);
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        ranges[i].error = spans[i].error;
        ranges[i].received = spans[i].error != 0 ? -1 : static_cast<int>(spans[i].total);
    }
}
