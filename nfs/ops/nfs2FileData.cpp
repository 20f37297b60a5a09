// READ and WRITE on a version 2 server: a byte range in pieces of at most nfs2MaxMsgLen bytes.
// Version 2 has no end-of-file flag: a read ends with the first empty reply at or past the
// file's size, or when count bytes have arrived.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "ops/nfs2Call.h"
#include "ops/nfs2Protocol.h"
#include "ops/nfsDataSpans.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <climits>

namespace {

// The byte count fits the int result, and the range the protocol's 32-bit positions.
bool transferable(uint64_t offset, unsigned count)
{
    if (count > INT_MAX) {
        errnoSet(K_EINVAL);
        return false;
    }
    return nfs2ops::withinReach(offset, count);
}

// One READ of `size` bytes at `position` into `destination`, its attributes taken: the bytes
// delivered, or -1.
int readOnce(const char *host, nfs_fh2 *fh, uint64_t position, unsigned size, char *destination, fattr *attr)
{
    using P = Nfs2Protocol;
    const nfsrpc::Reply<readres> reply(P::peer(host), P::kReadProc, P::readArgsCoder,
                                       P::readArgs(*fh, position, size), P::readResCoder,
                                       P::readInitial(destination, size), P::readBuffer);
    if (nfsops::failed(reply) || !nfsops::statusOk(reply->status))
        return -1;
    const readokres &ok = reply->readres_u.reply;
    // An empty reply ends the file only at or past its size; before it, it is a fault.
    if (ok.data.data_len == 0) {
        if (position < ok.attributes.size) {
            errnoSet(K_EIO);
            return -1;
        }
        return 0;
    }
    *attr = ok.attributes;
    return static_cast<int>(ok.data.data_len);
}

} // namespace

int Nfs2Protocol::readPiece(const char *host, nfs_fh2 *fh, uint64_t position, unsigned size,
                            char *destination, fattr *attr)
{
    unsigned received = 0;
    while (received < size) {
        const int got =
            readOnce(host, fh, position + received, size - received, destination + received, attr);
        if (got <= 0)
            return got < 0 ? -1 : static_cast<int>(received);
        received += static_cast<unsigned>(got);
    }
    return static_cast<int>(received);
}

// Each reply brings at most the piece asked for (the decoder refuses more), and one that
// brings nothing ends the transfer, so a server cannot keep the loop going past count.
void Nfs2Protocol::readAlone(const char *host, nfs_fh2 *fh, nfsops::ReadSpan *pSpan, fattr *attr)
{
    nfsops::ReadSpan &span = *pSpan;
    while (span.open && span.total < span.count) {
        const unsigned size = std::min(span.count - span.total, readMost());
        if (size == 0) {
            nfsops::spanFailed(&span, K_EINVAL); // a transfer limit of 0 allows no progress
            return;
        }
        const int got = readOnce(host, fh, span.offset + span.total, size, span.buf + span.total, attr);
        if (got < 0) {
            nfsops::spanFailed(&span, errnoGet());
            return;
        }
        if (got == 0)
            break;
        span.total += static_cast<unsigned>(got);
    }
}

void Nfs2Protocol::writeAlone(const char *host, nfs_fh2 *fh, nfsops::WriteSpan<attrstat> *pSpan, fattr *attr,
                              WriteLevel level)
{
    nfsops::WriteSpan<attrstat> &span = *pSpan;
    while (span.open) {
        const unsigned size = std::min(span.count - span.written, writeMost());
        if (size == 0) {
            nfsops::spanFailed(&span, K_EINVAL);
            return;
        }
        const nfsrpc::Reply<attrstat> reply(
            peer(host), kWriteProc, writeArgsCoder,
            writeArgs(*fh, span.offset + span.written, size, span.buf + span.written, level), writeResCoder);
        errnoSet(0);
        if (nfsops::failed(reply) || accepted(*reply, level, size, attr) < 0) {
            nfsops::spanFailed(&span, errnoGet());
            return;
        }
        span.last = *reply; // holds nothing allocated
        span.replied = true;
        span.written += size;
        span.open = span.written < span.count;
    }
}

