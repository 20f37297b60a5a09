// Module-private: the statuses a version 4 file call waits out. NFS4ERR_DELAY (the server is
// busy) and NFS4ERR_GRACE (the server has restarted and lets its clients reclaim their state
// first) cost a pause and the call sent again, within the call's time-out, as NFS3ERR_JUKEBOX
// does over version 3. Every other status fails the call with nfs4Error's number for it: the
// module's NFS error space, the status in the low bits.
#ifndef NFS_STATE_NFS4RESEND_H
#define NFS_STATE_NFS4RESEND_H

#include "state/nfs4ClientState.h"

// ERROR is the number of a status that is waited out.
bool nfs4WaitedOut(int error);

// ATTEMPT (one try of a call, returning its Status) made again after a pause while it fails
// with a waited-out status, until the call's time-out has passed; the last try's status.
template <typename Attempt> nfsres::Status nfs4Resending(Attempt attempt)
{
    nfsrpc::RetryPacing pacing;
    for (;;) {
        const nfsres::Status status = attempt();
        if (status.ok() || !nfs4WaitedOut(status.error()) || !pacing.pause())
            return status;
    }
}

// The call's time-out from now in ticks, for a wait on a lock held across a call.
int nfs4CallTicks();

// OPS[0..N) through STATE (nfs4StateCall), sent again while the server says to wait.
nfsres::Status nfs4FileCall(Nfs4ClientState &state, const nfs_argop4 *ops, u_int n, Nfs4Reply &reply);

#endif
