// Module-private: what both versions' driver traits (nfs2Driver.h, nfs3Driver.h) have in the
// same form, made from the version's protocol traits (P, which name its records, its number
// and its driver's).
#ifndef NFS_DRV_NFSDRIVERTYPES_H
#define NFS_DRV_NFSDRIVERTYPES_H

#include "cache/nfsCacheFile.h"
#include "core/nfsFileHandle.h"
#include "core/nfsResult.h"
#include "ops/nfsAttrChange.h"
#include "ops/nfsNameOps.h"

#include <cstddef>
#include <cstdint>

template <typename P> struct NfsDriverTypes {
    using Protocol = P;
    using Device = typename P::Device;
    using File = typename P::File;
    using Attr = typename P::Attr;
    using Handle = typename P::Handle;
    static constexpr int version = P::version;

    static int32_t &drvNum() { return P::drvNum(); }
    // What identifies the file on its server, whatever the version.
    static NfsFh handleOf(const File &file) { return nfsFhOf(file.fh); }
    static NfsFsid fsidOf(const Attr &attr) { return NfsFsid{.major = attr.fsid, .minor = 0}; }
    // The cache tags a file's lines with its id (a version 2 id is 32-bit, the high word 0).
    static uint64_t cacheId(const Attr &attr) { return attr.fileid; }
    static bool isDirectory(const Attr &attr) { return P::isDirectory(attr); }
    // Removal, rename, links and attribute changes on the server: the operation's result (0, or
    // -2 with the path rewritten; a count for the link text), or its failure.
    static nfsres::Result<int> remove(Device *dev, char *path)
    {
        return nfsname::fileRemove<P>(dev->host, &dev->mountFh, path);
    }
    static nfsres::Result<int> rename(File *file, const char *newPath)
    {
        Device *dev = file->pDev;
        return nfsname::rename<P>(dev->host, &dev->mountFh, file->name, &file->dirFh, newPath);
    }
    // The file's size set on the server: the cache's bytes of the file go out first (whoever
    // wrote them), are committed, and are dropped, so none of them is read or written back
    // past the change. *attr is the file's attributes, updated.
    static nfsres::Result<int> sizeSet(Device *dev, const typename P::Handle &fh, uint64_t size, Attr *attr)
    {
        const nfsres::Result<int> settled = nfsres::viaErrno(
            [dev, attr] { return nfscache::fileSettle(&dev->cache, attr->fileid, version, true); });
        if (!settled.ok())
            return settled;
        NfsAttrChange change;
        change.size = size;
        return nfsres::zeroOr(P::attrSet(dev->host, fh, change, attr));
    }
    static nfsres::Result<int> attrSet(File *file, const NfsAttrChange &change)
    {
        return nfsres::zeroOr(P::attrSet(file->pDev->host, file->fh, change, &file->attr));
    }
    // The file's attributes from the server, after every cached byte of it went out: its size
    // is then the end an appended write goes to.
    static nfsres::Status attrFresh(File *file)
    {
        const nfsres::Result<int> settled = nfsres::viaErrno(
            [file] { return nfscache::fileSettle(file->pCache, file->attr.fileid, version, false); });
        if (!settled.ok())
            return settled.fail();
        return P::attrGet(file->pDev->host, file->fh, &file->attr);
    }
    // Renames the name oldPath gave to newName in the same folder, dir.
    static nfsres::Result<int> renameInPlace(Device *dev, const typename P::Handle &dir, const char *oldPath,
                                             const char *newName)
    {
        return nfsname::rename<P>(dev->host, &dev->mountFh, oldPath, &dir, newName);
    }
    static bool isRegular(const Attr &attr) { return !P::isDirectory(attr) && !P::isLink(attr); }
    static nfsres::Result<int> link(File *file, char *newPath)
    {
        Device *dev = file->pDev;
        return nfsname::linkMake<P>(dev->host, &dev->mountFh, file->fh, newPath);
    }
    static nfsres::Result<int> symlink(Device *dev, char *path, const char *target)
    {
        return nfsname::symlinkMake<P>(dev->host, &dev->mountFh, path, target);
    }
    static nfsres::Result<int> linkText(File *file, char *buffer, std::size_t size)
    {
        return P::linkTextGet(file->pDev->host, file->fh, buffer, size);
    }
    // A version 2 size is 32-bit: its positions stay below 4 GiB (reachable() sees to it).
    static void sizeRaise(File *file)
    {
        if (file->pos > file->attr.size)
            file->attr.size = static_cast<decltype(file->attr.size)>(file->pos);
    }
};

#endif
