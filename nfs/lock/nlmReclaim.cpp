// The reclaim pass after a lock manager's server restarted (nlmReclaim.h). One pass at a time
// for all servers: a task whose call meets a restart waits for it, as its call must not go
// out before the reclaims. The pass holds its semaphore across the reclaims, and only the
// tasks that must wait for it anyway ever take it.
#include "lock/nlmReclaim.h"

#include "core/nfsCallSettings.h"
#include "lock/nlmHeld.h"
#include "lock/nlmRestart.h"
#include "lock/nlmXdr.h"

#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>
#include <kernel/semLib.h>
#include <kernel/sysLib.h>

#include <rpc/clnt_stat.h>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace {

SEM_ID passSem()
{
    static const SEM_ID sem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    return sem;
}

// The call's time-out in ticks, for the wait on another task's pass.
int callTicks()
{
    const NfsCallTime timeout = nfsCallTimeout();
    const int64_t micros = int64_t{std::max(timeout.sec, 0)} * 1000000 + std::max(timeout.usec, 0);
    const int64_t ticks = micros * sysClkRateGet() / 1000000;
    return static_cast<int>(std::clamp<int64_t>(ticks, 1, INT_MAX));
}

// FILE's ranges asked for again; what came back replaces them in the held list.
void reclaimFile(const NlmHeldFile &file)
{
    const NfsCallScope scope(&file.options);
    Nfs4LockRanges kept;
    bool lost = false;
    for (const Nfs4HeldRange &held : file.ranges.held()) {
        const NlmRange range{held.type == WRITE_LT, held.offset, held.length};
        const nfsres::Result<uint32_t> stat = nlmReclaim(file.target(), range);
        const bool granted = stat.ok() && stat.value() == NLM4_GRANTED;
        lost = !granted || !kept.lock(held.type, held.offset, held.length) || lost;
    }
    nlmHeldReclaimed(file, kept, lost);
}

} // namespace

int nlmReclaimIfDue(const char *host)
{
    uint32_t restarts = 0;
    if (!nlmRestartDue(host, &restarts))
        return 0;
    const SemGuard guard(passSem(), callTicks());
    if (!guard.held())
        return K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT;
    if (!nlmRestartDue(host, &restarts))
        return 0; // another task's pass did it
    for (const NlmHeldFile &file : nlmHeldOn(host))
        reclaimFile(file);
    nlmRestartReclaimed(host, restarts);
    return 0;
}
