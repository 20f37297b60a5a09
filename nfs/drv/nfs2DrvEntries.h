// Module-private: what the version 2 driver's file entries (declared in nfs2Drv.h) share with
// each other. The record helpers and the file lock are the version 3 driver's (nfs3DrvEntries.h).
//
// Locks as in version 3: each open file's semaphore serialises read, write, ioctl and close on
// that file; the device's cache mutex comes after it; the count of open files is changed and
// read under taskLock.
#ifndef NFS_DRV_NFS2DRVENTRIES_H
#define NFS_DRV_NFS2DRVENTRIES_H

#include "drv/nfs3DrvEntries.h"

#include <brisnel/nfs2Drv.h>

#include <cstdint>

namespace nfs2drv {

using nfs3drv::FileLock;
using nfs3drv::HeapBlock;

// The cache tags a version 2 file's lines with its 32-bit id, the high word 0.
inline uint64_t cacheId(const fattr &attr) { return attr.fileid; }

// Moves the position, first writing back this file's dirty line at the old one when the new
// position maps to another line; 0, or -1 with the position unchanged.
int seek(Nfs2OpenFile *file, uint64_t newPos);

void openFileCounted(Nfs2Device *dev);
void openFileUncounted(Nfs2Device *dev);

} // namespace nfs2drv

#endif
