// The version 4 data calls as the cache moves a file's data (nfs4Protocol.h): a range, or
// several, cut into READs or WRITEs of the device's transfer size (nfs4DataSpans.h), each one
// COMPOUND with the open's state id; WRITEs go out UNSTABLE, and their verdict says what a
// COMMIT must cover.
#include "ops/nfs4DataSpans.h"
#include "ops/nfs4Protocol.h"

#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

using nfsres::Fail;
using nfsres::Result;

// What a WRITE tells of the file's attributes without asking: the end it reached.
void sizeReached(fattr3 *attr, uint64_t end)
{
    if (attr != nullptr && end > attr->size)
        attr->size = end;
}

// A written range's result; ATTR's size raised to the end it reached.
NfsWriteResult resultOf(const Nfs4WriteSpan &span, fattr3 *attr)
{
    if (span.error != 0 || span.open)
        return {-1, {}};
    if (span.count > 0)
        sizeReached(attr, span.offset + span.count);
    return {static_cast<int>(span.count), span.verdict};
}

} // namespace

int nfs4FileRead(const char * /*host*/, Nfs4Handle *fh, uint64_t offset, unsigned count, char *buf,
                 fattr3 *attr)
{
    if (fh == nullptr || fh->state == nullptr || buf == nullptr || count > INT_MAX)
        return nfsres::entry(Result<int>{Fail{NFS_ERRNO_INVAL}});
    Nfs4ReadSpan span = nfsops::readSpanOf(offset, count, buf);
    nfs4ReadSpans(*fh, &span, 1, attr);
    if (span.error != 0)
        return nfsres::entry(Result<int>{Fail{span.error}});
    return static_cast<int>(span.total);
}

NfsWriteResult nfs4FileWriteRun(const char * /*host*/, Nfs4Handle *fh, uint64_t offset, unsigned count,
                                const char *buf, fattr3 *attr)
{
    if (fh == nullptr || fh->state == nullptr || (buf == nullptr && count > 0) || count > INT_MAX) {
        errnoSet(NFS_ERRNO_INVAL);
        return {-1, {}};
    }
    Nfs4WriteSpan span = nfs4WriteSpanOf(offset, count, buf);
    nfs4WriteSpans(*fh, &span, 1);
    if (span.error != 0)
        errnoSet(span.error);
    return resultOf(span, attr);
}

// The ranges, kMostRanges at a time: each its own outcome.
void nfs4FileReadRanges(const char * /*host*/, Nfs4Handle *fh, NfsReadRange *ranges, unsigned n, fattr3 *attr)
{
    for (unsigned base = 0; base < n; base += kMostRanges) {
        const unsigned m = std::min(n - base, kMostRanges);
        Nfs4ReadSpan spans[kMostRanges] = {};
        for (unsigned i = 0; i < m; ++i) {
            const NfsReadRange &range = ranges[base + i];
            const bool fits = fh != nullptr && fh->state != nullptr && range.buf != nullptr && range.count <= INT_MAX;
            spans[i] = nfsops::readSpanOf(range.offset, fits ? range.count : 0, range.buf);
            spans[i].error = fits ? 0 : NFS_ERRNO_INVAL;
        }
        if (fh != nullptr && fh->state != nullptr)
            nfs4ReadSpans(*fh, spans, m, attr);
        for (unsigned i = 0; i < m; ++i) {
            ranges[base + i].error = spans[i].error;
            ranges[base + i].received = spans[i].error != 0 ? -1 : static_cast<int>(spans[i].total);
        }
    }
}

void nfs4FileWriteRanges(const char * /*host*/, Nfs4Handle *fh, NfsWriteRange *ranges, unsigned n, fattr3 *attr)
{
    for (unsigned base = 0; base < n; base += kMostRanges) {
        const unsigned m = std::min(n - base, kMostRanges);
        Nfs4WriteSpan spans[kMostRanges] = {};
        for (unsigned i = 0; i < m; ++i) {
            const NfsWriteRange &range = ranges[base + i];
            const bool fits = fh != nullptr && fh->state != nullptr && (range.buf != nullptr || range.count == 0) &&
                              range.count <= INT_MAX;
            spans[i] = nfs4WriteSpanOf(range.offset, fits ? range.count : 0, range.buf);
            spans[i].error = fits ? 0 : NFS_ERRNO_INVAL;
        }
        if (fh != nullptr && fh->state != nullptr)
            nfs4WriteSpans(*fh, spans, m);
        for (unsigned i = 0; i < m; ++i) {
            ranges[base + i].result = resultOf(spans[i], attr);
            ranges[base + i].error = spans[i].error;
        }
    }
}

int nfs4FileCommit(const char * /*host*/, Nfs4Handle *fh, writeverf3 verf, fattr3 * /*attr*/)
{
    if (fh == nullptr || fh->state == nullptr)
        return nfsres::entry(Result<int>{Fail{NFS_ERRNO_INVAL}});
    const Result<Nfs4Verifier> committed = nfs4Commit(*fh->state, fh->fh, 0, 0);
    if (!committed.ok())
        return nfsres::entry(Result<int>{committed.fail()});
    std::memcpy(verf, committed.value().data(), NFS3_WRITEVERFSIZE);
    return 0;
}

fattr3 nfs4Fattr3Of(const Nfs4Attrs &attrs)
{
    constexpr uint64_t kFold = 0x9E3779B97F4A7C15ULL; // spreads the minor word over the tag
    fattr3 out{};
    out.type = static_cast<ftype3>(attrs.type);
    out.mode = attrs.mode;
    out.nlink = attrs.numlinks;
    out.uid = attrs.uid;
    out.gid = attrs.gid;
    out.size = attrs.size;
    out.used = attrs.size;
    out.fsid = attrs.fsid.major ^ (attrs.fsid.minor * kFold);
    out.fileid = attrs.fileid;
    const auto timeOf = [](const nfstime4 &t) {
        return nfstime3{static_cast<uint32_t>(t.seconds), t.nseconds};
    };
    out.atime = timeOf(attrs.atime);
    out.mtime = timeOf(attrs.mtime);
    out.ctime = timeOf(attrs.ctime);
    return out;
}
