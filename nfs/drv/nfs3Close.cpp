// The version 3 driver's close entry: the file's dirty data written back and committed, its
// cache lines detached and dropped (those of other descriptors of the same file stay), its
// directory batch and record released.
#include "drv/nfs3DrvEntries.h"
#include "drv/nfsDrvTransfer.h"

#include "core/nfsCacheFile.h"
#include "ops/nfs3PathOps.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

#include <cstdlib>

extern "C" int nfs3Close(NfsOpenFile *file)
{
    nfs3drv::FileLock lock(file);
    if (!lock.held())
        return -1;
    // Data lost earlier is reported before a failure of this write-back or of the COMMIT.
    const int error = nfs3drv::dataSafe(file, nfsdrv::closeWriteBack(file, 3));
    nfscache::fileLinesDrop(file->pCache, file, file->attr.fileid);
    // Without an RPC client of its own, the task's batch is released by the XDR routine alone.
    nfs3DirReplyRelease(file);
    std::free(file->fh.data.data_val);
    std::free(file->dirFh.data.data_val);
    std::free(file->cookie);
    NfsDevice *dev = file->pDev;
    const SEM_ID semId = file->semId;
    std::free(file);
    lock.forget();
    semDelete(semId); // deleted while held: a task still waiting for the file fails its take
    nfs3drv::openFileUncounted(dev);
    if (nfsAutoClose != 0)
        nfsClientClose();
    if (error != 0) {
        errnoSet(error);
        return -1;
    }
    return 0;
}
