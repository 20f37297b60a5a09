// Module-private: what both versions' driver traits (nfs2Driver.h, nfs3Driver.h) have in the
// same form, made from the version's protocol traits (P), records and driver number.
#ifndef NFS_DRV_NFSDRIVERTYPES_H
#define NFS_DRV_NFSDRIVERTYPES_H

#include "ops/nfsNameOps.h"

#include <cstdint>

template <typename P, typename DeviceT, typename FileT, int Version, int32_t *DrvNum> struct NfsDriverTypes {
    using Device = DeviceT;
    using File = FileT;
    using Attr = typename P::Attr;
    static constexpr int version = Version;

    static int32_t &drvNum() { return *DrvNum; }
    // The cache tags a file's lines with its id (a version 2 id is 32-bit, the high word 0).
    static uint64_t cacheId(const Attr &attr) { return attr.fileid; }
    static bool isDirectory(const Attr &attr) { return P::isDirectory(attr); }
    static int remove(Device *dev, char *path) { return nfsname::fileRemove<P>(dev->host, &dev->mountFh, path); }
    static int rename(File *file, const char *newPath)
    {
        Device *dev = file->pDev;
        return nfsname::rename<P>(dev->host, &dev->mountFh, file->name, &file->dirFh, newPath);
    }
    // A version 2 size is 32-bit: its positions stay below 4 GiB (reachable() sees to it).
    static void sizeRaise(File *file)
    {
        if (file->pos > file->attr.size)
            file->attr.size = static_cast<decltype(file->attr.size)>(file->pos);
    }
};

#endif
