// Module-private: the record-lock codes of both drivers' open files (K_FIOGETLK, K_FIOSETLK,
// K_FIOSETLKW), served by the server's lock manager, and the release of the closing task's
// locks. The owner is the task the kernel layer names in the request.
//
// What a lock protects must be fresh: before a lock is asked for and before one is released,
// the cache's bytes of the file go out (and are committed); once one is granted, the file's
// cached lines are dropped and its attributes read again, so that reads under the lock see
// what other clients wrote before it.
//
// A wait (K_FIOSETLKW) asks again and again without blocking on the server, pausing longer
// each time, and holds the file's semaphore only while it asks: other tasks' calls on the
// same open file, the holder's unlock among them, go on meanwhile. It ends when the lock is
// granted, with K_EINTR when the task is asked to stop, or with a failure other than a
// conflict.
//
// After a server restart the held ranges are reclaimed (nlmReclaim.h) before the next lock
// call, and at the entry of a descriptor's read, write, sync, lock call or close; a lock that
// did not come back fails that descriptor's next such call once with K_ENOLCK, as version 4
// reports its own.
#ifndef NFS_LOCK_NLMFILELOCK_H
#define NFS_LOCK_NLMFILELOCK_H

#include "cache/nfsCacheFile.h"
#include "core/nfsResult.h"
#include "drv/nfsDrvRecords.h"
#include "lock/nlmCall.h"
#include "lock/nlmHeld.h"
#include "lock/nlmReclaim.h"
#include "lock/nlmWait.h"
#include "lock/nlmXdr.h"

#include <brisnel/nfsErrors.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>
#include <kernel/taskLib.h>

#include <string>

