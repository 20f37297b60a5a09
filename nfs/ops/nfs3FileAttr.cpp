// A file's version 3 attributes as the kernel's file status record.
#include "core/nfsArgs.h"
#include "ops/nfs3Data.h"
#include "ops/nfsAttrStat.h"

#include <array>

namespace {

// The file-format bits of st_mode, indexed by the ftype3 number.
constexpr std::array<uint16_t, 8> nfsFtypeModeBits = {
    0x0000, K_S_IFREG, K_S_IFDIR, K_S_IFBLK, K_S_IFCHR, K_S_IFLNK, K_S_IFSOCK, K_S_IFIFO,
};

} // namespace

void nfs3FileAttrGet(const fattr3 *attr, struct kstat *pStat)
{
    if (nfsArgsGiven(attr, pStat))
        nfsAttrStatFill(*attr, nfsFtypeModeBits, pStat);
}
