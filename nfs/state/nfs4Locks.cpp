// Version 4 LOCK, LOCKT and LOCKU by a task's lock-owner, the release of a task's locks, and
// RELEASE_LOCKOWNER over 4.0. LOCK and LOCKU carry the lock-owner's sequence id, and the first
// LOCK through an open carries its open-owner's as well; each is advanced as the answer says.
#include "state/nfs4Locks.h"

#include "state/nfs4OpenRegistry.h"
#include "state/nfs4Resend.h"

#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

namespace {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

constexpr int kTimedOut = K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT;
constexpr u_int kLockOp = 1;               // LOCK, LOCKT and LOCKU follow their PUTFH
constexpr uint64_t kToTheEnd = UINT64_MAX; // a length that runs to the end of the file
constexpr std::chrono::milliseconds kFirstPause{50};
constexpr std::chrono::milliseconds kLongestPause{1000};
constexpr std::chrono::milliseconds kInterruptCheck{50};

struct WireRange {
    nfs_lock_type4 type;
    uint64_t offset;
    uint64_t length; // as sent: kToTheEnd for "to the end"
};

struct LockRequest {
    const Nfs4OpenFile *file;
    uintptr_t task;
    WireRange range;
};

// The request for RANGE, its length as the wire has it; NFS_ERRNO_INVAL for a range past 2^64,
// a type other than READ_LT and WRITE_LT (and their waiting twins when WAITING), or a file not
// opened.
Result<LockRequest> requestOf(const Nfs4OpenFile &file, uintptr_t task, const Nfs4LockRange &range,
                              bool waiting = false)
{
    const bool known = range.type == READ_LT || range.type == WRITE_LT ||
                       (waiting && (range.type == READW_LT || range.type == WRITEW_LT));
    if (!known || file.owner == nullptr || file.fh.empty() || task == 0)
        return Fail{NFS_ERRNO_INVAL};
    if (range.length == 0)
        return LockRequest{&file, task, {range.type, range.offset, kToTheEnd}};
    if (range.length > kToTheEnd - range.offset)
        return Fail{NFS_ERRNO_INVAL};
    return LockRequest{&file, task, {range.type, range.offset, range.length}};
}

Nfs4LockConflict conflictOf(const LOCK4denied &denied, clientid4 client)
{
    const nfs_lock_type4 type =
        denied.locktype == READ_LT || denied.locktype == READW_LT ? READ_LT : WRITE_LT;
    return Nfs4LockConflict{type, denied.offset, denied.length == kToTheEnd ? 0 : denied.length,
                            nfs4LockOwnerTask(denied.owner, client)};
}

// OPS through STATE. Over 4.0 a call left without an answer is sent again once as it was, with
// the same sequence ids: the server answers a replay of one it took as it answered it, and
// takes one it never saw, so the ids stay known.
Status callReplaying(Nfs4ClientState &state, uint32_t minor, const Nfs4Ops &ops, Nfs4Reply &reply)
{
    const Status status = nfs4StateCall(state, ops.ops, ops.n, reply);
    if (minor != 0 || reply.answered())
        return status;
    return nfs4StateCall(state, ops.ops, ops.n, reply);
}

// A LOCK's answer: the lock state's id kept, or the conflict given back with K_EAGAIN.
Status lockAnswered(const Status &status, const Nfs4Reply &reply, Nfs4LockState &held, clientid4 client,
                    Nfs4LockConflict *conflict)
{
    if (status.ok()) {
        held.stateid = reply[kLockOp].nfs_resop4_u.opstateid;
        return {};
    }
    if (reply.count() <= kLockOp || reply[kLockOp].status != NFS4ERR_DENIED)
        return status;
    if (conflict != nullptr)
        *conflict = conflictOf(reply[kLockOp].nfs_resop4_u.opdenied, client);
    return Fail{K_EAGAIN};
}

// What the server granted or released through HELD, kept in its range set for a reclaim after
// a restart. A set out of memory misses the range: only its reclaim could be the worse for it.
void noteGranted(Nfs4LockOwner &owner, Nfs4LockState &held, const WireRange &range)
{
    const SemGuard guard(owner.guard);
    (void)held.ranges.lock(range.type, range.offset, range.length);
}

void noteReleased(Nfs4LockOwner &owner, Nfs4LockState &held, const WireRange &range)
{
    const SemGuard guard(owner.guard);
    (void)held.ranges.unlock(range.offset, range.length);
}

void setLockArgs(LOCK4args &lock, const WireRange &range)
{
    lock.locktype = range.type;
    lock.reclaim = FALSE;
    lock.offset = range.offset;
    lock.length = range.length;
}

// The owner's first lock through the open: open_to_lock_owner4 with the open's state id and
// owner of now (a reclaim's after a restart), a lock state made for it when the server grants it.
Status lockFirst(Nfs4ClientState &state, Nfs4LockSeqidUse &use, const LockRequest &request,
                 const Nfs4OpenNow &open, clientid4 client, Nfs4LockConflict *conflict)
{
    const Nfs4OpenFile &file = *request.file;
    Nfs4SeqidUse openUse(*open.owner, use.minor(), nfs4CallTicks());
    if (!openUse.held())
        return Fail{kTimedOut};
    Nfs4Ops ops;
    ops.putFh(file.fh);
    LOCK4args &lock = ops.add(OP_LOCK).nfs_argop4_u.oplock;
    setLockArgs(lock, request.range);
    lock.locker.new_lock_owner = TRUE;
    open_to_lock_owner4 &locker = lock.locker.locker4_u.open_owner;
    locker.open_seqid = openUse.seqid();
    locker.open_stateid = open.stateid;
    locker.lock_seqid = use.seqid();
    locker.lock_owner = nfs4LockOwnerOf(use.owner(), client);
    Nfs4Reply reply;
    const Status status = callReplaying(state, use.minor(), ops, reply);
    openUse.settle(reply, kLockOp, state.openOwners);
    use.settle(reply, kLockOp, state.lockOwners);
    Nfs4LockState made;
    made.fh = file.fh;
    std::copy(std::begin(open.stateid.other), std::end(open.stateid.other), made.open.begin());
    const Status answered = lockAnswered(status, reply, made, client, conflict);
    if (answered.ok()) {
        const SemGuard guard(use.owner().guard);
        (void)made.ranges.lock(request.range.type, request.range.offset, request.range.length);
        use.owner().states.push_back(made);
    }
    return answered;
}

// A later lock through the open: exist_lock_owner4 with the lock state's id.
Status lockAgain(Nfs4ClientState &state, Nfs4LockSeqidUse &use, Nfs4LockState &held,
                 const LockRequest &request, clientid4 client, Nfs4LockConflict *conflict)
{
    Nfs4Ops ops;
    ops.putFh(held.fh);
    LOCK4args &lock = ops.add(OP_LOCK).nfs_argop4_u.oplock;
    setLockArgs(lock, request.range);
    lock.locker.new_lock_owner = FALSE;
    lock.locker.locker4_u.lock_owner = exist_lock_owner4{held.stateid, use.seqid()};
    Nfs4Reply reply;
    const Status status = callReplaying(state, use.minor(), ops, reply);
    use.settle(reply, kLockOp, state.lockOwners);
    const Status answered = lockAnswered(status, reply, held, client, conflict);
    if (answered.ok())
        noteGranted(use.owner(), held, request.range);
    return answered;
}

// Under the owner's inUse: its lock state for the file FH, the one made through the open OPEN
// (its state id of the moment) or else one made through another open of the same file (the
// server keeps one per owner and file, and refuses a second open_to_lock_owner4 for it).
Nfs4LockState *stateFor(Nfs4LockOwner &owner, const stateid4 &open, const NfsFh &fh)
{
    if (Nfs4LockState *held = owner.stateOf(open))
        return held;
    const auto onFile = std::find_if(owner.states.begin(), owner.states.end(),
                                     [&fh](const Nfs4LockState &held) { return held.fh == fh; });
    return onFile == owner.states.end() ? nullptr : &*onFile;
}

Status lockOnce(Nfs4ClientState &state, const LockRequest &request, Nfs4LockConflict *conflict)
{
    const Result<Nfs4OpenNow> open = nfs4OpenNow(state, *request.file);
    NFS_TRY(open);
    const Nfs4StateNow now = nfs4StateNow(state);
    Nfs4LockOwner *owner = state.lockOwners.ofTask(request.task);
    if (owner == nullptr)
        return Fail{K_ENOMEM};
    Nfs4LockSeqidUse use(*owner, now.minor, nfs4CallTicks());
    if (!use.held())
        return Fail{kTimedOut};
    if (Nfs4LockState *held = stateFor(*owner, open.value().stateid, request.file->fh))
        return lockAgain(state, use, *held, request, now.clientId, conflict);
    return lockFirst(state, use, request, open.value(), now.clientId, conflict);
}

// LOCKU of RANGE by the owner of USE through HELD.
Status unlockWith(Nfs4ClientState &state, Nfs4LockSeqidUse &use, Nfs4LockState &held, const WireRange &range)
{
    Nfs4Ops ops;
    ops.putFh(held.fh);
    LOCKU4args &unlock = ops.add(OP_LOCKU).nfs_argop4_u.oplocku;
    unlock.locktype = range.type;
    unlock.seqid = use.seqid();
    unlock.lock_stateid = held.stateid;
    unlock.offset = range.offset;
    unlock.length = range.length;
    Nfs4Reply reply;
    const Status status = callReplaying(state, use.minor(), ops, reply);
    use.settle(reply, kLockOp, state.lockOwners);
    if (status.ok()) {
        held.stateid = reply[kLockOp].nfs_resop4_u.opstateid;
        noteReleased(use.owner(), held, range);
    }
    return status;
}

// The lock state no longer stands at the server: nothing is left to release through it.
bool stateGone(const Status &status)
{
    return status.error() == nfs4Error(NFS4ERR_BAD_STATEID) ||
           status.error() == nfs4Error(NFS4ERR_STALE_STATEID) || status.error() == nfs4Error(NFS4ERR_EXPIRED);
}

// Every lock of the owner of USE through HELD released; the lock state forgotten once nothing
// is held through it.
Status releaseState(Nfs4ClientState &state, Nfs4LockSeqidUse &use, std::list<Nfs4LockState>::iterator held)
{
    constexpr WireRange whole{WRITE_LT, 0, kToTheEnd};
    const Status status = nfs4Resending([&] { return unlockWith(state, use, *held, whole); });
    if (!status.ok() && !stateGone(status))
        return status;
    const SemGuard guard(use.owner().guard);
    use.owner().states.erase(held);
    return {};
}

// Over 4.0, an owner left with no lock state released at the server and given up.
Status releaseOwnerIfIdle(Nfs4ClientState &state, Nfs4LockSeqidUse &use)
{
    if (use.minor() != 0 || !use.owner().states.empty())
        return {};
    Nfs4Ops ops;
    ops.add(OP_RELEASE_LOCKOWNER).nfs_argop4_u.oprelease_lockowner =
        nfs4LockOwnerOf(use.owner(), nfs4StateNow(state).clientId);
    Nfs4Reply reply;
    const Status status = nfs4FileCall(state, ops.ops, ops.n, reply);
    state.lockOwners.retire(use.owner());
    return status;
}

// Sleeps PAUSE in short steps; false as soon as INTERRUPTED says so.
bool pauseUnlessInterrupted(std::chrono::milliseconds pause, const std::function<bool()> &interrupted)
{
    for (std::chrono::milliseconds slept{0}; slept < pause; slept += kInterruptCheck) {
        if (interrupted && interrupted())
            return false;
        std::this_thread::sleep_for(std::min(kInterruptCheck, pause - slept));
    }
    return !(interrupted && interrupted());
}

Status lockSet(Nfs4ClientState &state, const LockRequest &request, Nfs4LockConflict *conflict)
{
    return nfs4Resending([&] { return lockOnce(state, request, conflict); });
}

} // namespace

