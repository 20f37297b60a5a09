// The version-specific side of the cache: an open file's cache, identifier, host, handle and
// attributes, and the dispatch slots that move its data. Both versions' records have the same
// field names (pDev->host, fh, attr with fileid, pCache), so one template serves each.
#include "core/nfsCacheFile.h"

#include "core/nfsDispatch.h"

#include <brisnel/nfsDrvLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>

namespace nfscache {
namespace {

enum class Version { unknown, v2, v3 };

// Version 2 open files are not reachable yet: their record comes with the version 2 driver.
// Until then a version 2 file is treated as a file whose slots are empty.
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

int unusable(Version version)
{
    errnoSet(version == Version::unknown ? NFS_ERRNO_NOTSUPP : NFS_ERR_DISPATCH_SLOT_EMPTY);
    return -1;
}

} // namespace

bool fileView(void *file, int version, FileView *pView)
{
    const Version v = versionOf(version);
    if (v != Version::v3)
        return unusable(v) == 0;
    *pView = viewOf(static_cast<NfsOpenFile *>(file));
    return true;
}

void lossNote(void *owner, int version, int error)
{
    if (versionOf(version) != Version::v3 || owner == nullptr)
        return;
    auto *file = static_cast<NfsOpenFile *>(owner);
    if (file->lostErrno == 0)
        file->lostErrno = error != 0 ? error : NFS_ERRNO_BASE | NFS3ERR_IO;
}

int serverRead(void *file, int version, uint64_t offset, unsigned count, char *buf)
{
    const Version v = versionOf(version);
    if (v != Version::v3)
        return unusable(v);
    return throughSlot(pFuncNfs3FileRead, static_cast<NfsOpenFile *>(file), offset, count, buf);
}

int serverWrite(void *file, int version, uint64_t offset, unsigned count, const char *buf)
{
    const Version v = versionOf(version);
    if (v != Version::v3)
        return unusable(v);
    return throughSlot(pFuncNfs3FileWrite, static_cast<NfsOpenFile *>(file), offset, count,
                        buf);
}

} // namespace nfscache
