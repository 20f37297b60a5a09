// Module-private: the reclaim of every lock this client holds on a server that restarted
// (nlmRestart.h): each range of each task on each file, as the held list keeps them, asked
// for again with LOCK's reclaim set, once per restart and before any other lock call of this
// client goes to that server. A reclaim is not asked again during the grace period (that
// period is for reclaims): refused, failed or unanswered, the range is lost, taken out of the
// held list and counted against its file, whose descriptors report it (K_ENOLCK) once each on
// their next call.
#ifndef NFS_LOCK_NLMRECLAIM_H
#define NFS_LOCK_NLMRECLAIM_H

// Runs the pass for HOST when a restart is due there, or waits (within the call's time-out)
// for the task running it: 0, or the error of a wait that timed out.
int nlmReclaimIfDue(const char *host);

#endif
