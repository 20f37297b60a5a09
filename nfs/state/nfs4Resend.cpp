// Version 4 file calls sent again while the server is busy or in its grace period.
#include "state/nfs4Resend.h"

#include <algorithm>

bool nfs4WaitedOut(int error)
{
    return error == nfs4Error(NFS4ERR_DELAY) || error == nfs4Error(NFS4ERR_GRACE);
}

int nfs4CallTicks()
{
    const NfsCallTime timeout = nfsCallTimeout();
    return nfs4TicksUntil(Nfs4ClientState::Clock::now() + std::chrono::seconds(std::max(timeout.sec, 0)) +
                          std::chrono::microseconds(std::max(timeout.usec, 0)));
}

nfsres::Status nfs4FileCall(Nfs4ClientState &state, const nfs_argop4 *ops, u_int n, Nfs4Reply &reply)
{
    return nfs4Resending([&] { return nfs4StateCall(state, ops, n, reply); });
}
