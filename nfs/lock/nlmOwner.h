// Module-private: who holds a lock, as the lock manager is told: this machine's name as the
// caller, and per task an owner handle naming the host, the process and the task (two
// programs on one host never share an owner; two tasks of one program are two owners) with
// the task's id as svid.
#ifndef NFS_LOCK_NLMOWNER_H
#define NFS_LOCK_NLMOWNER_H

#include <cstdint>
#include <string>

struct NlmOwner {
    std::string handle; // the owner handle's bytes
    int32_t svid;
};

// This machine's name, as the caller of every lock call ("unknown" when it has none).
const std::string &nlmCallerName();
// The owner that task `taskId` of this process is.
NlmOwner nlmOwnerOf(uintptr_t taskId);

#endif
