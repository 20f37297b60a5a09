// Module-private: the lock manager's calls on a server, one file and one owner at a time.
// LOCK is never asked to block (a wait polls); a server in its grace period is asked again
// within the call's time-out. A server that restarted has this client's locks reclaimed
// before any other call goes there (nlmReclaim.h). The calls go through the task's handle
// for the lock manager with the device's call settings, which the caller names
// (NfsCallScope); the portmapper gives the manager's port.
#ifndef NFS_LOCK_NLMCALL_H
#define NFS_LOCK_NLMCALL_H

#include "core/nfsResult.h"

#include <sys/types.h>

#include <cstdint>

// What a call is about: the server, the lock manager's version (NLM_V4 beside NFS version 3,
// NLM_V1 beside version 2), the file's handle and the owning task.
struct NlmTarget {
    const char *host;
    uint32_t version;
    const char *fh;
    u_int fhLength;
    uintptr_t task;
};

// A range of bytes (length 0: to the file's end, however far it grows).
struct NlmRange {
    bool exclusive;
    uint64_t start;
    uint64_t length;
};

// What TEST found: NLM4_GRANTED (no conflict), or NLM4_DENIED with the holder's lock.
struct NlmConflict {
    uint32_t stat;
    bool exclusive;
    int32_t svid;
    uint64_t start;
    uint64_t length;
};

// The answer's status: NLM4_GRANTED, NLM4_DENIED or another refusal; a failure is the call's
// (its error number), or K_EINVAL for a range version 1 cannot carry.
nfsres::Result<uint32_t> nlmLock(const NlmTarget &target, const NlmRange &range);
nfsres::Result<NlmConflict> nlmTest(const NlmTarget &target, const NlmRange &range);
nfsres::Result<uint32_t> nlmUnlock(const NlmTarget &target, const NlmRange &range);
// LOCK with reclaim set, after a restart of the server: asked once, a grace answer and all.
nfsres::Result<uint32_t> nlmReclaim(const NlmTarget &target, const NlmRange &range);
// Withdraws a LOCK whose answer never came, should the server still hold it queued.
void nlmCancel(const NlmTarget &target, const NlmRange &range);

// The error number of a refusal: K_EAGAIN for a conflict, K_ENOLCK when the server has no
// room or is still in its grace period, K_EROFS, the stale handle's NFS error, K_EINVAL for a
// range past what the server's files take; 0 for NLM4_GRANTED.
int nlmStatError(uint32_t stat);

#endif
