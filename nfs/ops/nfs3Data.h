// The NFS version 3 operations that move file data and read the attributes of files and file
// systems, declared in nfs3Ops.h; the caller serialises the use of one open file.
#ifndef NFS_OPS_NFS3DATA_H
#define NFS_OPS_NFS3DATA_H

#include "core/nfsDispatch.h"

#include <brisnel/nfs3Lib.h>
#include <brisnel/nfs3Ops.h>
#include <brisnel/nfs3Xdr.h>
#include <kernel/kernelStat.h>

#include <cstdint>

// nfs3FileWrite with the verdict of its replies: what the cache's version 3 write word holds.
NfsWriteResult nfs3FileWriteRun(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count,
                                const char *buf, fattr3 *attr);
// The ranges slots: several ranges of one file read or written by one set of calls in flight
// (at most kMostRanges ranges; the first is the range asked for).
void nfs3FileReadRanges(const char *host, nfs_fh3 *fh, NfsReadRange *ranges, unsigned n, fattr3 *attr);
void nfs3FileWriteRanges(const char *host, nfs_fh3 *fh, NfsWriteRange *ranges, unsigned n, fattr3 *attr);
// COMMIT of the whole file: 0 with the server's write verifier in verf, or -1. *attr follows
// the reply's weak cache consistency data.
int nfs3FileCommit(const char *host, nfs_fh3 *fh, writeverf3 verf, fattr3 *attr);

#endif
