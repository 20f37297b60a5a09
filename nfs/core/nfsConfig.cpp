// The module's configuration words with their values at load, and the cache geometry setters.
#include "core/nfsConfig.h"

#include <kernel/semLib.h>

int32_t nfs3WriteStable = 0;
int32_t nfs3MaxCacheLines = 0;
int32_t nfs3BytesPerCacheLine = 0;
int32_t nfs3CacheOptions = 0;
int32_t nfs2MaxCacheLines = 0;
int32_t nfs2BytesPerCacheLine = 0;
int32_t nfs2CacheOptions = 0;
int32_t nfs3DrvNum = -1;
int32_t nfs2DrvNum = -1;
int32_t nfs4DrvNum = -1;
// Priority queuing, deletion safe, priority-inversion safe.
int32_t mutexOptionsNfsDrv =
    SEM_Q_PRIORITY | SEM_DELETE_SAFE | SEM_INVERSION_SAFE; // 13, the open files' semaphores
int32_t nfsInstalled = 0;
const int32_t nfsMaxPath = NFS_MAX_PATH;

extern "C" {

int nfsAutoClose = 0;
int32_t nfs3MaxRddirSz = 512;
uint32_t nfs3MaxMsgLen = 8192;
uint32_t nfs2MaxMsgLen = 8192;
int32_t nfsSockBufSize = 10000;
int32_t nfsReXmitSec = 5;
int32_t nfsReXmitUSec = 0;
int32_t nfsTimeoutSec = 25;
int32_t nfsTimeoutUSec = 0;
int32_t nfsTransport = NFS_TRANSPORT_UDP_WHERE_OFFERED;
int32_t nfsMaxInFlight = 4;
int32_t nfsVersion = 0;
int32_t nfsPortmapWaitSec = 3;

void nfs2CacheParamsSet(int lines, int bytesPerLine, int options)
{
    nfs2MaxCacheLines = lines;
    nfs2BytesPerCacheLine = bytesPerLine;
    nfs2CacheOptions = options;
}

void nfs3CacheParamsSet(int lines, int bytesPerLine, int options)
{
    nfs3MaxCacheLines = lines;
    nfs3BytesPerCacheLine = bytesPerLine;
    nfs3CacheOptions = options;
}
}