// Pieces in flight together while the window is open, else one at a time (Nfs2Protocol::readAlone).
int nfs2FileRead(const char *host, nfs_fh2 *fh, uint64_t offset, unsigned count, char *buf, fattr *attr)
{
    if (!nfsArgsGiven(host, fh, buf, attr) || nfsInit() != 0)
        return -1;
    if (count == 0)
        return 0;
    if (!transferable(offset, count))
        return -1;
    nfsops::ReadSpan span = nfsops::readSpanOf(offset, count, buf);
    nfsops::readSpans<Nfs2Protocol>(host, fh, &span, 1, attr);
    if (span.error != 0) {
        errnoSet(span.error);
        return -1;
    }
    return static_cast<int>(span.total);
}

int nfs2FileWrite(const char *host, nfs_fh2 *fh, uint64_t offset, unsigned count, const char *buf,
                  fattr *attr)
{
    if (!nfsArgsGiven(host, fh, buf, attr) || nfsInit() != 0)
        return -1;
    if (count == 0)
        return 0;
    if (!transferable(offset, count))
        return -1;
    nfsops::WriteSpan<attrstat> span = nfsops::writeSpanOf<attrstat>(offset, count, buf);
    nfsops::writeSpans<Nfs2Protocol>(Nfs2Protocol::WriteLevel::stable, host, fh, &span, 1, attr);
    if (span.failed || span.open) {
        errnoSet(span.error != 0 ? span.error : K_EIO);
        return -1;
    }
    if (span.replied)
        *attr = span.last.attrstat_u.attributes;
    return static_cast<int>(count);
}

void nfs2FileReadRanges(const char *host, nfs_fh2 *fh, NfsReadRange *ranges, unsigned n, fattr *attr)
{
    nfsops::ReadSpan spans[kMostRanges] = {};
    const bool usable = nfsArgsGiven(host, fh, attr) && n <= kMostRanges && nfsInit() == 0;
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        const bool fits =
            usable && ranges[i].buf != nullptr && transferable(ranges[i].offset, ranges[i].count);
        spans[i] = nfsops::readSpanOf(ranges[i].offset, fits ? ranges[i].count : 0, ranges[i].buf);
        if (!fits)
            nfsops::spanFailed(&spans[i], errnoGet());
    }
    if (usable)
        nfsops::readSpans<Nfs2Protocol>(host, fh, spans, n, attr);
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        ranges[i].error = spans[i].error;
        ranges[i].received = spans[i].error != 0 ? -1 : static_cast<int>(spans[i].total);
    }
}

void nfs2FileWriteRanges(const char *host, nfs_fh2 *fh, NfsWriteRange *ranges, unsigned n, fattr *attr)
{
    nfsops::WriteSpan<attrstat> spans[kMostRanges] = {};
    const bool usable = nfsArgsGiven(host, fh, attr) && n <= kMostRanges && nfsInit() == 0;
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        const bool fits =
            usable && ranges[i].buf != nullptr && transferable(ranges[i].offset, ranges[i].count);
        spans[i] = nfsops::writeSpanOf<attrstat>(ranges[i].offset, fits ? ranges[i].count : 0, ranges[i].buf);
        if (!fits)
            nfsops::spanFailed(&spans[i], errnoGet() != 0 ? errnoGet() : K_EINVAL);
    }
    if (usable)
        nfsops::writeSpans<Nfs2Protocol>(Nfs2Protocol::WriteLevel::stable, host, fh, spans, n, attr);
    for (unsigned i = 0; i < n && i < kMostRanges; ++i) {
        const bool written = !spans[i].failed && !spans[i].open;
        if (written && spans[i].replied)
            *attr = spans[i].last.attrstat_u.attributes;
        ranges[i].result = {written ? static_cast<int>(spans[i].count) : -1, {}};
        ranges[i].error = written ? 0 : (spans[i].error != 0 ? spans[i].error : K_EIO);
    }
}