Status nfs4LockSet(Nfs4ClientState &state, const Nfs4OpenFile &file, uintptr_t task,
                   const Nfs4LockRange &range, Nfs4LockConflict *conflict)
{
    const Result<LockRequest> request = requestOf(file, task, range);
    NFS_TRY(request);
    return lockSet(state, request.value(), conflict);
}

Status nfs4LockWait(Nfs4ClientState &state, const Nfs4OpenFile &file, uintptr_t task,
                    const Nfs4LockRange &range, const std::function<bool()> &interrupted)
{
    Nfs4LockRange waiting = range;
    waiting.type = range.type == READ_LT ? READW_LT : range.type == WRITE_LT ? WRITEW_LT : range.type;
    const Result<LockRequest> request = requestOf(file, task, waiting, true);
    NFS_TRY(request);
    for (std::chrono::milliseconds pause = kFirstPause;; pause = std::min(pause * 2, kLongestPause)) {
        const Status status = lockSet(state, request.value(), nullptr);
        if (status.ok() || status.error() != K_EAGAIN)
            return status;
        if (!pauseUnlessInterrupted(pause, interrupted))
            return Fail{K_EINTR};
    }
}

Result<std::optional<Nfs4LockConflict>> nfs4LockTest(Nfs4ClientState &state, const Nfs4OpenFile &file,
                                                     uintptr_t task, const Nfs4LockRange &range)
{
    const Result<LockRequest> request = requestOf(file, task, range);
    NFS_TRY(request);
    Nfs4LockOwner *owner = state.lockOwners.ofTask(task);
    if (owner == nullptr)
        return Fail{K_ENOMEM};
    const clientid4 client = nfs4StateNow(state).clientId;
    Nfs4Ops ops;
    ops.putFh(file.fh);
    LOCKT4args &test = ops.add(OP_LOCKT).nfs_argop4_u.oplockt;
    test.locktype = request.value().range.type;
    test.offset = request.value().range.offset;
    test.length = request.value().range.length;
    test.owner = nfs4LockOwnerOf(*owner, client);
    Nfs4Reply reply;
    const Status status = nfs4FileCall(state, ops.ops, ops.n, reply);
    if (reply.count() > kLockOp && reply[kLockOp].status == NFS4ERR_DENIED)
        return std::optional(conflictOf(reply[kLockOp].nfs_resop4_u.opdenied, client));
    NFS_TRY(status);
    return std::optional<Nfs4LockConflict>{};
}

