/* The one remote-call path of the brisnel module: a client handle per task, over UDP or TCP
 * (see nfsTransport), reused while the task keeps calling the same host, program and version
 * with unchanged credentials over a transport the word allows; the lock manager's calls have
 * a handle of their own beside it. */
#ifndef BRISNEL_NFSRPCLIB_H
#define BRISNEL_NFSRPCLIB_H

#include <brisnel/nfsConfigLib.h>

#include <netinet/in.h>
#include <rpc/rpc.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The per-task client record, reached through the task's RPC context. */
typedef struct NfsRpcClient {
    CLIENT *pClient;  /* the client handle; null when there is none */
    int32_t socket;   /* the handle's socket (a TCP handle's keeps its number across
                       * reconnections); -1 asks the library to open its own */
    uint32_t progNum; /* program, version and credential generation the handle was made for */
    uint32_t versNum;
    int32_t authCount;
    int32_t valid;                    /* 1 when the handle may be reused */
    uintptr_t ownerId;                /* the process owning the socket (kernelId on this host) */
    char hostName[NFS_HOST_NAME_LEN]; /* the host exactly as the caller spelled it */
    uint32_t bufferSize;              /* the handle's send and receive buffer, in bytes */
    struct sockaddr_in server;        /* where the handle sends: the host's address and the program's port */
    int32_t transport;                /* IPPROTO_UDP or IPPROTO_TCP */
    void *pBuffers;                   /* the task's message buffers, kept from call to call; freed with the
                                       * record by the task-delete hook */
    struct NfsRpcClient *pLockClient; /* the task's record for the lock manager's calls (program 100021),
                                       * whose handle lives beside the NFS one so that neither is built
                                       * again when a task alternates; null until its first call. Its
                                       * pBuffers and pLockClient stay null */
} NfsRpcClient;

/* 0 when the calling task has a client record; -1 otherwise. */
int nfsInit(void);
/* One remote call: 0 on RPC success, -1 with the error number set otherwise (a host name of
 * 64 characters or more is refused with 26). After a success the caller releases the decoded
 * reply with clnt_freeres on the task's handle. When the reply could not be decoded, what was
 * decoded stays in `out` and the handle is gone: the caller clears the pointers to its own
 * buffers and releases the rest with xdr_free. */
int nfsClientCall(const char *host, uint32_t prog, uint32_t vers, uint32_t proc, xdrproc_t inproc, void *in,
                  xdrproc_t outproc, void *out);
/* Tears down the calling task's handles (the lock manager's too); the records stay. */
void nfsClientClose(void);
/* Sets the error number to NFS_ERRNO_BASE | status. */
void nfsErrnoSet(int status);
/* The calling task's client record, or null before its first nfsInit. */
NfsRpcClient *nfsRpcClientCurrent(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}

/* Any XDR routine as the library's filter type (their parameter lists differ). */
template <typename Routine> inline xdrproc_t nfsXdrProc(Routine routine)
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(routine));
}
#endif
#endif
