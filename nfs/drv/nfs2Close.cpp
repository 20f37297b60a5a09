// The version 2 driver's close entry: as in version 3, the file's dirty data written back, its
// cache lines detached and dropped (those of other descriptors of the same file stay), its
// directory batch and record released. No handle or
// cookie buffers: the version 2 record holds its handles inline.
#include "drv/nfs2DrvEntries.h"
#include "drv/nfsDrvTransfer.h"

#include "core/nfsCacheFile.h"
#include "ops/nfs2Call.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

#include <cstdlib>

extern "C" int nfs2Close(Nfs2OpenFile *file)
{
    nfs2drv::FileLock lock(file);
    if (!lock.held())
        return -1;
    // Data lost earlier is reported before a failure of this write-back.
    const int flushError = nfsdrv::closeWriteBack(file, 2);
    const int lost = nfsdrv::lossRecorded(file);
    const int error = lost != 0 ? lost : flushError;
    nfscache::fileLinesDrop(file->pCache, file, nfs2drv::cacheId(file->attr));
    nfs2DirReplyRelease(file);
    Nfs2Device *dev = file->pDev;
    const SEM_ID semId = file->semId;
    std::free(file);
    lock.forget();
    semDelete(semId); // deleted while held: a task still waiting for the file fails its take
    nfs2drv::openFileUncounted(dev);
    if (nfsAutoClose != 0)
        nfsClientClose();
    if (error != 0) {
        errnoSet(error);
        return -1;
    }
    return 0;
}
