// The version 4 driver's record locks (nfs4Driver.h): the lock codes served by the protocol's
// own LOCK, LOCKT and LOCKU (state/nfs4Locks.h) with the task the kernel layer names as the
// owner, and their release at a close and at a task's deletion.
//
// A lock goes through the open of the descriptor it is asked on. The file's semaphore is held
// only to write the cache's bytes of the file out and to copy that open, never across the lock
// call: a wait (K_FIOSETLKW) asks again and again while other tasks' calls on the same open
// file, the holder's unlock among them, go on. Freshness follows the lock manager's rules
// (lock/nlmFileLock.h): the data out before a lock or an unlock, the cached lines dropped and
// the attributes read again once one is granted.
#include "drv/nfs4Driver.h"

#include "drv/nfsDrvRecords.h"
#include "lock/nlmFileLock.h"
#include "state/nfs4Locks.h"
#include "state/nfs4OpenRegistry.h"

#include <brisnel/nfsErrors.h>
#include <kernel/semGuard.h>
#include <kernel/semLib.h>
#include <kernel/taskLib.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

// The open a lock goes through, and the state it belongs to (the device's, held while the file
// is open).
struct LockThrough {
    Nfs4ClientState *state;
    Nfs4OpenFile open;
};

// The file's open copied under its semaphore, after the cache's bytes of the file went out
// (WRITE_BACK). A write-back that fails a lock fails it; an unlock goes on without it (the
// lines stay for the next sync and the close to report). A file without an open for data (a
// folder) takes no lock: K_EBADF.
Result<LockThrough> through(Nfs4File *file, bool writeBack, bool mustSettle)
{
    const nfsdrv::FileLock lock(file);
    if (!lock.held())
        return Fail{0}; // semTake set the error number
    if (file->open.owner == nullptr || file->fh.state == nullptr)
        return Fail{K_EBADF};
    if (writeBack) {
        const Status out = nlmfile::settled<Nfs4Driver>(file, false);
        if (!out.ok() && mustSettle)
            return out.fail();
    }
    return LockThrough{file->fh.state, file->open};
}

// After a grant: what other clients wrote before it is read again.
void refreshed(Nfs4File *file)
{
    const nfsdrv::FileLock lock(file);
    if (lock.held())
        nlmfile::refreshed<Nfs4Driver>(file);
}

Nfs4LockRange rangeOf(const klockarg &arg)
{
    return Nfs4LockRange{arg.type == K_F_WRLCK ? WRITE_LT : READ_LT, arg.start, arg.len};
}

// The conflict as K_FIOGETLK reports it: offsets past the largest signed one are cut to it, and
// a lock that runs past it runs to the end. The owner is the holding task when it is one of
// this program's, 0 for another client's (the protocol names an owner, not a process).
void reported(const Nfs4LockConflict &conflict, klockarg *arg)
{
    constexpr auto kLargest = static_cast<uint64_t>(INT64_MAX);
    arg->type = conflict.type == READ_LT ? K_F_RDLCK : K_F_WRLCK;
    arg->start = std::min(conflict.offset, kLargest);
    arg->len = conflict.length > kLargest - arg->start ? 0 : conflict.length;
    arg->owner = conflict.task;
}

bool interrupted()
{
    return taskInterrupted() != 0;
}

// The tasks that have asked for a lock, so that a task's deletion looks for its locks only
// where it may have some: the look takes the states' registry, under which the last user of a
// state waits for its renewal task to end (that task never locks).
SEM_ID lockersSem()
{
    static const SEM_ID sem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    return sem;
}

// Guarded by lockersSem. Never destroyed: tasks may still end while the process runs its exit
// handlers, and their delete hook looks here.
std::vector<uintptr_t> &lockers()
{
    static auto *list = new std::vector<uintptr_t>;
    return *list;
}

