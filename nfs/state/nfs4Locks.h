// Module-private: version 4 byte-range locks (LOCK, LOCKT, LOCKU, RELEASE_LOCKOWNER) of an open
// file, for the driver's lock codes. The owner is a task (the kernel layer's owner of a lock):
// its first lock through an open file goes with the open's state id and open-owner
// (open_to_lock_owner4), later ones with the lock state id the server gave (exist_lock_owner4),
// also through another open of the same file: the server keeps one lock state per owner and
// file, which goes with the open it was made through.
// The server keeps POSIX semantics: shared read locks, exclusive write locks, an owner's own
// locks replaced, split and merged by its later requests. A range is an offset and a length,
// length 0 running to the end of the file however far it grows (NFS4_UINT64_MAX on the wire).
// NFS4ERR_DELAY and NFS4ERR_GRACE are waited out within the call's time-out (nfs4Resend.h).
#ifndef NFS_STATE_NFS4LOCKS_H
#define NFS_STATE_NFS4LOCKS_H

#include "state/nfs4FileOpen.h"
#include "state/nfs4LockOwner.h"

#include <functional>
#include <optional>

// A lock asked for, tested or released: READ_LT or WRITE_LT, the range from OFFSET of LENGTH
// bytes (0: to the end). OFFSET + LENGTH past 2^64 fails with NFS_ERRNO_INVAL.
struct Nfs4LockRange {
    nfs_lock_type4 type = WRITE_LT;
    uint64_t offset = 0;
    uint64_t length = 0;
};

// A lock of another owner in the way: its type (READ_LT or WRITE_LT), range (length 0: to the
// end) and task, when the owner is a task of this program (0 otherwise).
struct Nfs4LockConflict {
    nfs_lock_type4 type = WRITE_LT;
    uint64_t offset = 0;
    uint64_t length = 0;
    uintptr_t task = 0;
};

// RANGE locked by TASK through FILE, not waiting: a conflicting lock fails with K_EAGAIN and,
// when CONFLICT is given, is written there.
nfsres::Status nfs4LockSet(Nfs4ClientState &state, const Nfs4OpenFile &file, uintptr_t task,
                           const Nfs4LockRange &range, Nfs4LockConflict *conflict = nullptr);

// RANGE locked by TASK through FILE, waiting while another owner holds a conflicting lock:
// asked again after a pause that grows to a second, with no limit but INTERRUPTED, which is
// asked at each pause and ends the wait with K_EINTR when it says true.
nfsres::Status nfs4LockWait(Nfs4ClientState &state, const Nfs4OpenFile &file, uintptr_t task,
                            const Nfs4LockRange &range, const std::function<bool()> &interrupted);

// The first lock of another owner than TASK that conflicts with RANGE (LOCKT), or none.
nfsres::Result<std::optional<Nfs4LockConflict>> nfs4LockTest(Nfs4ClientState &state, const Nfs4OpenFile &file,
                                                             uintptr_t task, const Nfs4LockRange &range);

// TASK's locks through FILE over RANGE released (its type is not looked at); a range TASK
// holds no lock on is released as well.
nfsres::Status nfs4LockUnlock(Nfs4ClientState &state, const Nfs4OpenFile &file, uintptr_t task,
                              const Nfs4LockRange &range);

// Every lock of TASK through FILE released and its lock state forgotten, as before the file's
// CLOSE (which fails with NFS4ERR_LOCKS_HELD while a lock is held). Over 4.0 an owner left with
// no lock state is released at the server (RELEASE_LOCKOWNER) and given up.
nfsres::Status nfs4LockReleaseFile(Nfs4ClientState &state, const Nfs4OpenFile &file, uintptr_t task);

// Every lock of TASK on the file FH released, through whichever open it was taken: a
// descriptor's close releases the closing task's locks on its file.
nfsres::Status nfs4LockReleaseHandle(Nfs4ClientState &state, const NfsFh &fh, uintptr_t task);

// Every owner's locks through FILE released, as before its CLOSE: a lock cannot outlive the
// open it was taken through. The first failure, after trying every owner.
nfsres::Status nfs4LockReleaseOpen(Nfs4ClientState &state, const Nfs4OpenFile &file);

// Every lock of TASK on every file released, as at the task's deletion; the first failure,
// after trying them all.
nfsres::Status nfs4LockReleaseTask(Nfs4ClientState &state, uintptr_t task);

// After a server restart, with the recovery semaphore held and the open whose state id was
// OLD_OPEN reclaimed as NEW_OPEN by OPEN_OWNER (the reclaim's own, which no task holds): every
// range each owner held through it asked for again with reclaim set (nfs4LockReclaim.cpp).
// 0 when all came back; K_ENOLCK when one did not (refused, NFS4ERR_NO_GRACE, RECLAIM_BAD,
// DENIED, or no answer): the lock is lost, and the open's files are told (nfs4OpenRegistry.h).
int nfs4ReclaimLocks(Nfs4ClientState &state, const stateid4 &oldOpen, const stateid4 &newOpen,
                     Nfs4OpenOwner &openOwner);

// The open whose state id was OLD_OPEN not given back by the server: the lock states through
// it forgotten; K_ENOLCK when one held a range (a lost lock the open's files are told of
// before the open's own refusal), else 0.
int nfs4LocksForgotten(Nfs4ClientState &state, const stateid4 &oldOpen);

#endif
