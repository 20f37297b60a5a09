// A compound through a server's state: re-established first when it is not usable; over 4.1 on a
// slot of the session with SEQUENCE in front, the SEQUENCE result settled into the slot table.
// The server busy (NFS4ERR_DELAY) costs a pause; a refused slot or sequence id, or a session or
// client id the server no longer has, costs a new try; all within the call's time-out.
#include "state/nfs4ClientState.h"

#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>
#include <kernel/sysLib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

using Clock = Nfs4ClientState::Clock;
using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

// Tries of one call: re-establishments and slot refusals included.
constexpr int kMostTries = 16;
constexpr int kTimedOut = K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT;

Clock::time_point callDeadline()
{
    return Clock::now() + std::chrono::seconds(std::max(nfsTimeoutSec, 0)) +
           std::chrono::microseconds(std::max(nfsTimeoutUSec, 0));
}

bool ready(const Nfs4ClientState &state)
{
    return state.clientUsable && (state.minor == 0 || state.sessionUsable);
}

// The state's generation once it is usable: established by this task (the others wait for it)
// when it is not.
Result<uint32_t> usable(Nfs4ClientState &state, Clock::time_point deadline)
{
    {
        const SemGuard guard(state.guard);
        if (ready(state))
            return state.generation;
    }
    const SemGuard recovery(state.recovery, nfs4TicksUntil(deadline));
    if (!recovery.held())
        return Fail{kTimedOut};
    {
        const SemGuard guard(state.guard);
        if (ready(state))
            return state.generation;
    }
    NFS_TRY(nfs4StateEstablish(state));
    const SemGuard guard(state.guard);
    return state.generation;
}

// The session or client id of GENERATION is gone at the server (a later generation has
// replaced it already when the numbers differ).
void lose(Nfs4ClientState &state, uint32_t generation, bool clientToo)
{
    const SemGuard guard(state.guard);
    if (state.generation != generation)
        return;
    state.sessionUsable = false;
    if (clientToo)
        state.clientUsable = false;
}

struct SlotTaken {
    int slot; // -1: the state is to be established again first
    uint32_t generation;
    SEQUENCE4args sequence;
};

// SLOT, just taken, with the SEQUENCE for it; called with the state's semaphore held.
SlotTaken slotTaken(const Nfs4ClientState &state, int slot)
{
    const auto index = static_cast<uint32_t>(slot);
    SlotTaken taken{slot, state.generation, {}};
    std::memcpy(taken.sequence.sa_sessionid, state.session, NFS4_SESSIONID_SIZE);
    taken.sequence.sa_sequenceid = state.slots.sequenceOf(index);
    taken.sequence.sa_slotid = index;
    taken.sequence.sa_highest_slotid = state.slots.highestBusy();
    return taken;
}

// A free slot of the session with the SEQUENCE for it, waiting on a busy one while none is
// free, until the deadline.
Result<SlotTaken> takeSlot(Nfs4ClientState &state, Clock::time_point deadline)
{
    for (;;) {
        SEM_ID busy = nullptr;
        {
            const SemGuard guard(state.guard);
            if (!ready(state))
                return SlotTaken{-1, 0, {}};
            const int slot = state.slots.take();
            if (slot >= 0)
                return slotTaken(state, slot);
            busy = state.slots.slotSem(state.slots.waitSlot());
        }
        if (Clock::now() >= deadline)
            return Fail{kTimedOut};
        if (semTake(busy, nfs4TicksUntil(deadline)) == 0)
            semGive(busy);
    }
}

enum class Next { Done, Again, Pause };

bool sessionLost(nfsstat4 status)
{
    return status == NFS4ERR_BADSESSION || status == NFS4ERR_DEADSESSION;
}
bool clientLost(nfsstat4 status)
{
    return status == NFS4ERR_STALE_CLIENTID || status == NFS4ERR_EXPIRED;
}

// What a slot fault does to the table: the next try's way.
Next slotFault(Nfs4ClientState &state, const SlotTaken &taken, nfsstat4 status)
{
    const auto slot = static_cast<uint32_t>(taken.slot);
    if (status == NFS4ERR_BADSLOT)
        state.slots.refuse(slot);
    else if (status == NFS4ERR_SEQ_MISORDERED)
        state.sessionUsable = state.sessionUsable && state.slots.stepBack(slot); // else a new session
    else if (sessionLost(status))
        state.sessionUsable = false;
    else if (clientLost(status))
        state.sessionUsable = state.clientUsable = false;
    else
        return Next::Done;
    return Next::Again;
}

