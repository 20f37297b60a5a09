// Module-private: the files on which each task may hold locks of a lock manager, per device,
// so that a close, a task's deletion or an unmount can release them on the server. An entry
// says "this task has had a lock granted on this file"; a release unlocks the whole file for
// the task, which costs an UNLOCK where nothing was left and loses nothing.
//
// Lock order: the list's semaphore is taken last, after an open file's and never across a call.
#ifndef NFS_LOCK_NLMHELD_H
#define NFS_LOCK_NLMHELD_H

#include "lock/nlmCall.h"

#include <brisnel/nfsDrvLib.h>

#include <cstdint>
#include <string>
#include <vector>

// What an unlock needs, copied so that it outlives the file and the device.
struct NlmHeldFile {
    const void *dev;
    std::string host;
    NfsMountOptions options;
    uint32_t version;
    std::string fh;
    uintptr_t task;

    NlmTarget target() const
    {
        return NlmTarget{host.c_str(), version, fh.data(), static_cast<u_int>(fh.size()), task};
    }
};

// Notes a granted lock; false when memory ran out (the lock is then released by the caller).
bool nlmHeldNote(const NlmHeldFile &file);
// Takes out the entries of one task on one file, of one task anywhere, or of one device.
std::vector<NlmHeldFile> nlmHeldTakeFile(const void *dev, const std::string &fh, uintptr_t task);
std::vector<NlmHeldFile> nlmHeldTakeTask(uintptr_t task);
std::vector<NlmHeldFile> nlmHeldTakeDevice(const void *dev);
// Unlocks each file whole for its task on its server, under its device's call settings.
void nlmHeldRelease(const std::vector<NlmHeldFile> &files);

#endif
