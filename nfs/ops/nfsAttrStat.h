// Module-private: either version's attributes (fattr, fattr3) as the kernel's file status
// record; only the file-format bits of the mode differ, by the version's type numbers.
#ifndef NFS_OPS_NFSATTRSTAT_H
#define NFS_OPS_NFSATTRSTAT_H

#include <kernel/kernelStat.h>

#include <array>
#include <cstddef>
#include <cstdint>

// formatBits: the file-format bits of st_mode, indexed by the version's type number.
template <typename Attr, std::size_t N>
void nfsAttrStatFill(const Attr &attr, const std::array<uint16_t, N> &formatBits, struct kstat *pStat)
{
    const auto type = static_cast<uint32_t>(attr.type);
    pStat->st_ino = static_cast<uint32_t>(attr.fileid);
    pStat->st_mode = (type < N ? formatBits[type] : 0U) | (attr.mode & ~static_cast<uint32_t>(K_S_IFMT));
    pStat->st_nlink = attr.nlink;
    pStat->st_uid = static_cast<uint16_t>(attr.uid);
    pStat->st_gid = static_cast<uint16_t>(attr.gid);
    pStat->st_rdev = 0;
    pStat->st_size = attr.size;
    pStat->st_atime = attr.atime.seconds;
    pStat->st_mtime = attr.mtime.seconds;
    pStat->st_ctime = attr.ctime.seconds;
    pStat->st_blksize = 0;
    pStat->st_blocks = 0;
}

#endif
