// Module-private: NFS version 3 as the shared driver (nfsDrv*.h) sees it. Handles are a length
// and a 64-byte buffer the holder owns; a LOOKUP or CREATE reply may leave the attributes or
// the handle out; positions are 64-bit; writes that went out UNSTABLE are committed before a
// sync or close reports the data safe; the ioctl codes include removal by path, the 64-bit
// position codes and path configuration.
#ifndef NFS_DRV_NFS3DRIVER_H
#define NFS_DRV_NFS3DRIVER_H

#include "core/nfsCallSettings.h"
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "drv/nfsDriverTypes.h"
#include "drv/nfsDrvRecords.h"
#include "drv/nfsVersion.h"
#include "ops/nfs3Data.h"
#include "ops/nfs3PathOps.h"
#include "ops/nfs3Protocol.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/kernelStat.h>

#include <array>
#include <cstdint>

struct Nfs3Driver : NfsDriverTypes<Nfs3Protocol> {
    static void fileAttrGet(const fattr3 *attr, struct kstat *pStat) { nfs3FileAttrGet(attr, pStat); }

    // One look-up's result: the object's handle and attributes, and the directory that holds
    // it, each handle in a buffer of its own. After a successful run the attributes are
    // defined whether or not marked present (the look-up fetches missing ones).
    class Lookup {
    public:
        Lookup();
        Lookup(const Lookup &) = delete;
        Lookup &operator=(const Lookup &) = delete;
        // stopAtLink: a symbolic link as last component is the object found, not followed.
        // 0, or -2 with the path rewritten at a link.
        nfsres::Result<int> run(NfsDevice *dev, char *path, bool stopAtLink = false);
        // Creates the last component in the directory found; 0 or -2. The object becomes
        // the new file (looked up again when the reply carries no handle).
        // exclusive: refused (EXIST) when the name exists by then, atomically on the server.
        nfsres::Result<int> create(NfsDevice *dev, char *path, int mode, bool exclusive);
        const fattr3 &attr() const
        {
            return res_.LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes;
        }
        const nfs_fh3 &object() const { return res_.LOOKUP3res_u.resok.object; }
        const nfs_fh3 &dir() const { return dirFh_; }
        // A path without components leaves the result empty.
        bool walked() const { return object().data.data_len != 0; }

    private:
        std::array<char, NFS3_FHSIZE> objectBytes_{};
        std::array<char, NFS3_FHSIZE> dirBytes_{};
        LOOKUP3res res_{};
        nfs_fh3 dirFh_{};
    };

    // The record for the file found, with handle buffers of its own and, for a directory, the
    // cookie buffer; a failure when memory runs out or a handle is unusable.
    static nfsres::Result<NfsOpenFile *> recordBuild(NfsDevice *dev, const char *path, int accessMode,
                                                     const Lookup &found);
    // What the record holds besides itself: handle and cookie buffers, the directory batch.
    static void recordParts(NfsOpenFile *file);
    // COMMIT of what went out UNSTABLE, after a write-back that ended with writeBackError (0 for
    // none): 0 when all the file's acknowledged data is safe, else the first error of: a loss
    // recorded earlier, the write-back's, the COMMIT's, K_EIO for a server restart.
    static int dataSafe(NfsOpenFile *file, int writeBackError);
    // The request fits the 64-bit positions; else false with the file-too-large status.
    static nfsres::Status reachable(uint64_t pos, uint64_t count);

    static nfsres::Result<int> dirReadOne(NfsOpenFile *file, KDIR *pDir)
    {
        return nfsres::zeroOr(Nfs3Protocol::dirReadOne(file, pDir));
    }
    static nfsres::Result<int> fsAttrGet(NfsOpenFile *file, struct kstatfs *p)
    {
        return nfsres::zeroOr(Nfs3Protocol::fsAttrGet(file->pDev->host, file->fh, p));
    }
    static nfsres::Result<int> pathconf(NfsOpenFile *file, int *pSelector);
    static constexpr bool servesPaths = true; // removal by path, 64-bit positions, pathconf

    // Mounting: the root handle into the device's buffer, then the server's transfer limits.
    static nfsres::Result<int> cacheAlloc(NfsDataCache *cache)
    {
        return nfsres::viaErrno([cache] {
            return nfsCacheAlloc(cache, nfsCallLines(nfs3MaxCacheLines),
                                 nfsCallLineSize(nfs3BytesPerCacheLine), nfs3CacheOptions);
        });
    }
    static bool deviceParts(NfsDevice *dev);
    static nfsres::Status dirMount(const char *host, const char *fileSys, NfsDevice *dev)
    {
        return Nfs3Protocol::dirMount(host, fileSys, &dev->mountFh);
    }
    static void limitsTune(const char *host, NfsDevice *dev);
    static nfsres::Status mntUnmountAll(const char *host) { return Nfs3Protocol::mntUnmountAll(host); }
    static void deviceRelease(NfsDevice *dev);

    // The version 3 half of the dispatch words.
    static constexpr Nfs3Dispatch dispatch{.words = {.fileWrite = nfs3FileWrite,
                                                     .fileRead = nfs3FileRead,
                                                     .exportRead = nfs3ExportRead,
                                                     .mntDump = nfs3MntDump,
                                                     .unmountAll = nfs3UnmountAll,
                                                     .drvNumGet = nfs3DrvNumGet,
                                                     .devInfoGet = nfs3DevInfoGet,
                                                     .unmount = nfs3DirUnmount,
                                                     .mount = nfs3Mount,
                                                     .fileReadRanges = nfs3FileReadRanges,
                                                     .fileWriteRanges = nfs3FileWriteRanges},
                                           .fileWriteRun = nfs3FileWriteRun,
                                           .fileCommit = nfs3FileCommit};
};
static_assert(NfsVersion<Nfs3Driver>);

#endif
