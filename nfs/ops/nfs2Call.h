// Module-private: the handle copy and range check of the version 2 operations, and the
// release of a held directory batch.
#ifndef NFS_OPS_NFS2CALL_H
#define NFS_OPS_NFS2CALL_H

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs2Ops.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>

#include <rpc/rpc.h>

#include "core/nfsDispatch.h"

#include <cstdint>
#include <cstring>

namespace nfs2ops {

inline void handleCopy(const nfs_fh2 &from, nfs_fh2 *to)
{
    std::memmove(*to, from, NFS_FHSIZE);
}

// The version 2 protocol carries 32-bit positions: the range stays below them.
inline bool inReach(uint64_t offset, uint64_t count)
{
    constexpr uint64_t kReach = uint64_t{1} << 32;
    return offset < kReach && count <= kReach - offset;
}
// The same, a range that reaches past them failing with the file-too-large status.
inline bool withinReach(uint64_t offset, uint64_t count)
{
    if (inReach(offset, count))
        return true;
    errnoSet(NFS_ERRNO_BASE | NFSERR_FBIG);
    return false;
}

} // namespace nfs2ops

// Releases the directory batch pFile holds, if any, and clears dirReply; and the cookies its
// listing delivered.
void nfs2DirReplyRelease(Nfs2OpenFile *pFile);

// The ranges slots of version 2: several ranges of one file read or written by one set of
// calls in flight (at most kMostRanges; the first is the range asked for).
void nfs2FileReadRanges(const char *host, nfs_fh2 *fh, NfsReadRange *ranges, unsigned n, fattr *attr);
void nfs2FileWriteRanges(const char *host, nfs_fh2 *fh, NfsWriteRange *ranges, unsigned n, fattr *attr);

#endif
