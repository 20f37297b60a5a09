// The version-specific side of the cache: an open file's cache, identifier, host, handle and
// attributes, and the dispatch slots that move its data. Both versions' records have the same
// field names (pDev->host, fh, attr with fileid, pCache), so one template serves each.
#include "core/nfsCacheFile.h"

#include "core/nfsDispatch.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfsDrvLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>

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
// attributes.
template <typename OpenFile, typename Slot, typename Data>
int throughSlot(Slot slot, OpenFile *file, uint64_t offset, unsigned count, Data *buf)
{
    if (slot == nullptr) {
        errnoSet(NFS_ERR_DISPATCH_SLOT_EMPTY);
        return -1;
    }
    return slot(file->pDev->host, &file->fh, offset, count, buf, &file->attr);
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

int serverWrite(void *file, int version, uint64_t offset, unsigned count, const char *buf)
{
    switch (versionOf(version)) {
    case Version::v3:
        return throughSlot(pFuncNfs3FileWrite, static_cast<NfsOpenFile *>(file), offset, count, buf);
    case Version::v2:
        return throughSlot(pFuncNfs2FileWrite, static_cast<Nfs2OpenFile *>(file), offset, count, buf);
    default:
        return unusable();
    }
}

} // namespace nfscache
