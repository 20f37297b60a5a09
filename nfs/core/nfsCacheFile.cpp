// The version-specific side of the cache: an open file's cache, identifier, host, handle and
// attributes, and the dispatch slots that move its data. Both versions' records have the same
// field names (pDev->host, fh, attr with fileid, pCache), so one template serves each.
#include "core/nfsCacheFile.h"

#include "core/nfsDispatch.h"
#include "ops/nfs3Data.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfsDrvLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <cstring>

namespace nfscache {
namespace {

enum class Version { unknown, v2, v3 };

Version versionOf(int version)
{
    switch (version) {
    case 2:
        return Version::v2;
    case 3:
        return Version::v3;
    default:
        return Version::unknown;
    }
}

template <typename OpenFile>
FileView viewOf(OpenFile *file)
{
    return FileView{file->pCache, static_cast<uint64_t>(file->attr.fileid)};
}

// Calls a read or write slot (Data is char or const char) with the file's host, handle and
// attributes; for another task's eviction the reply's attributes go to a record of its own.
template <typename OpenFile, typename Slot, typename Data>
int throughSlot(Slot slot, OpenFile *file, uint64_t offset, unsigned count, Data *buf,
                Caller caller = Caller::owner)
{
    if (slot == nullptr) {
        errnoSet(NFS_ERR_DISPATCH_SLOT_EMPTY);
        return -1;
    }
    // Only the id is read from the owner's record: it changes under the cache's mutex alone.
    decltype(file->attr) aside{};
    aside.fileid = file->attr.fileid;
    return slot(file->pDev->host, &file->fh, offset, count, buf,
                caller == Caller::owner ? &file->attr : &aside);
}

// Keeps what a COMMIT needs of writes the server holds in volatile storage only. Replies with
// different verifiers mean the server restarted in between: what it held of the earlier ones
// may be gone.
void unstableNote(NfsOpenFile *file, const Nfs3WriteVerdict &verdict)
{
    if (!verdict.unstable)
        return;
    const bool restarted = verdict.verfChanged ||
                           (file->uncommitted != 0 &&
                            std::memcmp(file->writeVerf, verdict.verf, sizeof file->writeVerf) != 0);
    if (restarted)
        lossNote(file, 3, K_EIO);
    std::memcpy(file->writeVerf, verdict.verf, sizeof file->writeVerf);
    file->uncommitted = 1;
}

int unusable()
{
    errnoSet(NFS_ERRNO_NOTSUPP);
    return -1;
}

template <typename OpenFile> void lossNoteIn(OpenFile *file, int error)
{
    if (file->lostErrno == 0)
        file->lostErrno = error != 0 ? error : NFS_ERRNO_BASE | NFS3ERR_IO;
}

} // namespace

bool fileView(void *file, int version, FileView *pView)
{
    switch (versionOf(version)) {
    case Version::v3:
        *pView = viewOf(static_cast<NfsOpenFile *>(file));
        return true;
    case Version::v2:
        *pView = viewOf(static_cast<Nfs2OpenFile *>(file));
        return true;
    default:
        return unusable() == 0;
    }
}

void lossNote(void *owner, int version, int error)
{
    if (owner == nullptr)
        return;
    switch (versionOf(version)) {
    case Version::v3:
        lossNoteIn(static_cast<NfsOpenFile *>(owner), error);
        break;
    case Version::v2:
        lossNoteIn(static_cast<Nfs2OpenFile *>(owner), error);
        break;
    default:
        break;
    }
}

int serverRead(void *file, int version, uint64_t offset, unsigned count, char *buf)
{
    switch (versionOf(version)) {
    case Version::v3:
        return throughSlot(pFuncNfs3FileRead, static_cast<NfsOpenFile *>(file), offset, count, buf);
    case Version::v2:
        return throughSlot(pFuncNfs2FileRead, static_cast<Nfs2OpenFile *>(file), offset, count, buf);
    default:
        return unusable();
    }
}

int serverWrite(void *file, int version, uint64_t offset, unsigned count, const char *buf,
                Caller caller)
{
    switch (versionOf(version)) {
    case Version::v3: {
        auto *v3File = static_cast<NfsOpenFile *>(file);
        nfs3WriteVerdictReset();
        const int written = throughSlot(pFuncNfs3FileWrite, v3File, offset, count, buf, caller);
        if (written >= 0)
            unstableNote(v3File, nfs3WriteVerdict());
        return written;
    }
    case Version::v2:
        return throughSlot(pFuncNfs2FileWrite, static_cast<Nfs2OpenFile *>(file), offset, count,
                           buf, caller);
    default:
        return unusable();
    }
}

} // namespace nfscache