// False when memory ran out: the lock is then not asked for.
bool lockerNoted(uintptr_t task)
{
    const SemGuard guard(lockersSem());
    if (!guard.held())
        return false;
    std::vector<uintptr_t> &list = lockers();
    if (std::find(list.begin(), list.end(), task) != list.end())
        return true;
    try {
        list.push_back(task);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

// TASK taken off the list: whether it was on it.
bool lockerGone(uintptr_t task)
{
    const SemGuard guard(lockersSem());
    if (!guard.held())
        return false;
    std::vector<uintptr_t> &list = lockers();
    const auto found = std::find(list.begin(), list.end(), task);
    if (found == list.end())
        return false;
    list.erase(found);
    return true;
}

// A dying task's locks on every server. Its call context is already gone: they are released by
// a helper task, which the dying one waits for.
void dyingTaskLocksRelease(TaskRecord *dying)
{
    const uintptr_t task = dying->taskId;
    if (!lockerGone(task))
        return;
    std::thread helper([task] {
        nfs4StatesEach([task](Nfs4ClientState &state) { static_cast<void>(nfs4LockReleaseTask(state, task)); });
    });
    helper.join();
}

// The task noted as a locker, the delete hook installed with the first.
bool lockerReady(uintptr_t task)
{
    static std::once_flag hooked;
    std::call_once(hooked, [] { taskDeleteHookAdd(dyingTaskLocksRelease); });
    return lockerNoted(task);
}

} // namespace

Result<int> Nfs4Driver::lockServe(Nfs4File *file, int function, intptr_t arg)
{
    auto *request = reinterpret_cast<klockarg *>(arg);
    if (request == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    if (request->type != K_F_RDLCK && request->type != K_F_WRLCK &&
        (request->type != K_F_UNLCK || function == K_FIOGETLK))
        return Fail{K_EINVAL};
    const bool testing = function == K_FIOGETLK;
    const bool unlocking = !testing && request->type == K_F_UNLCK;
    const Result<LockThrough> by = through(file, !testing, !unlocking);
    NFS_TRY(by);
    Nfs4ClientState &state = *by.value().state;
    const Nfs4OpenFile &open = by.value().open;
    const Nfs4LockRange range = rangeOf(*request);
    if (testing) {
        const Result<std::optional<Nfs4LockConflict>> found = nfs4LockTest(state, open, request->owner, range);
        NFS_TRY(found);
        if (found.value().has_value())
            reported(*found.value(), request);
        else
            request->type = K_F_UNLCK;
        return 0;
    }
    if (unlocking)
        return nfsres::zeroOr(nfs4LockUnlock(state, open, request->owner, range));
    if (!lockerReady(request->owner)) // before the grant: a task that ends holding it is seen
        return Fail{K_ENOMEM};
    NFS_TRY(function == K_FIOSETLKW ? nfs4LockWait(state, open, request->owner, range, interrupted)
                                    : nfs4LockSet(state, open, request->owner, range));
    refreshed(file);
    return 0;
}

// The loss is the state's record (state/nfs4OpenRegistry.h); K_ENOLCK (34) is the error
// reported, the one a kernel layer without locks gives as well: the lock is not held.
Status Nfs4Driver::locksLost(Nfs4File *file)
{
    if (file == nullptr)
        return {}; // the call itself refuses it
    const nfsdrv::FileLock lock(file);
    if (!lock.held() || file->fh.state == nullptr)
        return {};
    const int lost = nfs4OpenLocksLostTold(*file->fh.state, file->open);
    return nfsres::statusOf(lost == 0, lost);
}

// Called under the file's semaphore by the close, after its data went out and before its
// CLOSE (which the server refuses while a lock stands through the open).
void Nfs4Driver::locksRelease(Nfs4File *file)
{
    Nfs4ClientState *state = file->fh.state;
    if (state == nullptr)
        return;
    if (const TaskRecord *closing = taskIdCurrent(); closing != nullptr)
        static_cast<void>(nfs4LockReleaseHandle(*state, file->fh.fh, closing->taskId));
    if (file->open.owner != nullptr)
        static_cast<void>(nfs4LockReleaseOpen(*state, file->open));
}
