// Module-private: NFS version 4 as the shared driver (nfsDrv*.h) sees it. Paths are walked one
// LOOKUP at a time from the export's root; a regular file opened for data holds an OPEN of the
// server's (given back at its close, after its data is safe), whose state id its READs,
// WRITEs and size changes carry; COMMIT follows version 3's verifier rules through the cache.
// The device holds a user of the server's version 4 state from its mount to its release.
// Hard links (LINK), symbolic links (CREATE of a link, READLINK) and the file system's figures
// (GETATTR of its space, file slots and limits) are served as version 3 serves them; a link
// met inside a path is followed as over version 3 (the path rewritten, K_FOLLOW_LINK).
// Record locks are the protocol's own (LOCK, LOCKT, LOCKU), one lock-owner per task.
#ifndef NFS_DRV_NFS4DRIVER_H
#define NFS_DRV_NFS4DRIVER_H

#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "drv/nfsDrvRecords.h"
#include "drv/nfsVersion.h"
#include "ops/nfs4Protocol.h"

#include <brisnel/nfs3Ops.h>
#include <brisnel/nfs4Drv.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <cstdint>
#include <optional>

struct Nfs4Driver {
    using Protocol = Nfs4Protocol;
    using Device = Nfs4Device;
    using File = Nfs4File;
    using Attr = fattr3;
    using Handle = Nfs4Handle;
    static constexpr int version = Nfs4Protocol::version;
    static int32_t &drvNum() { return Nfs4Protocol::drvNum(); }
    static NfsFh handleOf(const File &file) { return file.fh.fh; }
    static NfsFsid fsidOf(const Attr &attr) { return NfsFsid{.major = attr.fsid, .minor = 0}; }
    static uint64_t cacheId(const Attr &attr) { return attr.fileid; }
    static bool isDirectory(const Attr &attr) { return attr.type == NF3DIR; }
    static bool isRegular(const Attr &attr) { return attr.type == NF3REG; }

    // One walk's result: the object's handle and attributes and the folder holding it. A file
    // that create() made is open (OPEN with create): the open goes to the record built from
    // the result, or is given back when the result goes without one.
    class Lookup {
    public:
        Lookup() = default;
        Lookup(const Lookup &) = delete;
        Lookup &operator=(const Lookup &) = delete;
        ~Lookup();
        // 0, or K_FOLLOW_LINK with PATH rewritten through a link; a missing last component
        // fails with NFS4ERR_NOENT's number, its folder found.
        nfsres::Result<int> run(Nfs4Device *dev, char *path, bool stopAtLink = false);
        // The last component made in the folder found: a folder (K_S_IFDIR in mode) or a file,
        // opened for reading and writing. exclusive: refused (EXIST) when the name exists.
        nfsres::Result<int> create(Nfs4Device *dev, char *path, int mode, bool exclusive);
        const fattr3 &attr() const { return attr_; }
        const Nfs4Handle &object() const { return object_; }
        const Nfs4Handle &dir() const { return dir_; }
        bool walked() const { return !object_.fh.empty(); }
        // The open create() made, handed over once (to the record, which the shared open
        // builds from a result it holds as const).
        std::optional<Nfs4OpenFile> takeOpen() const;

    private:
        Nfs4Handle object_{};
        Nfs4Handle dir_{};
        fattr3 attr_{};
        bool dirFound_ = false; // the folder of the last component was reached
        mutable std::optional<Nfs4OpenFile> created_;
    };

    static nfsres::Result<Nfs4File *> recordBuild(Nfs4Device *dev, const char *path, int accessMode,
                                                  const Lookup &found);
    // A regular file opened for data gets its OPEN (unless its creation made one), with the
    // access its mode needs.
    static nfsres::Status dataOpen(Nfs4File *file);
    // The open's locks, and the closing task's on the file, released; then the open given back.
    static void recordParts(Nfs4File *file);

