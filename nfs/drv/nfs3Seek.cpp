// Repositioning an open version 3 file: the dirty line this file leaves is written back first.
#include "drv/nfs3DrvEntries.h"
#include "drv/nfsDrvTransfer.h"

extern "C" int nfs3Seek(NfsOpenFile *file, uint64_t newPos)
{
    return nfsdrv::seekFlushed(file, file->attr.fileid, 3, newPos);
}
