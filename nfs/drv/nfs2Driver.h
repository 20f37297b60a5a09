// Module-private: NFS version 2 as the shared driver (nfsDrv*.h) sees it. Handles are 32 bytes
// held inline; every LOOKUP and CREATE reply carries the object's handle and attributes;
// positions and sizes are 32-bit on the wire; there is no COMMIT, so the data is safe once
// written back; the ioctl codes are those of version 3 less removal by path, the 64-bit
// position codes and path configuration.
#ifndef NFS_DRV_NFS2DRIVER_H
#define NFS_DRV_NFS2DRIVER_H

#include "core/nfsCallSettings.h"
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "drv/nfsDriverTypes.h"
#include "drv/nfsDrvMount.h"
#include "drv/nfsDrvRecords.h"
#include "drv/nfsDrvTransfer.h"
#include "drv/nfsVersion.h"
#include "ops/nfs2Call.h"
#include "ops/nfs2Protocol.h"
#include "rpc/nfsRpcClient.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs2Ops.h>
#include <brisnel/nfsMountLib.h>
#include <kernel/kernelStat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

struct Nfs2Driver : NfsDriverTypes<Nfs2Protocol> {

    // One look-up's (or create's) result and the directory that holds the object: one diropres
    // serves both, always with handle and attributes.
    class Lookup {
    public:
        // 0, or -2 with the path rewritten at a link.
        nfsres::Result<int> run(Nfs2Device *dev, char *path, bool stopAtLink = false)
        {
            return nfsname::lookUpByName<Nfs2Protocol>(dev->host, path, &dev->mountFh, &res_, &dirFh_,
                                                       stopAtLink ? 1 : 0);
        }
        // The look-up left the deepest directory it reached in dirFh: the parent to create in.
        nfsres::Result<int> create(Nfs2Device *dev, char *path, int mode, bool exclusive)
        {
            return nfsname::thingCreate<Nfs2Protocol>(dev->host, path, &dev->mountFh, &res_, &dirFh_, mode,
                                                      exclusive);
        }
        const fattr &attr() const { return res_.diropres_u.diropres.attributes; }
        const nfs_fh2 &object() const { return res_.diropres_u.diropres.file; }
        const nfs_fh2 &dir() const { return dirFh_; }
        bool walked() const { return attr().type != NFNON; }

    private:
        diropres res_{};
        nfs_fh2 dirFh_{};
    };

    static nfsres::Result<Nfs2OpenFile *> recordBuild(Nfs2Device *dev, const char *path, int accessMode,
                                                      const Lookup &found)
    {
        Nfs2OpenFile *file = nfsdrv::recordNew<Nfs2OpenFile>(dev, path, accessMode);
        if (file == nullptr)
            return nfsres::Fail{K_ENOMEM};
        std::memcpy(file->fh, found.object(), NFS_FHSIZE);
        std::memcpy(file->dirFh, found.dir(), NFS_FHSIZE);
        file->attr = found.attr();
        return file;
    }
    static void recordParts(Nfs2OpenFile *file) { nfs2DirReplyRelease(file); }
    // No COMMIT: the data is safe once written back, unless some of it was lost before.
    static int dataSafe(Nfs2OpenFile *file, int writeBackError)
    {
        const int lost = nfsdrv::lossRecorded(file);
        return lost != 0 ? lost : writeBackError;
    }
    // A request reaching past 4 GiB fails before anything moves, rather than wrap to the start.
    static nfsres::Status reachable(uint64_t pos, uint64_t count)
    {
        return nfsres::statusOf(nfs2ops::inReach(pos, count), NFS_ERRNO_BASE | NFSERR_FBIG);
    }
    static void fileAttrGet(const fattr *attr, struct kstat *pStat) { nfs2FileAttrGet(attr, pStat); }
    static nfsres::Result<int> dirReadOne(Nfs2OpenFile *file, KDIR *pDir)
    {
        return nfsres::zeroOr(Nfs2Protocol::dirReadOne(file, pDir));
    }
    static nfsres::Result<int> fsAttrGet(Nfs2OpenFile *file, struct kstatfs *p)
    {
        return nfsres::zeroOr(Nfs2Protocol::fsAttrGet(file->pDev->host, file->fh, p));
    }
    static nfsres::Result<int> pathconf(Nfs2OpenFile * /*file*/, int * /*pSelector*/) // never served
    {
        return nfsres::Fail{K_ENOSYS};
    }
    static constexpr bool servesPaths = false;

    static nfsres::Result<int> cacheAlloc(NfsDataCache *cache)
    {
        return nfsres::viaErrno([cache] {
            return nfsCacheAlloc(cache, nfsCallLines(nfs2MaxCacheLines),
                                 nfsCallLineSize(nfs2BytesPerCacheLine), nfs2CacheOptions);
        });
    }
    static bool deviceParts(Nfs2Device * /*dev*/) { return true; } // the root handle is inline
    static nfsres::Status dirMount(const char *host, const char *fileSys, Nfs2Device *dev)
    {
        return Nfs2Protocol::dirMount(host, fileSys, reinterpret_cast<unsigned char *>(dev->mountFh));
    }
    // No FSINFO: the device's own sizes stay within a version 2 message.
    static void limitsTune(const char * /*host*/, Nfs2Device *dev)
    {
        const uint32_t limit = std::min<uint32_t>(NFS_MAXDATA, nfsRpcTransferLimit(nfsRpcCurrentTransport()));
        nfsdrv::sizesSettle(&dev->options, limit, limit, limit, limit);
    }
    static nfsres::Status mntUnmountAll(const char *host) { return Nfs2Protocol::mntUnmountAll(host); }
    static void deviceRelease(Nfs2Device *dev)
    {
        nfsRpcDeviceRelease(dev);
        if (dev->cache.semId != nullptr) // a cache never allocated has nothing to free
            nfsCacheFree(&dev->cache);
        std::free(dev);
    }

    // The version 2 half of the dispatch words.
    static constexpr Nfs2Dispatch dispatch{.fileWrite = nfs2FileWrite,
                                           .fileRead = nfs2FileRead,
                                           .exportRead = nfs2ExportRead,
                                           .mntDump = nfs2MntDump,
                                           .unmountAll = nfs2UnmountAll,
                                           .drvNumGet = nfs2DrvNumGet,
                                           .devInfoGet = nfs2DevInfoGet,
                                           .unmount = nfs2DirUnmount,
                                           .mount = nfs2Mount,
                                           .fileReadRanges = nfs2FileReadRanges,
                                           .fileWriteRanges = nfs2FileWriteRanges};
};
static_assert(NfsVersion<Nfs2Driver>);

#endif
