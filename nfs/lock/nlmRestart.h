// Module-private: noticing that a lock manager's server restarted, so that the locks this
// client holds there are asked for again (nlmReclaim.h). Two signs, both free with answers
// this client gets anyway:
//  - a version 3 device's write verifier changed (a WRITE or COMMIT reply): the verifier is
//    the server instance's, and a new one means the server lost what it held in memory, its
//    locks among them; a grace-less restart shows no other sign;
//  - a lock call answered NLM4_DENIED_GRACE_PERIOD while this client holds locks on that
//    server (no lock is granted in a grace period, so those were granted before it began),
//    counted once per grace period: until the server answers otherwise, more such answers are
//    the same period.
// The server's status monitor state is not asked for: this client offers no status monitor
// to be sent SM_NOTIFY, and an SM_STAT beside every lock call would double what locks cost.
//
// Per host: a count of restarts seen and the count the last reclaim pass was for. A verifier
// is kept per device (servers may keep one per file system), forgotten at its unmount.
#ifndef NFS_LOCK_NLMRESTART_H
#define NFS_LOCK_NLMRESTART_H

#include <cstddef>
#include <cstdint>

// The write verifier VERF (LENGTH bytes) of a reply from HOST on device DEV.
void nlmVerifierSeen(const void *dev, const char *host, const char *verf, std::size_t length);
void nlmVerifierForget(const void *dev);
// A lock call to HOST answered NLM4_DENIED_GRACE_PERIOD (the caller knows it holds locks
// there), or answered with anything else.
void nlmGraceAnswered(const char *host);
void nlmGraceOver(const char *host);
// Whether HOST restarted since its last reclaim pass; *restarts then says which restart
// the pass is for (nlmRestartReclaimed).
bool nlmRestartDue(const char *host, uint32_t *restarts);
void nlmRestartReclaimed(const char *host, uint32_t restarts);

#endif
