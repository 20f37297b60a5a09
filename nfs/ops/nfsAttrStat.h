// Module-private: either version's attributes (fattr, fattr3) as the kernel's file status
// record; only the file-format bits of the mode differ, by the version's type numbers.
#ifndef NFS_OPS_NFSATTRSTAT_H
#define NFS_OPS_NFSATTRSTAT_H

#include <kernel/kernelStat.h>

#include <algorithm>
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

// The block fields that the conversion above leaves 0, for the status a program asks of an open
// file: st_blocks in 512-byte units, from version 2's blocks of its block size or version 3's
// bytes used; st_blksize the size that reads and writes move best in (IO_SIZE, the device's), so
// that programs that size their buffers by it never see 0.
template <typename Attr> void nfsAttrStatBlocks(const Attr &attr, uint32_t ioSize, struct kstat *pStat)
{
    constexpr uint64_t kUnit = 512;
    uint64_t units = 0;
    if constexpr (requires { attr.blocksize; })
        units = uint64_t{attr.blocks} * attr.blocksize / kUnit;
    else
        units = attr.used / kUnit + (attr.used % kUnit != 0 ? 1 : 0);
    pStat->st_blocks = static_cast<uint32_t>(std::min<uint64_t>(units, UINT32_MAX));
    pStat->st_blksize = std::max<uint32_t>(ioSize, kUnit);
}

#endif
