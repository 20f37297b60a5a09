// Module-private: NFS version 4 as the data cache sees it, and the device and open-file records
// of its driver (nfs/drv/nfs4Driver.h). The records have the field names of the version 3 ones,
// so that the cache's and the shared driver's templates serve them as they are; a file's
// attributes are kept in a version 3 attribute record (the type numbers of regular files,
// folders and links are the same in both versions), its handle as an Nfs4Handle that carries
// the open's state id and the server's state to the data calls. The data go through the
// version 4 state layer (nfs/state), one COMPOUND per READ, WRITE or COMMIT.
#ifndef NFS_OPS_NFS4PROTOCOL_H
#define NFS_OPS_NFS4PROTOCOL_H

#include "core/nfsCallSettings.h"
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "core/nfsFileHandle.h"
#include "state/nfs4FileData.h"

#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfs4Drv.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsDrvLib.h>

#include <cstdint>

// A handle as the version 4 calls take it: the object's, with the state id of its open (all
// zeros, the anonymous one, for an object not opened) and the server's state.
struct Nfs4Handle {
    NfsFh fh;
    stateid4 stateid;
    Nfs4ClientState *state;
    Nfs4OpenEntry *open; // the open's registration (its state id after a reclaim), or null
};

// The open a handle names, as the state layer's calls take it.
inline Nfs4OpenFile nfs4OpenOf(const Nfs4Handle &fh)
{
    Nfs4OpenFile open;
    open.fh = fh.fh;
    open.stateid = fh.stateid;
    open.entry = fh.open;
    return open;
}

// A version 4 device: the version 3 device's fields (nfsDrvLib.h), the export's root, and its
// user of the server's state, held from the mount to the device's release.
struct Nfs4Device {
    DEV_HDR devHdr;               // first: the I/O system's device header
    char host[NFS_HOST_NAME_LEN]; // server host name
    Nfs4Handle mountFh;           // the export's root
    NfsDataCache cache;           // shared by every file open on the device
    char fileSys[NFS_MAX_PATH];   // exported path on the server
    int openFiles;                // files open on the device; an unmount waits for none
    NfsMountOptions options;      // what it was mounted with, the transfer sizes settled
    uint32_t minor;               // the minor version the state agreed, for the listing
};

// One page of a folder's names, held by the open folder between its reads.
struct Nfs4DirListing;

// A version 4 open file: the fields of the version 3 record (nfsDrvLib.h, same meanings),
// the open state it holds while open for data, and the folder listing of an open folder.
struct Nfs4File {
    Nfs4Device *pDev;
    SEM_ID semId;
    NfsDataCache *pCache;
    char name[NFS_MAX_PATH];
    uint64_t pos;
    int accessMode;
    Nfs4Handle fh; // with the open's state id while open for data
    Nfs4Handle dirFh;
    fattr3 attr;
    int lostErrno;
    int pendingErrno;
    int uncommitted;
    writeverf3 writeVerf;
    int appendWrites;
    void *dirSeen; // unused: a listing delivers each name of its pages once
    int dataOpen;
    uint64_t nextFill;
    int behindLines;
    Nfs4OpenFile open;       // the OPEN's state, given back at close; owner null when none
    Nfs4DirListing *listing; // folders: the page being read, or null
};

// Version 4 attributes as the drivers keep them (see above); owners and groups as nfs4IdOf
// gives them; the file system id folded into one word (a cache tag and a check, never sent).
fattr3 nfs4Fattr3Of(const Nfs4Attrs &attrs);

// The data calls, as the cache's version 3 slots are (nfsDispatch.h), through the handle's
// state: bytes moved or -1 with the error number set. No attributes are asked with them: a
// write raises *attr's size to the end it reached, and the file's identity in *attr stays as
// the open found it.
int nfs4FileRead(const char *host, Nfs4Handle *fh, uint64_t offset, unsigned count, char *buf, fattr3 *attr);
NfsWriteResult nfs4FileWriteRun(const char *host, Nfs4Handle *fh, uint64_t offset, unsigned count,
                                const char *buf, fattr3 *attr);
void nfs4FileReadRanges(const char *host, Nfs4Handle *fh, NfsReadRange *ranges, unsigned n, fattr3 *attr);
void nfs4FileWriteRanges(const char *host, Nfs4Handle *fh, NfsWriteRange *ranges, unsigned n, fattr3 *attr);
int nfs4FileCommit(const char *host, Nfs4Handle *fh, writeverf3 verf, fattr3 *attr);

struct Nfs4Protocol {
    static constexpr int version = 4;
    static int32_t &drvNum() { return nfs4DrvNum; }
    using File = Nfs4File;
    using Device = Nfs4Device;
    using Attr = fattr3;
    using Handle = Nfs4Handle;
    // The cache moves a file's data through these: version 4 has no other driver to stand
    // apart from, so they are the routines themselves rather than dispatch words.
    static auto readWord() { return &nfs4FileRead; }
    static auto writeWord() { return &nfs4FileWriteRun; }
    static auto readRangesWord() { return &nfs4FileReadRanges; }
    static auto writeRangesWord() { return &nfs4FileWriteRanges; }
    static auto commitWord() { return &nfs4FileCommit; }
    static constexpr bool commits = true;
    // Bytes of one READ and of one WRITE: the device's sizes, settled at its mount.
    static unsigned readMost() { return nfsCallReadSize(version); }
    static unsigned writeMost() { return nfsCallWriteSize(version); }
};

#endif
