// The version 4 data calls as the cache moves a file's data (nfs4Protocol.h): a span cut into
// READs or WRITEs of the device's transfer size, each one COMPOUND with the open's state id;
// WRITEs go out UNSTABLE, and their verdict says what a COMMIT must cover.
#include "ops/nfs4Protocol.h"

#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstring>

namespace {

using nfsres::Fail;
using nfsres::Result;

constexpr uint64_t kMostData = static_cast<uint64_t>(NFS4_MAXDATA_DECODED);

// A piece's size: the transfer size, at least 1, at most what the rest of the span holds.
uint32_t pieceOf(unsigned most, uint64_t left)
{
    const uint64_t size = std::max(most, 1U);
    return static_cast<uint32_t>(std::min<uint64_t>({size, left, kMostData}));
}

// Bytes from OFFSET until COUNT arrived, the server reported the end, or a reply brought
// nothing: the count received.
Result<unsigned> readSpan(const Nfs4Handle &fh, uint64_t offset, unsigned count, char *buf)
{
    if (fh.state == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    const Nfs4OpenFile open = nfs4OpenOf(fh);
    unsigned done = 0;
    while (done < count) {
        const uint32_t piece = pieceOf(Nfs4Protocol::readMost(), count - done);
        const Result<Nfs4ReadDone> read = nfs4Read(*fh.state, open, offset + done, buf + done, piece);
        if (!read.ok())
            return read.fail(); // never a short count, which would read as the file's end
        done += read.value().count;
        if (read.value().eof || read.value().count == 0)
            break;
    }
    return done;
}

// Every byte of the span sent UNSTABLE: its verdict; a reply that takes nothing fails with K_EIO.
NfsWriteResult writeSpan(const Nfs4Handle &fh, uint64_t offset, unsigned count, const char *buf)
{
    NfsWriteResult result{0, {}};
    if (fh.state == nullptr) {
        errnoSet(NFS_ERRNO_INVAL);
        return {-1, {}};
    }
    const Nfs4OpenFile open = nfs4OpenOf(fh);
    bool verfSeen = false;
    while (static_cast<unsigned>(result.written) < count) {
        const auto done = static_cast<unsigned>(result.written);
        const uint32_t piece = pieceOf(Nfs4Protocol::writeMost(), count - done);
        const Result<Nfs4WriteDone> wrote =
            nfs4Write(*fh.state, open, offset + done, buf + done, piece, UNSTABLE4);
        if (!wrote.ok() || wrote.value().count == 0) {
            errnoSet(wrote.ok() ? K_EIO : wrote.error());
            return {-1, {}};
        }
        if (wrote.value().committed == UNSTABLE4) {
            NfsWriteVerdict &verdict = result.verdict;
            if (verfSeen &&
                std::memcmp(verdict.verf, wrote.value().verifier.data(), sizeof verdict.verf) != 0)
                verdict.verfChanged = true;
            std::memcpy(verdict.verf, wrote.value().verifier.data(), sizeof verdict.verf);
            verdict.unstable = true;
            verfSeen = true;
        }
        result.written += static_cast<int>(wrote.value().count);
    }
    return result;
}

// What a WRITE tells of the file's attributes without asking: the end it reached.
void sizeReached(fattr3 *attr, uint64_t end)
{
    if (attr != nullptr && end > attr->size)
        attr->size = end;
}

} // namespace

int nfs4FileRead(const char * /*host*/, Nfs4Handle *fh, uint64_t offset, unsigned count, char *buf,
                 fattr3 * /*attr*/)
{
    if (fh == nullptr || buf == nullptr)
        return nfsres::entry(Result<int>{Fail{NFS_ERRNO_INVAL}});
    const Result<unsigned> read = readSpan(*fh, offset, count, buf);
    return read.ok() ? static_cast<int>(read.value()) : nfsres::entry(Result<int>{read.fail()});
}

NfsWriteResult nfs4FileWriteRun(const char * /*host*/, Nfs4Handle *fh, uint64_t offset, unsigned count,
                                const char *buf, fattr3 *attr)
{
    if (fh == nullptr || (buf == nullptr && count > 0)) {
        errnoSet(NFS_ERRNO_INVAL);
        return {-1, {}};
    }
    const NfsWriteResult result = writeSpan(*fh, offset, count, buf);
    if (result.written > 0)
        sizeReached(attr, offset + static_cast<unsigned>(result.written));
    return result;
}

// One range after another: each its own outcome.
void nfs4FileReadRanges(const char *host, Nfs4Handle *fh, NfsReadRange *ranges, unsigned n, fattr3 *attr)
{
    for (unsigned i = 0; i < n; ++i) {
        NfsReadRange &range = ranges[i];
        const Result<int> got = nfsres::viaErrno(
            [&] { return nfs4FileRead(host, fh, range.offset, range.count, range.buf, attr); });
        range.received = got.ok() ? got.value() : -1;
        range.error = got.ok() ? 0 : (got.error() != 0 ? got.error() : K_EIO);
    }
}

void nfs4FileWriteRanges(const char *host, Nfs4Handle *fh, NfsWriteRange *ranges, unsigned n, fattr3 *attr)
{
    for (unsigned i = 0; i < n; ++i) {
        NfsWriteRange &range = ranges[i];
        const int callerErrno = errnoGet();
        errnoSet(0);
        range.result = nfs4FileWriteRun(host, fh, range.offset, range.count, range.buf, attr);
        const int error = errnoGet();
        errnoSet(callerErrno);
        range.error = range.result.written >= 0 ? 0 : (error != 0 ? error : K_EIO);
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