// The slot given back with what the reply says of its sequence id; the next step.
Next settle(Nfs4ClientState &state, const SlotTaken &taken, const Status &status, const COMPOUND4res *res)
{
    const bool sequenceAnswered = res != nullptr && res->resarray.resarray_len > 0;
    const nfsstat4 sequenceStatus = sequenceAnswered ? res->resarray.resarray_val[0].status
                                    : res != nullptr ? res->status
                                                     : NFS4_OK;
    // A request sent again (its connection broke after the server took it) whose first answer
    // the server did not keep, said by SEQUENCE or by the operation after it: the sequence id
    // was used, and the call goes again on the next.
    const bool uncachedRetry =
        sequenceStatus == NFS4ERR_RETRY_UNCACHED_REP ||
        (res != nullptr && res->resarray.resarray_len > 1 &&
         res->resarray.resarray_val[1].status == NFS4ERR_RETRY_UNCACHED_REP);
    Nfs4SlotOutcome outcome = Nfs4SlotOutcome::NotTaken;
    if (res == nullptr)
        outcome = Nfs4SlotOutcome::Unknown;
    else if ((sequenceAnswered && sequenceStatus == NFS4_OK) || uncachedRetry)
        outcome = Nfs4SlotOutcome::Taken;
    const SemGuard guard(state.guard);
    const bool same = state.generation == taken.generation;
    if (outcome == Nfs4SlotOutcome::Taken && same) {
        const SEQUENCE4resok &ok = res->resarray.resarray_val[0].nfs_resop4_u.opsequence;
        state.slots.limit(ok.sr_highest_slotid, ok.sr_target_highest_slotid);
        state.renewed = Clock::now();
    }
    state.slots.give(static_cast<uint32_t>(taken.slot), outcome, same);
    if (res == nullptr || status.ok())
        return Next::Done;
    if (res->status == NFS4ERR_DELAY)
        return Next::Pause;
    if (uncachedRetry)
        return Next::Again;
    if (outcome == Nfs4SlotOutcome::Taken)
        return Next::Done; // an operation after SEQUENCE failed: the caller's answer
    if (!same)
        return Next::Again; // a fault of a session since replaced: the new one is tried
    return slotFault(state, taken, sequenceStatus);
}

// Whether the server is asked to keep the compound's answer for a resend: where doing it twice
// differs from doing it once (a resend after a broken connection must get the first answer).
// Reads, lookups and attributes are done again instead (their answers may be large).
bool answerKept(const std::vector<nfs_argop4> &ops)
{
    return std::any_of(ops.begin() + 1, ops.end(), [](const nfs_argop4 &op) {
        switch (op.argop) {
        case OP_OPEN:
        case OP_CLOSE:
        case OP_LOCK:
        case OP_LOCKU:
        case OP_CREATE:
        case OP_REMOVE:
        case OP_RENAME:
        case OP_LINK:
        case OP_SETATTR:
        case OP_RECLAIM_COMPLETE:
            return true;
        default:
            return false;
        }
    });
}

// One try of a 4.1 compound: OPS[0] is the SEQUENCE's place.
Next try41(Nfs4ClientState &state, std::vector<nfs_argop4> &ops, Nfs4Reply &reply, Clock::time_point deadline,
           Status *status)
{
    const Result<SlotTaken> taken = takeSlot(state, deadline);
    if (!taken.ok()) {
        *status = taken.fail();
        return Next::Done;
    }
    if (taken.value().slot < 0)
        return Next::Again;
    ops[0].argop = OP_SEQUENCE;
    ops[0].nfs_argop4_u.opsequence = taken.value().sequence;
    ops[0].nfs_argop4_u.opsequence.sa_cachethis = answerKept(ops) ? TRUE : FALSE;
    *status = nfs4CompoundCall(state.host, 1, ops.data(), static_cast<u_int>(ops.size()), 1, reply);
    return settle(state, taken.value(), *status, reply.whole());
}

