// Module-private: the files on which each task may hold locks of a lock manager, per device,
// so that a close, a task's deletion or an unmount can release them on the server, and the
// ranges each task holds there, so that a server restart can have them back (nlmReclaim.h).
// An entry says "this task has had a lock granted on this file"; a release unlocks the whole
// file for the task, which costs an UNLOCK where nothing was left and loses nothing. The
// ranges are kept as the server keeps them under POSIX rules (the same range set as version
// 4's lock states): a lock replaces the owner's own locks over its range, touching ranges of
// one type merge, an unlock cuts its range out.
//
// Also the count of locks a restart took per file (each device's), which every descriptor of
// the file opened before the loss reports once.
//
// Lock order: the list's semaphore is taken last, after an open file's and never across a call.
#ifndef NFS_LOCK_NLMHELD_H
#define NFS_LOCK_NLMHELD_H

#include "lock/nlmCall.h"
#include "state/nfs4LockRanges.h"

#include <brisnel/nfsDrvLib.h>

#include <cstdint>
#include <string>
#include <vector>

// What an unlock or a reclaim needs, copied so that it outlives the file and the device.
struct NlmHeldFile {
    const void *dev;
    std::string host;
    NfsMountOptions options;
    uint32_t version;
    std::string fh;
    uintptr_t task;
    Nfs4LockRanges ranges; // what the task holds on the file, as far as the server said so

    NlmTarget target() const
    {
        return NlmTarget{host.c_str(), version, fh.data(), static_cast<u_int>(fh.size()), task};
    }
};

// Notes a file the task may hold locks on, with GRANTED (when not null) among its ranges;
// false when memory ran out (the lock is then released by the caller).
bool nlmHeldNote(const NlmHeldFile &file, const NlmRange *granted);
// RANGE released by the task on the file.
void nlmHeldCut(const NlmHeldFile &file, const NlmRange &range);
// Takes out the entries of one task on one file, of one task anywhere, or of one device (its
// loss counts go too).
std::vector<NlmHeldFile> nlmHeldTakeFile(const void *dev, const std::string &fh, uintptr_t task);
std::vector<NlmHeldFile> nlmHeldTakeTask(uintptr_t task);
std::vector<NlmHeldFile> nlmHeldTakeDevice(const void *dev);
// Unlocks each file whole for its task on its server, under its device's call settings.
void nlmHeldRelease(const std::vector<NlmHeldFile> &files);

// Copies of the entries on HOST that hold a range.
std::vector<NlmHeldFile> nlmHeldOn(const std::string &host);
// Whether any entry on HOST holds a range.
bool nlmHeldAnyOn(const std::string &host);
// After a reclaim of FILE's ranges: KEPT are those the server gave back; LOST says one did
// not come back, which the file's loss count records.
void nlmHeldReclaimed(const NlmHeldFile &file, const Nfs4LockRanges &kept, bool lost);
// The count of locks on the file of DEV with handle FH that restarts took (0 when none).
uint32_t nlmHeldLosses(const void *dev, const std::string &fh);
// Whether a restart ever took a lock: until one did, descriptors' calls look no further.
bool nlmHeldAnyLoss();

#endif
