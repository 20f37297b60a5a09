// The reclaim of the locks held through an open, after a server restart, as part of that
// open's reclaim (nfs4OpenReclaim.cpp) and so before RECLAIM_COMPLETE: every range each owner
// holds through it asked for again with LOCK's reclaim set, the first through the open's new
// state id (open_to_lock_owner4 with the owner's name), the others through the lock state id
// that gave. It runs under the state's recovery semaphore, which a task may be waiting for
// while it holds its owner's inUse: the owners' ranges are read and their results left under
// each owner's short guard, taken up by the owner's next call (Nfs4LockSeqidUse).
#include "state/nfs4Locks.h"

#include "state/nfs4Resend.h"

#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

using nfsres::Status;

constexpr u_int kLockOp = 1; // LOCK follows its PUTFH
constexpr uint64_t kToTheEnd = UINT64_MAX;

// One owner's lock state through the open, as read under its guard.
struct HeldThrough {
    Nfs4LockOwner *owner;
    NfsFh fh;
    std::vector<Nfs4HeldRange> ranges;
};

// The open a lock state goes with now: a reclaim's when one is waiting to be taken up.
const Nfs4StateOther &openOf(const Nfs4LockState &held)
{
    return held.reclaimed ? held.reclaimedOpen : held.open;
}

bool sameOpen(const Nfs4StateOther &open, const stateid4 &stateid)
{
    return std::memcmp(open.data(), stateid.other, NFS4_OTHER_SIZE) == 0;
}

std::vector<HeldThrough> heldThrough(Nfs4ClientState &state, const stateid4 &open)
{
    std::vector<HeldThrough> found;
    try {
        for (Nfs4LockOwner *owner : state.lockOwners.current()) {
            const SemGuard guard(owner->guard);
            for (const Nfs4LockState &held : owner->states) {
                if (!held.dropped && sameOpen(openOf(held), open))
                    found.push_back(HeldThrough{owner, held.fh, held.ranges.held()});
            }
        }
    } catch (const std::bad_alloc &) {
        // the states found so far; the others are left to fail their next call
    }
    return found;
}

// The result of one lock state's reclaim.
struct Reclaimed {
    bool any = false;   // a lock state id came back
    stateid4 lockId{};  // the newest one
    Nfs4LockRanges kept; // the ranges the server gave back
    bool lost = false;  // a range did not come back
};

// LOCK of RANGE with reclaim set for HELD's owner: through the open NEW_OPEN of OPEN_OWNER for
// the first, the lock state id of DONE for the others.
Status reclaimRange(Nfs4ClientState &state, const HeldThrough &held, const Nfs4HeldRange &range,
                    const stateid4 &newOpen, Nfs4OpenOwner &openOwner, Reclaimed &done)
{
    const Nfs4StateNow now = nfs4StateNow(state);
    Nfs4LockOwner &owner = *held.owner;
    Nfs4Ops ops;
    ops.putFh(held.fh);
    LOCK4args &lock = ops.add(OP_LOCK).nfs_argop4_u.oplock;
    lock.locktype = range.type;
    lock.reclaim = TRUE;
    lock.offset = range.offset;
    lock.length = range.length == 0 ? kToTheEnd : range.length;
    const uint32_t lockSeqid = now.minor == 0 ? owner.seqid.load() : 0;
    Nfs4Reply reply;
    Status status;
    if (!done.any) {
        // The reclaim's own open-owner: no task holds it, its inUse is never waited on long.
        Nfs4SeqidUse openUse(openOwner, now.minor, nfs4CallTicks());
        if (!openUse.held())
            return nfsres::Fail{K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT};
        lock.locker.new_lock_owner = TRUE;
        open_to_lock_owner4 &locker = lock.locker.locker4_u.open_owner;
        locker.open_seqid = openUse.seqid();
        locker.open_stateid = newOpen;
        locker.lock_seqid = lockSeqid;
        locker.lock_owner = nfs4LockOwnerOf(owner, now.clientId);
        status = nfs4FileCall(state, ops.ops, ops.n, reply);
        openUse.settle(reply, kLockOp, state.openOwners);
    } else {
        lock.locker.new_lock_owner = FALSE;
        lock.locker.locker4_u.lock_owner = exist_lock_owner4{done.lockId, lockSeqid};
        status = nfs4FileCall(state, ops.ops, ops.n, reply);
    }
    if (now.minor == 0 && reply.count() > kLockOp && !nfs4LeavesSeqid(reply[kLockOp].status))
        ++owner.seqid;
    if (status.ok()) {
        done.any = true;
        done.lockId = reply[kLockOp].nfs_resop4_u.opstateid;
    }
    return status;
}

// The result left for the owner: the new lock state id and open with the ranges that came
// back, or the state to be forgotten when none did.
void leave(const HeldThrough &held, const stateid4 &oldOpen, const stateid4 &newOpen, Reclaimed &done)
{
    Nfs4LockOwner &owner = *held.owner;
    const SemGuard guard(owner.guard);
    for (Nfs4LockState &state : owner.states) {
        if (state.dropped || !(state.fh == held.fh) || !sameOpen(openOf(state), oldOpen))
            continue;
        if (!done.any) {
            state.dropped = true;
            return;
        }
        state.reclaimed = true;
        state.reclaimedId = done.lockId;
        std::copy(std::begin(newOpen.other), std::end(newOpen.other), state.reclaimedOpen.begin());
        std::swap(state.ranges, done.kept);
        return;
    }
}

} // namespace

int nfs4ReclaimLocks(Nfs4ClientState &state, const stateid4 &oldOpen, const stateid4 &newOpen,
                     Nfs4OpenOwner &openOwner)
{
    bool lost = false;
    for (const HeldThrough &held : heldThrough(state, oldOpen)) {
        Reclaimed done;
        for (const Nfs4HeldRange &range : held.ranges) {
            if (reclaimRange(state, held, range, newOpen, openOwner, done).ok())
                done.lost = !done.kept.lock(range.type, range.offset, range.length) || done.lost;
            else
                done.lost = true;
        }
        leave(held, oldOpen, newOpen, done);
        lost = lost || done.lost;
    }
    return lost ? K_ENOLCK : 0;
}

int nfs4LocksForgotten(Nfs4ClientState &state, const stateid4 &oldOpen)
{
    bool held = false;
    for (const HeldThrough &through : heldThrough(state, oldOpen)) {
        Reclaimed none;
        leave(through, oldOpen, oldOpen, none);
        held = held || !through.ranges.empty();
    }
    return held ? K_ENOLCK : 0;
}