// A 4.0 compound with an operation that carries an open-owner's sequence id: a refusal of
// it, NFS4ERR_DELAY included, advances the id, so its caller sends it again with the next one.
bool carriesSeqid(const std::vector<nfs_argop4> &ops)
{
    return std::any_of(ops.begin() + 1, ops.end(), [](const nfs_argop4 &op) {
        return op.argop == OP_OPEN || op.argop == OP_OPEN_CONFIRM || op.argop == OP_CLOSE ||
               op.argop == OP_LOCK || op.argop == OP_LOCKU;
    });
}

// One try of a 4.0 compound of OPS[1..]: RENEW, and the owners of OPEN, LOCK, LOCKT and
// RELEASE_LOCKOWNER, name the client id of the moment (an OPEN sent again after a new client id
// with the old one would be refused again).
Next try40(Nfs4ClientState &state, uint32_t generation, std::vector<nfs_argop4> &ops, Nfs4Reply &reply,
           Status *status)
{
    {
        const SemGuard guard(state.guard);
        for (nfs_argop4 &op : ops) {
            if (op.argop == OP_RENEW)
                op.nfs_argop4_u.opdestroy_clientid = state.clientId;
            else if (op.argop == OP_OPEN)
                op.nfs_argop4_u.opopen.owner.clientid = state.clientId;
            else if (op.argop == OP_LOCK && op.nfs_argop4_u.oplock.locker.new_lock_owner)
                op.nfs_argop4_u.oplock.locker.locker4_u.open_owner.lock_owner.clientid = state.clientId;
            else if (op.argop == OP_LOCKT)
                op.nfs_argop4_u.oplockt.owner.clientid = state.clientId;
            else if (op.argop == OP_RELEASE_LOCKOWNER)
                op.nfs_argop4_u.oprelease_lockowner.clientid = state.clientId;
        }
    }
    const auto n = static_cast<u_int>(ops.size() - 1);
    // Of what this client sends, only RENEW renews a 4.0 lease (GETATTR and LOOKUP name no state).
    const bool renews =
        std::any_of(ops.begin() + 1, ops.end(), [](const nfs_argop4 &op) { return op.argop == OP_RENEW; });
    *status = nfs4CompoundCall(state.host, 0, ops.data() + 1, n, 0, reply);
    const COMPOUND4res *res = reply.whole();
    if (status->ok()) {
        const SemGuard guard(state.guard);
        if (renews)
            state.renewed = Clock::now();
        return Next::Done;
    }
    if (res == nullptr)
        return Next::Done;
    if (res->status == NFS4ERR_DELAY)
        return carriesSeqid(ops) ? Next::Done : Next::Pause;
    if (!clientLost(res->status))
        return Next::Done;
    lose(state, generation, true);
    return Next::Again;
}

Nfs4Together::Outcome outcomeOf(Next next)
{
    switch (next) {
    case Next::Done: return Nfs4Together::Outcome::Done;
    case Next::Pause: return Nfs4Together::Outcome::Pause;
    default: return Nfs4Together::Outcome::Again;
    }
}

// Over 4.1: CALLS[0..N) on slots, the first waiting for one, the others on those free now;
// those sent settled.
Status together41(Nfs4ClientState &state, Nfs4Together *calls, std::size_t n, Nfs4Compounds &replies,
                  Clock::time_point deadline)
{
    const Result<SlotTaken> first = takeSlot(state, deadline);
    NFS_TRY(first);
    if (first.value().slot < 0)
        return {}; // the state is to be established again: nothing sent
    SlotTaken taken[Nfs4Compounds::kMost] = {first.value()};
    std::size_t sent = 1;
    {
        const SemGuard guard(state.guard);
        for (int slot = 0; sent < n && state.generation == taken[0].generation && (slot = state.slots.take()) >= 0;)
            taken[sent++] = slotTaken(state, slot);
        // Every SEQUENCE tells the server of the highest slot in use now.
        const uint32_t highest = state.slots.highestBusy();
        for (std::size_t i = 0; i < sent; ++i)
            taken[i].sequence.sa_highest_slotid = std::max(taken[i].sequence.sa_highest_slotid, highest);
    }
    for (std::size_t i = 0; i < sent; ++i) {
        calls[i].ops[0].argop = OP_SEQUENCE;
        calls[i].ops[0].nfs_argop4_u.opsequence = taken[i].sequence;
        replies.add(calls[i].ops, calls[i].n + 1, 1, calls[i].readBuffer, calls[i].readCapacity);
    }
    nfs4CompoundsCall(state.host, 1, replies);
    for (std::size_t i = 0; i < sent; ++i)
        calls[i].outcome = outcomeOf(settle(state, taken[i], replies.status(i), replies.whole(i)));
    return {};
}