namespace nlmfile {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

inline bool lockCode(int function)
{
    return function == K_FIOGETLK || function == K_FIOSETLK || function == K_FIOSETLKW;
}

// The calls besides read, write and close on which a descriptor reports a lost lock.
inline bool tellsLoss(int function)
{
    return function == K_FIOSYNC || lockCode(function);
}

template <typename V> NlmHeldFile heldOf(const typename V::File *file, uintptr_t task)
{
    const NfsFh fh = V::handleOf(*file);
    return NlmHeldFile{file->pDev,
                       file->pDev->host,
                       file->pDev->options,
                       V::version == 2 ? NLM_V1 : NLM_V4,
                       std::string(reinterpret_cast<const char *>(fh.bytes.data()), fh.length),
                       task,
                       {}};
}

inline NlmRange rangeOf(const klockarg &arg)
{
    return NlmRange{arg.type == K_F_WRLCK, arg.start, arg.len};
}

// Every cached byte of the file out and committed (with drop: the file's lines dropped too).
template <typename V> Status settled(typename V::File *file, bool drop)
{
    return nfsres::statusOf(nfsres::viaErrno(
        [file, drop] { return nfscache::fileSettle(file->pCache, file->attr.fileid, V::version, drop); }));
}

// After a grant: the file's cached lines and attributes are those of before the lock. A
// failure leaves them (the lock stays granted): the next read asks the server anyway for
// what the cache no longer has.
template <typename V> void refreshed(typename V::File *file)
{
    if (settled<V>(file, true).ok())
        static_cast<void>(V::attrFresh(file));
}

// One LOCK that does not block, the file's data out first: the server's status (a lost
// answer is withdrawn and fails), the grant noted for the release.
template <typename V> Result<uint32_t> lockOnce(typename V::File *file, const klockarg &arg)
{
    if (const Status out = settled<V>(file, false); !out.ok())
        return out.fail();
    const NlmHeldFile held = heldOf<V>(file, arg.owner);
    const Result<uint32_t> stat = nlmLock(held.target(), rangeOf(arg));
    if (!stat.ok()) {
        // The server may have granted it all the same: withdrawn, and noted for the release.
        nlmCancel(held.target(), rangeOf(arg));
        static_cast<void>(nlmHeldNote(held, nullptr));
        return stat;
    }
    if (stat.value() != NLM4_GRANTED)
        return stat;
    const NlmRange granted = rangeOf(arg);
    if (!nlmHeldNote(held, &granted)) {
        static_cast<void>(nlmUnlock(held.target(), rangeOf(arg)));
        return Fail{K_ENOMEM};
    }
    refreshed<V>(file);
    return stat;
}

// The range released, after what was written under it went out. A write-back that fails
// leaves its lines for the next sync and the close to report; the unlock goes on.
template <typename V> Result<int> unlock(typename V::File *file, const klockarg &arg)
{
    static_cast<void>(settled<V>(file, false));
    const NlmHeldFile held = heldOf<V>(file, arg.owner);
    const Result<uint32_t> stat = nlmUnlock(held.target(), rangeOf(arg));
    if (!stat.ok())
        return stat.fail();
    if (stat.value() != NLM4_GRANTED)
        return Fail{nlmStatError(stat.value())};
    nlmHeldCut(held, rangeOf(arg));
    return 0;
}

template <typename V> Result<int> test(typename V::File *file, klockarg *arg)
{
    const Result<NlmConflict> found = nlmTest(heldOf<V>(file, arg->owner).target(), rangeOf(*arg));
    if (!found.ok())
        return found.fail();
    const NlmConflict &conflict = found.value();
    if (conflict.stat == NLM4_GRANTED) {
        arg->type = K_F_UNLCK;
        return 0;
    }
    if (conflict.stat != NLM4_DENIED)
        return Fail{nlmStatError(conflict.stat)};
    arg->type = conflict.exclusive ? K_F_WRLCK : K_F_RDLCK;
    arg->start = conflict.start;
    arg->len = conflict.length;
    arg->owner = static_cast<uint32_t>(conflict.svid);
    return 0;
}

// One request under the file's semaphore: the unlock's, the test's or one LOCK's result
// (*stat then holds the server's status).
template <typename V> Result<int> once(typename V::File *file, int function, klockarg *arg, uint32_t *stat)
{
    const nfsdrv::FileLock lock(file);
    if (!lock.held())
        return Fail{0}; // semTake set the error number
    if (function == K_FIOGETLK)
        return test<V>(file, arg);
    if (arg->type == K_F_UNLCK)
        return unlock<V>(file, *arg);
    const Result<uint32_t> got = lockOnce<V>(file, *arg);
    if (!got.ok())
        return got.fail();
    *stat = got.value();
    return got.value() == NLM4_GRANTED ? Result<int>(0) : Fail{nlmStatError(got.value())};
}

// The lock codes on an open file; the file's semaphore is not held by the caller.
template <typename V> Result<int> managed(typename V::File *file, int function, intptr_t arg)
{
    auto *request = reinterpret_cast<klockarg *>(arg);
    if (request == nullptr || file->pDev == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    if (request->type != K_F_RDLCK && request->type != K_F_WRLCK &&
        (request->type != K_F_UNLCK || function == K_FIOGETLK))
        return Fail{K_EINVAL};
    NlmWait wait;
    for (;;) {
        uint32_t stat = NLM4_GRANTED;
        const Result<int> done = once<V>(file, function, request, &stat);
        if (done.ok() || function != K_FIOSETLKW || !nlmWaitGoesOn(stat))
            return done;
        if (!wait.pause())
            return Fail{K_EINTR};
    }
}

// The closing task's locks on the file, released on its server.
// (Version 4 releases its own, before the file's CLOSE: nfs4Driver.h.)
template <typename V> void closeRelease(const typename V::File *file)
{
    if constexpr (V::version <= 3) {
        const TaskRecord *task = taskIdCurrent();
        if (task == nullptr || file->pDev == nullptr)
            return;
        const NlmHeldFile mine = heldOf<V>(file, task->taskId);
        nlmHeldRelease(nlmHeldTakeFile(mine.dev, mine.fh, mine.task));
    }
}

// A new descriptor reports only the losses after its open.
template <typename V> void opened(typename V::File *file)
{
    if constexpr (V::version <= 3) {
        const NfsFh fh = V::handleOf(*file);
        file->locksLostTold =
            nlmHeldLosses(file->pDev, std::string(reinterpret_cast<const char *>(fh.bytes.data()), fh.length));
    }
}

// K_ENOLCK (34, the error a kernel layer without locks gives: the lock is not held) when a
// restart took a lock on the file since the descriptor last said so; once per loss.
template <typename V> Status locksLost(typename V::File *file)
{
    if (file == nullptr || file->pDev == nullptr || !nlmHeldAnyLoss())
        return {}; // the call itself refuses a null file
    const nfsdrv::FileLock lock(file);
    if (!lock.held())
        return {};
    const NfsFh fh = V::handleOf(*file);
    const uint32_t losses =
        nlmHeldLosses(file->pDev, std::string(reinterpret_cast<const char *>(fh.bytes.data()), fh.length));
    if (losses == file->locksLostTold)
        return {};
    file->locksLostTold = losses;
    return Fail{K_ENOLCK};
}

// The reclaims a restart of the file's server left due, made now (no semaphore of the file
// is held): before the descriptor's call, and after it when the call itself met the restart
// (a write or COMMIT reply's new verifier), while the server's grace period still runs.
template <typename V> void reclaimsMade(const typename V::File *file)
{
    if (file != nullptr && file->pDev != nullptr)
        static_cast<void>(nlmReclaimIfDue(file->pDev->host));
}

// CALL on FILE, a descriptor of a version 2 or 3 device, with a lock loss reported as version
// 4 reports it: one known before fails the call unmade; one the call met itself takes the
// place of the call's own failure, else waits for the next call.
template <typename V, typename Call> auto lossFirst(typename V::File *file, Call call) -> decltype(call())
{
    reclaimsMade<V>(file);
    if (const Status lost = locksLost<V>(file); !lost.ok())
        return lost.fail();
    auto result = call();
    reclaimsMade<V>(file);
    if (!result.ok()) {
        if (const Status lost = locksLost<V>(file); !lost.ok())
            return lost.fail();
    }
    return result;
}

} // namespace nlmfile

#endif
