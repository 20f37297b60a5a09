/* The per-device file data cache: a fixed number of fixed-size lines shared by every file open
 * on the device, direct-mapped by block number and file identifier. It reaches the server only
 * through the read and write slots of the version dispatch table.
 *
 * The open-file arguments are the driver's open-file record of the version given (2 or 3). */
#ifndef BRISNEL_NFSCACHELIB_H
#define BRISNEL_NFSCACHELIB_H

#include <kernel/semLib.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define NFS_CACHE_WRITE_THROUGH 0x1 /* cache option: a write is sent at once */
#define NFS_CACHE_DIRTY 0x1         /* line flag: bytes not yet sent to the server */
/* line flag: bytes sent UNSTABLE, kept until a COMMIT with the same write verifier makes them safe */
#define NFS_CACHE_PINNED 0x2
/* line flag, with NFS_CACHE_DIRTY: a full line written sequentially, whose WRITEs go out with
 * those of the file's next full line (write-behind) */
#define NFS_CACHE_BEHIND 0x4
#define NFS_CACHE_NO_FILE UINT64_MAX /* fileId of a line that holds nothing */

typedef struct NfsCacheLine {
    char *pData;     /* this line's bytes, inside the cache's buffer */
    uint32_t nBytes; /* valid bytes from the start of the line; the rest are zero */
    uint64_t fileId; /* file whose block the line holds, NFS_CACHE_NO_FILE for none */
    uint64_t offset; /* file offset of the line's first byte, a multiple of lineSize */
    void *pOwner;    /* open file that last filled or wrote the line; null for none */
    uint32_t flags;  /* NFS_CACHE_DIRTY, NFS_CACHE_PINNED */
    uint64_t fsId;   /* file system of that file: ids repeat across file systems */
} NfsCacheLine;

/* Module-private: what the cache keeps besides its records (each line's key, the handle of the
 * file whose block it holds, and its transfer to or from the server). */
struct NfsCacheState;

/* All zero when the device has no cache. */
typedef struct NfsDataCache {
    NfsCacheLine *pLines;
    char *pBuffer;    /* nLines x lineSize bytes holding all line data */
    SEM_ID semId;     /* guards the lines' records and marks, never held across a server call;
                         taken after an open file's own */
    uint32_t options; /* NFS_CACHE_WRITE_THROUGH */
    uint32_t nLines;
    uint32_t lineShift;           /* log2 of lineSize */
    uint32_t lineSize;            /* a power of two */
    struct NfsCacheState *pState; /* module-private, beside pLines */
} NfsDataCache;

int nfsCacheAlloc(NfsDataCache *cache, int count, int bytes, int options);
int nfsCacheFree(NfsDataCache *cache);
uint32_t nfsWhichCacheLine(NfsDataCache *cache, uint64_t fileId, uint64_t offset);
int nfsCacheLineRead(void *file, uint64_t offset, char *buf, int n, int version);
int nfsCacheLineWrite(void *file, uint64_t offset, const char *buf, int n, int version);
int nfsCacheLineFlush(NfsCacheLine *line, int version);
int nfsCacheFileFlush(void *file, int release, int version);
void nfsCacheFileInvalidate(NfsDataCache *cache, uint64_t fileId);

/* Writes back and commits what every open file of every NFS device holds in the cache, for a
 * program about to end without closing them: 0, or -1 with the first error. Each server call
 * is bounded by the time-out; a file whose write-back fails keeps its data for its close. */
int nfsSyncAll(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
