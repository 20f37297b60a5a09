// The renewal task of a server's state: while the state has users it keeps the lease, with a
// SEQUENCE alone (4.1) or RENEW (4.0) once a third of the lease has passed since the server last
// confirmed it, whether or not other tasks call meanwhile.
#include "state/nfs4ClientState.h"

#include <kernel/semGuard.h>

namespace {

using Clock = Nfs4ClientState::Clock;

// How often the task looks at its stop word and the lease; and its pause after a failed renewal
// (the server down: each try is bounded by the call's time-out already).
constexpr auto kSlice = std::chrono::milliseconds(50);
constexpr auto kAfterFailure = std::chrono::seconds(1);

Clock::time_point renewalDue(Nfs4ClientState &state)
{
    const SemGuard guard(state.guard);
    return state.renewed + std::chrono::seconds(state.leaseSec) / 3;
}

bool renew(Nfs4ClientState &state)
{
    uint32_t minor = 1;
    {
        const SemGuard guard(state.guard);
        minor = state.minor;
    }
    nfs_argop4 renewOp{};
    renewOp.argop = OP_RENEW; // the client id is filled in by the call
    Nfs4Reply reply;
    return (minor == 0 ? nfs4StateCall(state, &renewOp, 1, reply) : nfs4StateCall(state, nullptr, 0, reply))
        .ok();
}

// Sleeps until WHEN or until asked to stop: false when asked.
bool sleepUntil(const Nfs4ClientState &state, Clock::time_point when)
{
    while (!state.stopRenewal.load()) {
        const Clock::time_point now = Clock::now();
        if (now >= when)
            return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, when - now));
    }
    return false;
}

// Calls of other tasks that renewed the lease meanwhile put the renewal off.
void renewalTask(Nfs4ClientState *state)
{
    for (;;) {
        const Clock::time_point due = renewalDue(*state);
        if (Clock::now() < due) {
            if (!sleepUntil(*state, due))
                return;
        } else if (!renew(*state) && !sleepUntil(*state, Clock::now() + kAfterFailure)) {
            return;
        }
    }
}

} // namespace

void nfs4RenewalStart(Nfs4ClientState &state)
{
    if (state.renewal.joinable())
        return;
    state.stopRenewal.store(false);
    state.renewal = std::thread(renewalTask, &state);
}

void nfs4RenewalStop(Nfs4ClientState &state)
{
    state.stopRenewal.store(true);
    if (state.renewal.joinable())
        state.renewal.join();
}
