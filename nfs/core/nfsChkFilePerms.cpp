// The client-side permission check of a file's mode bits against the module's credentials.
#include "core/nfsAuthUnix.h"

namespace {

bool allBitsSet(int mode, int bits)
{
    return (mode & bits) == bits;
}

} // namespace

extern "C" int nfsChkFilePerms(int mode, int fileUid, int fileGid, int want)
{
    const NfsAuthUnix auth = nfsAuthUnixCopy();
    const bool owner = auth.uid == fileUid;
    bool inGroup = auth.gid == fileGid;
    for (int i = auth.nGroups - 1; i >= 0 && !inGroup; --i)
        inGroup = auth.groups[i] == fileGid;

    // The others' bits count only for callers who are neither owner nor group member.
    if (!owner && !inGroup && allBitsSet(mode, want))
        return 0;
    if (inGroup && allBitsSet(mode, want << 3))
        return 0;
    if (owner && allBitsSet(mode, want << 6))
        return 0;
    return -1;
}
