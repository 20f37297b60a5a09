// The client-side permission check of a file's mode bits against the module's credentials.
#include "core/nfsAuthUnix.h"

namespace {

bool allBitsSet(int mode, int bits) { return (mode & bits) == bits; }

} // namespace

extern "C" int nfsChkFilePerms(int mode, int fileUid, int fileGid, int want)
{
    char name[NFS_AUTH_MACHINE_NAME_LEN];
    int uid = 0;
    int gid = 0;
    int nGroups = 0;
    int groups[NFS_AUTH_MAX_GROUPS] = {};
    nfsAuthUnixGet(name, &uid, &gid, &nGroups, groups);

    const bool owner = uid == fileUid;
    bool inGroup = gid == fileGid;
    for (int i = nGroups - 1; i >= 0 && !inGroup; --i)
        inGroup = groups[i] == fileGid;

    // The others' bits count only for callers who are neither owner nor group member.
    if (!owner && !inGroup && allBitsSet(mode, want))
        return 0;
    if (inGroup && allBitsSet(mode, want << 3))
        return 0;
    if (owner && allBitsSet(mode, want << 6))
        return 0;
    return -1;
}
