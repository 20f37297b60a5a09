// The reclaim of a state's opens after the server made a new client record: each opened again
// by its handle with CLAIM_PREVIOUS (over 4.0 confirmed when the server asks), by an owner of
// its own that no task holds, the locks held through it reclaimed next (nfs4Locks.h), and over
// 4.1 RECLAIM_COMPLETE once every open had its try.
#include "state/nfs4FileAttrs.h"
#include "state/nfs4FileOpen.h"
#include "state/nfs4Locks.h"
#include "state/nfs4OpenRegistry.h"
#include "state/nfs4Resend.h"

#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

namespace {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

constexpr int kTimedOut = K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT;
constexpr u_int kStateOp = 1; // OPEN and OPEN_CONFIRM follow their PUTFH
// Passes over the registry: a pass meets the opens a new client record made stale while the
// one before it ran (the server restarted again).
constexpr int kMostPasses = 4;

// A reclaim's failure that is the server's refusal of this open (NFS4ERR_NO_GRACE,
// RECLAIM_BAD, a file gone, ...), not a call that did not get through or a state being
// recovered again.
bool refused(int error)
{
    if ((error & ~0xFFFF) != NFS_ERRNO_BASE || error == NFS_ERRNO_INVAL)
        return false;
    switch (static_cast<nfsstat4>(error & 0xFFFF)) {
    case NFS4ERR_DELAY:
    case NFS4ERR_GRACE:
    case NFS4ERR_BADSESSION:
    case NFS4ERR_DEADSESSION:
    case NFS4ERR_STALE_CLIENTID:
    case NFS4ERR_EXPIRED:
    case NFS4ERR_BAD_SEQID:
    case NFS4ERR_RESOURCE: return false;
    default: return true;
    }
}

/* OPEN4args with claim CLAIM_PREVIOUS: the current filehandle is the file itself, no
 * delegation was held. ACCESS is every sharer's of the open, read under the guard; the open's
 * handle never changes: read without it. */
Result<stateid4> reclaimOnce(Nfs4ClientState &state, const Nfs4OpenEntry &record, uint32_t access,
                             Nfs4OpenOwner &owner)
{
    const Nfs4StateNow now = nfs4StateNow(state);
    Nfs4SeqidUse use(owner, now.minor, nfs4CallTicks());
    if (!use.held())
        return Fail{kTimedOut};
    Nfs4Ops ops;
    ops.putFh(record.fh);
    OPEN4args &open = ops.add(OP_OPEN).nfs_argop4_u.opopen;
    open.seqid = use.seqid();
    open.share_access = access;
    open.share_deny = OPEN4_SHARE_DENY_NONE;
    open.owner = nfs4OwnerOf(owner, now.clientId);
    open.openhow.opentype = OPEN4_NOCREATE;
    open.claim.claim = CLAIM_PREVIOUS;
    open.claim.open_claim4_u.delegate_type = OPEN_DELEGATE_NONE;
    Nfs4Reply reply;
    const Status status = nfs4StateCall(state, ops.ops, ops.n, reply);
    use.settle(reply, kStateOp, state.openOwners);
    NFS_TRY(status);
    const OPEN4resok &opened = reply[kStateOp].nfs_resop4_u.opopen;
    if (now.minor == 0 && (opened.rflags & OPEN4_RESULT_CONFIRM) != 0)
        return nfs4OpenConfirm(state, use, record.fh, opened.stateid);
    return opened.stateid;
}

// Over 4.1: the server told that this client has reclaimed all it will.
void reclaimComplete(Nfs4ClientState &state)
{
    nfs_argop4 op{};
    op.argop = OP_RECLAIM_COMPLETE;
    op.nfs_argop4_u.opreclaim_complete = 0; // rca_one_fs: for every file system
    Nfs4Reply reply;
    (void)nfs4FileCall(state, &op, 1, reply).ok(); // NFS4ERR_COMPLETE_ALREADY included: nothing to do
}

} // namespace

void nfs4ReclaimOpen(Nfs4ClientState &state, Nfs4OpenEntry &record)
{
    uint32_t epoch = 0;
    uint32_t access = 0;
    stateid4 before{};
    {
        const SemGuard guard(state.guard);
        if (!record.listed || record.lost != 0 || record.epoch == state.epoch)
            return;
        epoch = state.epoch;
        access = record.access;
        before = record.stateid;
    }
    Nfs4OpenOwner *owner = state.openOwners.spare();
    Result<stateid4> stateid = Fail{K_ENOMEM};
    if (owner != nullptr) {
        const Status tried = nfs4Resending([&]() -> Status {
            stateid = reclaimOnce(state, record, access, *owner);
            return nfsres::statusOf(stateid);
        });
        (void)tried.ok();
    }
    // The locks through it, while the reclaim's owner is still this task's alone; those
    // through an open refused are lost with it.
    const bool openLost = !stateid.ok() && (owner == nullptr || refused(stateid.error()));
    int locksLost = 0;
    if (stateid.ok())
        locksLost = nfs4ReclaimLocks(state, before, stateid.value(), *owner);
    else if (openLost)
        locksLost = nfs4LocksForgotten(state, before);
    const SemGuard guard(state.guard);
    if (locksLost != 0) {
        record.locksLost = locksLost;
        ++record.locksLostCount;
    }
    if (stateid.ok()) {
        record.stateid = stateid.value();
        record.owner = owner;
        record.epoch = epoch; // a client record made meanwhile leaves it stale for the next pass
    } else if (openLost) {
        record.lost = stateid.error();
    }
}

void nfs4ReclaimOpens(Nfs4ClientState &state)
{
    {
        const SemGuard guard(state.guard);
        if (state.reclaiming)
            return; // a re-establishment inside the pass's own calls: the pass goes on
        state.reclaiming = true;
    }
    for (int pass = 0; pass < kMostPasses; ++pass) {
        std::vector<Nfs4OpenEntry *> stale;
        {
            const SemGuard guard(state.guard);
            try {
                stale = state.opens.stale(state.epoch);
            } catch (const std::bad_alloc &) {
                break; // each open is reclaimed at its next call instead
            }
        }
        if (stale.empty())
            break;
        for (Nfs4OpenEntry *record : stale)
            nfs4ReclaimOpen(state, *record);
        const SemGuard guard(state.guard);
        for (Nfs4OpenEntry *record : stale)
            state.opens.release(record);
    }
    bool due = false;
    {
        const SemGuard guard(state.guard);
        due = state.reclaimCompleteDue;
        state.reclaimCompleteDue = false;
    }
    if (due)
        reclaimComplete(state);
    const SemGuard guard(state.guard);
    state.reclaiming = false;
}