// Over 4.0: CALLS[0..N) all sent, each settled as try40 settles its one.
void together40(Nfs4ClientState &state, uint32_t generation, Nfs4Together *calls, std::size_t n,
                Nfs4Compounds &replies)
{
    for (std::size_t i = 0; i < n; ++i)
        replies.add(calls[i].ops + 1, calls[i].n, 0, calls[i].readBuffer, calls[i].readCapacity);
    nfs4CompoundsCall(state.host, 0, replies);
    for (std::size_t i = 0; i < n; ++i) {
        const COMPOUND4res *res = replies.whole(i);
        Next next = Next::Done;
        if (res != nullptr && res->status == NFS4ERR_DELAY) {
            next = Next::Pause;
        } else if (res != nullptr && clientLost(res->status)) {
            lose(state, generation, true);
            next = Next::Again;
        }
        calls[i].outcome = outcomeOf(next);
    }
}

// The operations a call sent together may carry: none names a client id or an owner's
// sequence id, so none is to be rewritten at a new client id, and a refusal costs no seqid.
bool togetherOp(const nfs_argop4 &op)
{
    return op.argop == OP_PUTFH || op.argop == OP_READ || op.argop == OP_WRITE || op.argop == OP_GETATTR;
}

} // namespace

Status nfs4StateCallsTogether(Nfs4ClientState &state, Nfs4Together *calls, std::size_t n, Nfs4Compounds &replies)
{
    if (calls == nullptr || n == 0 || n > Nfs4Compounds::kMost || replies.size() != 0)
        return Fail{K_EINVAL};
    for (std::size_t i = 0; i < n; ++i) {
        calls[i].outcome = Nfs4Together::Outcome::Unsent;
        if (calls[i].n == 0 || calls[i].n > Nfs4Together::kMostOps ||
            !std::all_of(calls[i].ops + 1, calls[i].ops + 1 + calls[i].n, togetherOp))
            return Fail{K_EINVAL};
    }
    const Clock::time_point deadline = callDeadline();
    const Result<uint32_t> generation = usable(state, deadline);
    NFS_TRY(generation);
    uint32_t minor = 1;
    {
        const SemGuard guard(state.guard);
        minor = state.minor;
    }
    if (minor == 1)
        return together41(state, calls, n, replies, deadline);
    together40(state, generation.value(), calls, n, replies);
    return {};
}

int nfs4TicksUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    const int64_t ticks = left * sysClkRateGet() / 1000000;
    return ticks < 1 ? 1 : ticks > INT_MAX ? INT_MAX : static_cast<int>(ticks);
}

Status nfs4StateReady(Nfs4ClientState &state)
{
    return nfsres::statusOf(usable(state, callDeadline()));
}

Status nfs4StateCall(Nfs4ClientState &state, const nfs_argop4 *ops, u_int n, Nfs4Reply &reply)
{
    if (n >= NFS4_MAX_OPS || (ops == nullptr && n > 0))
        return Fail{K_EINVAL};
    const Clock::time_point deadline = callDeadline();
    nfsrpc::RetryPacing pacing;
    std::vector<nfs_argop4> all(n + 1);
    std::copy(ops, ops + n, all.begin() + 1);
    Status status = Fail{kTimedOut};
    for (int i = 0; i < kMostTries && Clock::now() < deadline; ++i) {
        const Result<uint32_t> generation = usable(state, deadline);
        NFS_TRY(generation);
        uint32_t minor = 1;
        {
            const SemGuard guard(state.guard);
            minor = state.minor;
        }
        if (minor == 0 && n == 0)
            return Fail{K_EINVAL};
        const Next next = minor == 0 ? try40(state, generation.value(), all, reply, &status)
                                     : try41(state, all, reply, deadline, &status);
        if (next == Next::Done || (next == Next::Pause && !pacing.pause()))
            return status;
    }
    return status;
}
