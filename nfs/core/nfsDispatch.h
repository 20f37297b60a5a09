// The version dispatch table: nine module-private slots per protocol version, each holding a
// routine of its described type (and version 3's write with its verdict, COMMIT and the ranges
// slots beside them), filled by each
// version's driver installation and called by the mount front end, the device listing and the
// data cache, so that none of those depends on a driver. Null until the driver is installed;
// plain words read without locking.
#ifndef NFS_CORE_NFSDISPATCH_H
#define NFS_CORE_NFSDISPATCH_H

#include <brisnel/mount3Xdr.h>
#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs2Xdr.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsDrvLib.h>

#include <cstdint>

// What the WRITE replies of one write said of the data's safety: whether the server took some
// of it into volatile storage only (UNSTABLE, to be committed), the write verifier of those
// replies, and whether two of them carried different verifiers. Version 2 writes are stable:
// their verdict stays empty.
struct NfsWriteVerdict {
    bool unstable;
    bool verfChanged;
    writeverf3 verf;
};
// A write's result: the bytes written (or -1) and the verdict on them.
struct NfsWriteResult {
    int written;
    NfsWriteVerdict verdict;
};

// Data transfer: bytes moved (0 at end of file for reads) or -1; attr is updated from the reply.
using NfsFileRead3Fn = int (*)(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, char *buf,
                               fattr3 *attr);
using NfsFileWrite3Fn = int (*)(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count,
                                const char *buf, fattr3 *attr);
// The version 3 write with the verdict of its replies, which the cache needs for COMMIT.
using NfsFileWriteRun3Fn = NfsWriteResult (*)(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count,
                                              const char *buf, fattr3 *attr);
using NfsFileRead2Fn = int (*)(const char *host, nfs_fh2 *fh, uint64_t offset, unsigned count, char *buf,
                               fattr *attr);
using NfsFileWrite2Fn = int (*)(const char *host, nfs_fh2 *fh, uint64_t offset, unsigned count,
                                const char *buf, fattr *attr);
// Several byte ranges of one file moved by one set of calls in flight: the first is the range
// asked for, the others lines read ahead or written behind. Each range's outcome is its own:
// the bytes moved (or -1, with the error number of its failure in error); a failure of one
// range sends nothing more for it and leaves the others as they went.
struct NfsReadRange {
    uint64_t offset;
    unsigned count;
    char *buf;
    int received;
    int error;
};
struct NfsWriteRange {
    uint64_t offset;
    const char *buf;
    unsigned count;
    int error;
    NfsWriteResult result;
};
// The most ranges one call of a ranges slot takes.
constexpr unsigned kMostRanges = 16;
using NfsFileReadRanges3Fn = void (*)(const char *host, nfs_fh3 *fh, NfsReadRange *ranges, unsigned n,
                                      fattr3 *attr);
using NfsFileWriteRanges3Fn = void (*)(const char *host, nfs_fh3 *fh, NfsWriteRange *ranges, unsigned n,
                                       fattr3 *attr);
// Version 2: the same ranges; a write's verdict stays empty (its writes are stable).
using NfsFileReadRanges2Fn = void (*)(const char *host, nfs_fh2 *fh, NfsReadRange *ranges, unsigned n,
                                      fattr *attr);
using NfsFileWriteRanges2Fn = void (*)(const char *host, nfs_fh2 *fh, NfsWriteRange *ranges, unsigned n,
                                       fattr *attr);
// COMMIT of a whole version 3 file: 0 with the reply's verifier in verf, or -1.
using NfsFileCommit3Fn = int (*)(const char *host, nfs_fh3 *fh, writeverf3 verf, fattr3 *attr);
// The decoded MOUNT export list goes to *pExports; 0 or -1.
using NfsExportReadFn = int (*)(const char *host, exports *pExports);
using NfsHostFn = int (*)(const char *host);
using NfsDrvNumGetFn = int (*)();
using NfsDevInfoGet3Fn = int (*)(NfsDevice *dev, NfsDevInfo *pInfo);
using NfsDevInfoGet2Fn = int (*)(Nfs2Device *dev, NfsDevInfo *pInfo);
using NfsUnmountFn = int (*)(const char *host, const char *path);
using NfsMountFn = int (*)(const char *host, const char *fileSys, const char *devName);

