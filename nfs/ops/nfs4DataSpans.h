// Module-private: the byte ranges of a version 4 file that the cache moves, cut into READs or
// WRITEs of the device's transfer size. With a window of one each range goes piece after piece,
// each call waiting for its answer; with a wider one the pieces of every range go in flight
// together, as many as the window, each its own compound (nfs4ReadTogether, nfs4WriteTogether).
// Either way a reply longer than asked is refused, a short READ at the end of the file ends
// its range, WRITEs go UNSTABLE and their verdicts combine (an UNSTABLE reply marks the range
// unstable, a verifier that differs from an earlier one marks it changed), and a failed piece
// fails its range with no count that would read as the end of the file.
#ifndef NFS_OPS_NFS4DATASPANS_H
#define NFS_OPS_NFS4DATASPANS_H

#include "core/nfsDispatch.h"
#include "ops/nfs4Protocol.h"
#include "ops/nfsDataSpans.h"

#include <cstddef>

// One range of a read, as versions 2 and 3 keep it (made by nfsops::readSpanOf).
using Nfs4ReadSpan = nfsops::ReadSpan;

// One range of a write: the bytes the server took so far, the verdict on them, whether more
// are to go, the error that ended it (0: none).
struct Nfs4WriteSpan {
    uint64_t offset;
    const char *buf;
    unsigned count;
    unsigned written;
    int error;
    NfsWriteVerdict verdict;
    bool open;
};

Nfs4WriteSpan nfs4WriteSpanOf(uint64_t offset, unsigned count, const char *buf);

// SPANS[0..N) (at most kMostRanges) read, or written, through FH's open. A window's pieces at
// and past the file's size in *ATTR (when given) wait for the answer of the first.
void nfs4ReadSpans(const Nfs4Handle &fh, Nfs4ReadSpan *spans, std::size_t n, const fattr3 *attr);
void nfs4WriteSpans(const Nfs4Handle &fh, Nfs4WriteSpan *spans, std::size_t n);

#endif
