// Module-private: the small steps of the open entry that both drivers take alike: the caller's
// rights against the file's attributes, the root test and the hand-back of a rewritten path.
#ifndef NFS_DRV_NFSDRVOPENSTEPS_H
#define NFS_DRV_NFSDRVOPENSTEPS_H

#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelStat.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace nfsdrv {

using PathText = std::array<char, NFS_MAX_PATH>;

constexpr int kWantRead = 4;
constexpr int kWantWrite = 2;
constexpr uint32_t kPermissionBits = 0777;
constexpr uint32_t kCreateDefaultBits = 0640;

// Either version's attributes (fattr, fattr3) against the module's credentials.
template <typename Attributes> bool allowed(const Attributes &attr, int want)
{
    return nfsChkFilePerms(static_cast<int>(attr.mode), static_cast<int>(attr.uid),
                           static_cast<int>(attr.gid), want) == 0;
}

inline int denied()
{
    errnoSet(NFS_DRV_ERR_PERMISSION_DENIED);
    return -1;
}

inline int wantedFor(int accessMode)
{
    switch (accessMode) {
    case K_O_RDONLY:
        return kWantRead;
    case K_O_WRONLY:
        return kWantWrite;
    default:
        return kWantRead | kWantWrite;
    }
}

// A name without components (empty, or separators only) names the export's root, as "." does.
inline bool namesRoot(const char *name)
{
    return name[std::strspn(name, "/")] == '\0';
}

// The look-up that just failed found nothing at the name (NOENT, the same status in both
// versions): only then may an open go on to create the file.
inline bool missing() { return errnoGet() == (NFS_ERRNO_BASE | NFS3ERR_NOENT); }

// Hands a rewritten path back to the I/O system.
inline intptr_t followLink(const PathText &path, char *name)
{
    std::memcpy(name, path.data(), std::strlen(path.data()) + 1);
    return K_FOLLOW_LINK;
}

} // namespace nfsdrv

#endif