// One version's half of the dispatch words, each member named after its word: the version's
// type holds it as a constexpr table (Nfs2Driver::dispatch, Nfs3Driver::dispatch), and the
// driver's installation copies it into the words (nfsDispatchFill).
template <typename WriteFn, typename ReadFn, typename DevInfoGetFn, typename ReadRangesFn,
          typename WriteRangesFn>
struct NfsDispatchHalf {
    WriteFn fileWrite;
    ReadFn fileRead;
    NfsExportReadFn exportRead;
    NfsHostFn mntDump;
    NfsHostFn unmountAll;
    NfsDrvNumGetFn drvNumGet;
    DevInfoGetFn devInfoGet;
    NfsUnmountFn unmount;
    NfsMountFn mount;
    ReadRangesFn fileReadRanges;
    WriteRangesFn fileWriteRanges;
};
using Nfs2Dispatch = NfsDispatchHalf<NfsFileWrite2Fn, NfsFileRead2Fn, NfsDevInfoGet2Fn, NfsFileReadRanges2Fn,
                                     NfsFileWriteRanges2Fn>;
// Version 3 has besides its write with the verdict and COMMIT.
struct Nfs3Dispatch {
    NfsDispatchHalf<NfsFileWrite3Fn, NfsFileRead3Fn, NfsDevInfoGet3Fn, NfsFileReadRanges3Fn,
                    NfsFileWriteRanges3Fn>
        words;
    NfsFileWriteRun3Fn fileWriteRun;
    NfsFileCommit3Fn fileCommit;
};
// Version 4 has a mount, an unmount of all a host's devices and the removal of one device (no
// server to tell; the caller holds the device-removal lock) for the mount front end.
using NfsDevRemoveFn = int (*)(void *dev);
struct Nfs4Dispatch {
    NfsMountFn mount;
    NfsHostFn unmountAll;
    NfsDevRemoveFn remove;
};
void nfsDispatchFill(const Nfs2Dispatch &table);
void nfsDispatchFill(const Nfs4Dispatch &table);
void nfsDispatchFill(const Nfs3Dispatch &table);

extern NfsFileWrite3Fn pFuncNfs3FileWrite;
extern NfsFileRead3Fn pFuncNfs3FileRead;
extern NfsFileWriteRun3Fn pFuncNfs3FileWriteRun;
extern NfsFileCommit3Fn pFuncNfs3FileCommit;
extern NfsFileReadRanges3Fn pFuncNfs3FileReadRanges;
extern NfsFileWriteRanges3Fn pFuncNfs3FileWriteRanges;
extern NfsFileReadRanges2Fn pFuncNfs2FileReadRanges;
extern NfsFileWriteRanges2Fn pFuncNfs2FileWriteRanges;
extern NfsFileWrite2Fn pFuncNfs2FileWrite;
extern NfsFileRead2Fn pFuncNfs2FileRead;
extern NfsExportReadFn pFuncNfs3ExportRead;
extern NfsExportReadFn pFuncNfs2ExportRead;
extern NfsHostFn pFuncNfs3MntDump;
extern NfsHostFn pFuncNfs2MntDump;
extern NfsHostFn pFuncNfs3UnmountAll;
extern NfsHostFn pFuncNfs2UnmountAll;
extern NfsDrvNumGetFn pFuncNfs3DrvNumGet;
extern NfsDrvNumGetFn pFuncNfs2DrvNumGet;
extern NfsDevInfoGet3Fn pFuncNfs3DevInfoGet;
extern NfsDevInfoGet2Fn pFuncNfs2DevInfoGet;
extern NfsUnmountFn pFuncNfs3Unmount;
extern NfsUnmountFn pFuncNfs2Unmount;
extern NfsMountFn pFuncNfs3Mount;
extern NfsMountFn pFuncNfs2Mount;
extern NfsMountFn pFuncNfs4Mount;
extern NfsHostFn pFuncNfs4UnmountAll;
extern NfsDevRemoveFn pFuncNfs4Remove;

#endif