    // The lock codes (K_FIOGETLK, K_FIOSETLK, K_FIOSETLKW) on an open file, by the protocol's
    // LOCK, LOCKT and LOCKU (nfs4DriverLock.cpp); the file's semaphore is not held by the caller.
    static nfsres::Result<int> lockServe(Nfs4File *file, int function, intptr_t arg);
    // A lock held through the file's open that the server did not give back after a restart:
    // K_ENOLCK, once per descriptor, on its next read, write, lock, sync or close, so that no
    // lock is lost unnoticed (nfs4DriverLock.cpp).
    static nfsres::Status locksLost(Nfs4File *file);
    // At a close: the closing task's locks on the file and every lock through its open.
    static void locksRelease(Nfs4File *file);

    static nfsres::Result<int> remove(Nfs4Device *dev, char *path);
    static nfsres::Result<int> rename(Nfs4File *file, const char *newPath);
    static nfsres::Result<int> renameInPlace(Nfs4Device *dev, const Nfs4Handle &dir, const char *oldPath,
                                             const char *newName);
    static nfsres::Result<int> sizeSet(Nfs4Device *dev, const Nfs4Handle &fh, uint64_t size, fattr3 *attr);
    static nfsres::Result<int> attrSet(Nfs4File *file, const NfsAttrChange &change);
    static nfsres::Status attrFresh(Nfs4File *file);
    // A further name, newPath, for the file; a symbolic link at path holding target as it
    // stands; the text of the link the file is (at most size bytes, not terminated: the count).
    static nfsres::Result<int> link(Nfs4File *file, char *newPath);
    static nfsres::Result<int> symlink(Nfs4Device *dev, char *path, const char *target);
    static nfsres::Result<int> linkText(Nfs4File *file, char *buffer, std::size_t size);
    static void fileAttrGet(const fattr3 *attr, struct kstat *pStat) { nfs3FileAttrGet(attr, pStat); }
    static int dataSafe(Nfs4File *file, int writeBackError);
    static nfsres::Status reachable(uint64_t pos, uint64_t count)
    {
        return nfsres::statusOf(pos + count >= pos, NFS_ERRNO_BASE | NFS4ERR_FBIG);
    }
    static void sizeRaise(Nfs4File *file)
    {
        if (file->pos > file->attr.size)
            file->attr.size = file->pos;
    }
    static nfsres::Result<int> dirReadOne(Nfs4File *file, KDIR *pDir);
    // The open folder's page of names released.
    static void listingRelease(Nfs4File *file);
    // The file system's status record and path configuration, from its figures (nfs4FsFigures.h)
    // as version 3's come from FSSTAT and PATHCONF.
    static nfsres::Result<int> fsAttrGet(Nfs4File *file, struct kstatfs *pFsStat);
    static nfsres::Result<int> pathconf(Nfs4File *file, int *pSelector);
    static constexpr bool servesPaths = true;

    static nfsres::Result<int> cacheAlloc(NfsDataCache *cache)
    {
        return nfsres::viaErrno([cache] {
            return nfsCacheAlloc(cache, nfsCallLines(nfs3MaxCacheLines),
                                 nfsCallLineSize(nfs3BytesPerCacheLine), nfs3CacheOptions);
        });
    }
    static bool deviceParts(Nfs4Device *) { return true; }
    // A user of the server's state, and the export's root walked to.
    static nfsres::Status dirMount(const char *host, const char *fileSys, Nfs4Device *dev);
    // The transfer sizes from the server's maxread and maxwrite (1 MiB at most), and the cache's
    // lines made to hold a transfer each.
    static void limitsTune(const char *host, Nfs4Device *dev);
    static nfsres::Status mntUnmountAll(const char *) { return {}; } // no MOUNT service to tell
    static void deviceRelease(Nfs4Device *dev);

    // One device out of the I/O system and released (the caller holds the removal lock).
    static int deviceRemove(void *dev);
    static constexpr Nfs4Dispatch dispatch{
        .mount = nfs4Mount, .unmountAll = nfs4UnmountAll, .remove = deviceRemove};
};
static_assert(NfsVersion<Nfs4Driver>);

#endif
