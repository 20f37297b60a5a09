// The credential record and its generation counter, module-private.
//
// Writers (nfsAuthUnixSet, nfsIdSet) update under taskLock so no writer sees another's half
// update; readers take no lock and pick a change up through nfsAuthCount.
#ifndef NFS_CORE_NFSAUTHUNIX_H
#define NFS_CORE_NFSAUTHUNIX_H

#include <brisnel/nfsAuthLib.h>

#include <cstdint>

struct NfsAuthUnix {
    char machineName[NFS_AUTH_MACHINE_NAME_LEN];
    int32_t uid;
    int32_t gid;
    int32_t nGroups;
    int32_t groups[NFS_AUTH_MAX_GROUPS];
};

extern NfsAuthUnix nfsAuthUnix;

// A copy of the credentials as nfsAuthUnixGet gives them (no lock, groups past nGroups zero).
NfsAuthUnix nfsAuthUnixCopy();
extern int32_t nfsAuthCount;

// Asks for one number; false when input ended.
bool nfsAuthUnixFieldPrompt(const char *label, int *pValue, int width, const char *format);

#endif
