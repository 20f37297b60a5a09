/* The brisnel module's exported configuration: the auto-close word, the transfer and time-out
 * words a user may change before mounting, and the cache geometry setters. The other
 * configuration words are module-private. A device mounted with options (nfsMountOpt) uses
 * its own options in place of the words they name, and the words for the rest. */
#ifndef BRISNEL_NFSCONFIGLIB_H
#define BRISNEL_NFSCONFIGLIB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Longest path name handled; sizes every path buffer. */
#define NFS_MAX_PATH 256
#define NFS_HOST_NAME_LEN 64

/* Non-zero: closing a file also closes the calling task's RPC client. */
extern int nfsAutoClose;

/* Largest data count of one version 3 READ or WRITE (8192). A version 3 mount lowers it to
 * the server's FSINFO limit, never raises it. Client handles made after a change are sized
 * for the largest transfer these words allow: over UDP at most a datagram (about 64 KiB),
 * over TCP up to NFS_TCP_MAX_TRANSFER. */
#define NFS_TCP_MAX_TRANSFER (1024u * 1024u)
extern uint32_t nfs3MaxMsgLen;
/* Largest data count of one version 2 READ or WRITE (8192). */
extern uint32_t nfs2MaxMsgLen;
/* Byte count asked for by each READDIR (512); a version 3 mount replaces it with the
 * server's preferred size when the server names one. */
extern int32_t nfs3MaxRddirSz;
/* Socket send and receive buffer of every UDP socket (10000), raised only when the largest
 * transfers of a window of calls in flight (nfsMaxInFlight) need more; TCP connections keep
 * the kernel's self-tuning buffers. */
extern int32_t nfsSockBufSize;
/* Retransmission interval over UDP (5 s) and total time of one remote call (25 s); over TCP a
 * call is sent again only on a new connection, when the old one broke. */
extern int32_t nfsReXmitSec;
extern int32_t nfsReXmitUSec;
extern int32_t nfsTimeoutSec;
extern int32_t nfsTimeoutUSec;

/* How remote calls travel (NFS_TRANSPORT_UDP_WHERE_OFFERED, 0): over UDP where the host's
 * portmapper registers the program over UDP or does not answer, else over TCP where it
 * registers the program over TCP; NFS_TRANSPORT_TCP (1): always over TCP; NFS_TRANSPORT_UDP (2):
 * only over UDP, MOUNT registered only over TCP failing with NFS_ERRNO_NOTSUPP and another
 * program registered only over TCP with NFS_ERR_ONLY_OVER_TCP. A
 * handle made for one transport is not reused after a change that rules it out. */
#define NFS_TRANSPORT_UDP_WHERE_OFFERED 0
#define NFS_TRANSPORT_TCP 1
#define NFS_TRANSPORT_UDP 2
extern int32_t nfsTransport;

/* How many READs or WRITEs of one transfer a task keeps in flight at once (4): a cache line
 * larger than the transfer size is filled by all its READs at once and written back by all its
 * WRITEs at once, each with its own transaction id (over UDP its own retransmission; over TCP
 * a record of its own on the one connection, sent again on a new one if it breaks), each within
 * the time-out. 1 (or less) sends one call at a time; values above 16 count as 16. The calls
 * are the same whatever the window. */
extern int32_t nfsMaxInFlight;

/* The NFS version nfsMount uses (0): 0 chooses by what the server offers (MOUNT version 3 means
 * NFS 3, MOUNT version 1 alone NFS 2, no MOUNT service or NFS 4 alone NFS 4.1, then 4.0); 2, 3,
 * or NFS_VERSION_4, NFS_VERSION_40, NFS_VERSION_41 (nfs4Drv.h) asks for that one. A mount's
 * vers= takes its place. */
extern int32_t nfsVersion;
/* Seconds nfsMount waits for a portmapper that does not answer before it tries NFS 4 (3). */
extern int32_t nfsPortmapWaitSec;

/* Stored unchecked; they apply to devices mounted afterwards. */
void nfs2CacheParamsSet(int lines, int bytesPerLine, int options);
void nfs3CacheParamsSet(int lines, int bytesPerLine, int options);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