Status nfs4LockUnlock(Nfs4ClientState &state, const Nfs4OpenFile &file, uintptr_t task,
                      const Nfs4LockRange &range)
{
    const Result<LockRequest> request = requestOf(file, task, range);
    NFS_TRY(request);
    return nfs4Resending([&]() -> Status {
        Nfs4LockOwner *owner = state.lockOwners.find(task);
        if (owner == nullptr)
            return {};
        Nfs4LockSeqidUse use(*owner, nfs4StateNow(state).minor, nfs4CallTicks());
        if (!use.held())
            return Fail{kTimedOut};
        const Result<Nfs4OpenNow> open = nfs4OpenNow(state, file);
        Nfs4LockState *held = open.ok() ? stateFor(*owner, open.value().stateid, file.fh) : nullptr;
        return held == nullptr ? Status{} : unlockWith(state, use, *held, request.value().range);
    });
}

namespace {

// TASK's lock states that MATCH released; over 4.0 the owner given up once it holds none.
template <typename Match> Status releaseWhere(Nfs4ClientState &state, uintptr_t task, Match match)
{
    Nfs4LockOwner *owner = state.lockOwners.find(task);
    if (owner == nullptr)
        return {};
    Nfs4LockSeqidUse use(*owner, nfs4StateNow(state).minor, nfs4CallTicks());
    if (!use.held())
        return Fail{kTimedOut};
    Status first;
    bool released = false;
    for (auto held = owner->states.begin(); held != owner->states.end();) {
        const auto next = std::next(held);
        if (match(*held)) {
            released = true;
            const Status status = releaseState(state, use, held);
            if (!status.ok() && first.ok())
                first = status;
        }
        held = next;
    }
    if (!first.ok() || !released)
        return first;
    return releaseOwnerIfIdle(state, use);
}

bool throughOpen(const Nfs4LockState &held, const stateid4 &open)
{
    return std::equal(held.open.begin(), held.open.end(), std::begin(open.other));
}

} // namespace

