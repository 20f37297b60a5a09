// Making a version 3 file's data safe on the server: the writes it holds in volatile storage
// only are committed, and data lost on the way is reported.
#include "drv/nfs3DrvEntries.h"
#include "drv/nfsDrvTransfer.h"

#include "core/nfsCacheFile.h"
#include "ops/nfs3Data.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <cstring>

namespace {

int errorOr(int error, int fallback) { return error != 0 ? error : fallback; }

int unstableCommit(NfsOpenFile *file)
{
    const nfsdrv::CacheHold hold(file->pCache);
    if (file->uncommitted == 0)
        return 0;
    writeverf3 verf{};
    if (nfs3FileCommit(file->pDev->host, &file->fh, verf, &file->attr) != 0)
        return errorOr(errnoGet(), K_EIO); // still uncommitted: a later sync asks again
    file->uncommitted = 0;
    if (std::memcmp(verf, file->writeVerf, sizeof verf) == 0)
        return 0;
    // The server restarted since those writes and may have lost them. The file's cached lines
    // may show bytes it no longer holds: reads go to the server from now on.
    nfscache::lossNote(file, 3, K_EIO);
    nfscache::fileLinesDrop(file->pCache, file, file->attr.fileid);
    return K_EIO;
}

} // namespace

namespace nfs3drv {

int dataSafe(NfsOpenFile *file, int writeBackError)
{
    const int commitError = writeBackError == 0 ? unstableCommit(file) : 0;
    const int lost = nfsdrv::lossRecorded(file);
    if (lost != 0)
        return lost;
    return writeBackError != 0 ? writeBackError : commitError;
}

} // namespace nfs3drv
