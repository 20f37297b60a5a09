// Setting, reading and showing the module's UNIX credentials.
#include "core/nfsAuthUnix.h"

#include <kernel/taskLib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

NfsAuthUnix nfsAuthUnix{};
int32_t nfsAuthCount = 0;

namespace {

// Cut rather than refuse: the name is only a label in the credential.
void copyMachineName(char *field, const char *name)
{
    std::strncpy(field, name == nullptr ? "" : name, NFS_AUTH_MACHINE_NAME_LEN - 1);
    field[NFS_AUTH_MACHINE_NAME_LEN - 1] = '\0';
}

} // namespace

NfsAuthUnix nfsAuthUnixCopy()
{
    NfsAuthUnix copy{};
    nfsAuthUnixGet(copy.machineName, &copy.uid, &copy.gid, &copy.nGroups, copy.groups);
    return copy;
}

extern "C" {

void nfsAuthUnixSet(const char *machineName, int uid, int gid, int nGroups, const int *groups)
{
    // A negative count would make every credential unencodable; a null list carries nothing.
    const int count = groups == nullptr ? 0 : std::clamp(nGroups, 0, NFS_AUTH_MAX_GROUPS);
    taskLock();
    copyMachineName(nfsAuthUnix.machineName, machineName);
    nfsAuthUnix.uid = uid;
    nfsAuthUnix.gid = gid;
    nfsAuthUnix.nGroups = count;
    std::copy_n(groups == nullptr ? nfsAuthUnix.groups : groups, count, nfsAuthUnix.groups);
    ++nfsAuthCount;
    taskUnlock();
}

// An output left null (a shell user's omitted argument) is skipped.
void nfsAuthUnixGet(char *machineName, int *pUid, int *pGid, int *pNGroups, int *groups)
{
    if (machineName != nullptr)
        copyMachineName(machineName, nfsAuthUnix.machineName);
    if (pUid != nullptr)
        *pUid = nfsAuthUnix.uid;
    if (pGid != nullptr)
        *pGid = nfsAuthUnix.gid;
    if (pNGroups != nullptr)
        *pNGroups = nfsAuthUnix.nGroups;
    if (groups != nullptr && nfsAuthUnix.nGroups > 0)
        std::copy_n(nfsAuthUnix.groups, std::min<int>(nfsAuthUnix.nGroups, NFS_AUTH_MAX_GROUPS), groups);
}

void nfsIdSet(int uid)
{
    taskLock();
    nfsAuthUnix.uid = uid;
    ++nfsAuthCount;
    taskUnlock();
}

void nfsAuthUnixShow(void)
{
    const NfsAuthUnix auth = nfsAuthUnixCopy();
    std::printf("machine name = %s\n", auth.machineName);
    std::printf("user ID      = %d\n", auth.uid);
    std::printf("group ID     = %d\n", auth.gid);
    for (int i = 0; i < auth.nGroups; ++i)
        std::printf("group [%d]    = %d\n", i, auth.groups[i]);
}
}