Status nfs4LockReleaseFile(Nfs4ClientState &state, const Nfs4OpenFile &file, uintptr_t task)
{
    const Result<Nfs4OpenNow> open = nfs4OpenNow(state, file);
    if (!open.ok())
        return {}; // an open the server would not give back holds no lock there
    const stateid4 openId = open.value().stateid;
    return releaseWhere(state, task, [&openId](const Nfs4LockState &held) { return throughOpen(held, openId); });
}

Status nfs4LockReleaseHandle(Nfs4ClientState &state, const NfsFh &fh, uintptr_t task)
{
    return releaseWhere(state, task, [&fh](const Nfs4LockState &held) { return held.fh == fh; });
}

Status nfs4LockReleaseOpen(Nfs4ClientState &state, const Nfs4OpenFile &file)
{
    Status first;
    for (const uintptr_t task : state.lockOwners.tasks()) {
        const Status status = nfs4LockReleaseFile(state, file, task);
        if (!status.ok() && first.ok())
            first = status;
    }
    return first;
}

Status nfs4LockReleaseTask(Nfs4ClientState &state, uintptr_t task)
{
    Nfs4LockOwner *owner = state.lockOwners.find(task);
    if (owner == nullptr)
        return {};
    Nfs4LockSeqidUse use(*owner, nfs4StateNow(state).minor, nfs4CallTicks());
    if (!use.held())
        return Fail{kTimedOut};
    Status first;
    for (auto held = owner->states.begin(); held != owner->states.end();) {
        const auto next = std::next(held);
        const Status status = releaseState(state, use, held);
        if (!status.ok() && first.ok())
            first = status;
        held = next;
    }
    const Status released = releaseOwnerIfIdle(state, use);
    return first.ok() ? released : first;
}
