// Module-private: the network lock manager's calls this client makes (program 100021; version
// 4 beside NFS version 3, version 1 beside NFS version 2): TEST, LOCK, CANCEL and UNLOCK, their
// arguments and results, and their XDR filter routines.
//
// Records follow the protocol's names and member order. One set of records serves both
// versions: `narrow` (not on the wire) says version 1, whose offsets and lengths are 32-bit and
// whose statuses stop at the grace period's. Netobjs and the caller name point at the caller's
// bytes when encoding; a decoded netobj (a cookie, a holder's owner) is allocated by the decoder
// and released by XDR_FREE. A decoder refuses a netobj longer than NLM_NETOBJ_MAX before any
// byte lands.
#ifndef NFS_LOCK_NLMXDR_H
#define NFS_LOCK_NLMXDR_H

#include <rpc/rpc.h>

#include <cstdint>

#define NLM_PROGRAM 100021
#define NLM_V1 1
#define NLM_V4 4
#define NLMPROC_TEST 1
#define NLMPROC_LOCK 2
#define NLMPROC_CANCEL 3
#define NLMPROC_UNLOCK 4

#define NLM_CALLER_MAX 1024 // LM_MAXSTRLEN
#define NLM_NETOBJ_MAX 1024 // MAXNETOBJ_SZ

enum NlmStat : uint32_t {
    NLM4_GRANTED = 0,
    NLM4_DENIED = 1,
    NLM4_DENIED_NOLOCKS = 2,
    NLM4_BLOCKED = 3,
    NLM4_DENIED_GRACE_PERIOD = 4,
    NLM4_DEADLCK = 5,
    NLM4_ROFS = 6,
    NLM4_STALE_FH = 7,
    NLM4_FBIG = 8,
    NLM4_FAILED = 9,
};

struct NlmObject {
    u_int n_len;
    char *n_bytes;
};

/* struct nlm4_lock { string caller_name<LM_MAXSTRLEN>; netobj fh; netobj oh; int32 svid;
 *                    uint64 l_offset; uint64 l_len; };
 * nlm_lock (version 1) has int uppid for svid and unsigned offset and length. */
struct NlmLock {
    char *caller_name;
    NlmObject fh;
    NlmObject oh;
    int32_t svid;
    uint64_t l_offset;
    uint64_t l_len;
};

/* struct nlm4_holder { bool exclusive; int32 svid; netobj oh; uint64 l_offset; uint64 l_len; }; */
struct NlmHolder {
    bool_t exclusive;
    int32_t svid;
    NlmObject oh;
    uint64_t l_offset;
    uint64_t l_len;
};

/* struct nlm4_testargs { netobj cookie; bool exclusive; nlm4_lock alock; }; */
struct NlmTestArgs {
    bool narrow;
    NlmObject cookie;
    bool_t exclusive;
    NlmLock alock;
};

/* struct nlm4_lockargs { netobj cookie; bool block; bool exclusive; nlm4_lock alock;
 *                        bool reclaim; int32 state; }; */
struct NlmLockArgs {
    bool narrow;
    NlmObject cookie;
    bool_t block;
    bool_t exclusive;
    NlmLock alock;
    bool_t reclaim;
    int32_t state;
};

/* struct nlm4_cancargs { netobj cookie; bool block; bool exclusive; nlm4_lock alock; }; */
struct NlmCancelArgs {
    bool narrow;
    NlmObject cookie;
    bool_t block;
    bool_t exclusive;
    NlmLock alock;
};

/* struct nlm4_unlockargs { netobj cookie; nlm4_lock alock; }; */
struct NlmUnlockArgs {
    bool narrow;
    NlmObject cookie;
    NlmLock alock;
};

/* struct nlm4_res { netobj cookie; nlm4_stat stat; }; */
struct NlmRes {
    NlmObject cookie;
    uint32_t stat;
};

/* struct nlm4_testres { netobj cookie; nlm4_testrply stat; };
 * union nlm4_testrply switch (nlm4_stats stat) { case NLM4_DENIED: nlm4_holder holder;
 *                                                 default: void; };
 * narrow is set by the caller before decoding. */
struct NlmTestRes {
    bool narrow;
    NlmObject cookie;
    uint32_t stat;
    NlmHolder holder;
};

bool_t xdrNlmTestArgs(XDR *xdrs, NlmTestArgs *objp);
bool_t xdrNlmLockArgs(XDR *xdrs, NlmLockArgs *objp);
bool_t xdrNlmCancelArgs(XDR *xdrs, NlmCancelArgs *objp);
bool_t xdrNlmUnlockArgs(XDR *xdrs, NlmUnlockArgs *objp);
bool_t xdrNlmRes(XDR *xdrs, NlmRes *objp);
bool_t xdrNlmTestRes(XDR *xdrs, NlmTestRes *objp);

#endif
