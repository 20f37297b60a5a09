// What the name-operations harness and its seed recorder share: the input's layout and the
// routines it drives. An input is a choice byte, then chunks of a 2-byte big-endian length and
// that many bytes. For a lookup the first chunk is the path; every remote call takes the next
// chunk as its reply's result.
#ifndef TESTS_FUZZ_NFSNAMEOPSDRIVE_H
#define TESTS_FUZZ_NFSNAMEOPSDRIVE_H

#include "ops/nfs2Call.h"
#include "ops/nfs3PathOps.h"

#include <brisnel/nfs2Ops.h>
#include <brisnel/nfs3Ops.h>
#include <kernel/iosLib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace nameops {

// The choice byte: bits 0 and 1 pick the routine, bit 2 takes a link in a lookup's last
// component as the object itself.
enum : uint8_t { kDirRead3 = 0, kDirRead2 = 1, kLookUp3 = 2, kLookUp2 = 3, kNoFollowLast = 4 };

inline void chunkAppend(std::string *input, const std::string &bytes)
{
    const std::size_t length = bytes.size() < 0xffff ? bytes.size() : 0xffff;
    input->push_back(static_cast<char>(length >> 8));
    input->push_back(static_cast<char>(length & 0xff));
    input->append(bytes, 0, length);
}

// Reads the directory entry by entry to its end or the first failure.
inline void dirRead3(const char *host, const nfs_fh3 &fh)
{
    NfsDevice dev{};
    std::snprintf(dev.host, sizeof dev.host, "%s", host);
    NfsOpenFile file{};
    file.pDev = &dev;
    file.fh = fh;
    std::array<char, NFS_COOKIE_SIZE> cookie{};
    file.cookie = cookie.data();
    KDIR dir{};
    while (nfs3DirReadOne(&file, &dir) == 0 && dir.dd_eof == 0) {
    }
    nfs3DirReplyRelease(&file);
}

inline void dirRead2(const char *host, const nfs_fh2 &fh)
{
    Nfs2Device dev{};
    std::snprintf(dev.host, sizeof dev.host, "%s", host);
    Nfs2OpenFile file{};
    file.pDev = &dev;
    std::memcpy(file.fh, fh, sizeof file.fh);
    file.attr.type = NFDIR;
    KDIR dir{};
    while (nfs2DirReadOne(&file, &dir) == 0 && dir.dd_eof == 0) {
    }
    nfs2DirReplyRelease(&file);
}

// Looks path up, walking again from the root after each link as the I/O system does.
inline void lookUp3(const char *host, const nfs_fh3 &mountFh, char *path, int noFollowLast)
{
    std::array<char, NFS3_FHSIZE> object{};
    std::array<char, NFS3_FHSIZE> dir{};
    for (int walk = 0; walk <= K_IOS_MAX_RESTARTS; ++walk) {
        LOOKUP3res res{};
        res.LOOKUP3res_u.resok.object.data.data_val = object.data();
        nfs_fh3 dirFh{{0, dir.data()}};
        if (nfs3LookUpByName(host, path, &mountFh, &res, &dirFh, noFollowLast) != -2)
            return;
    }
}

inline void lookUp2(const char *host, const nfs_fh2 &mountFh, char *path, int noFollowLast)
{
    for (int walk = 0; walk <= K_IOS_MAX_RESTARTS; ++walk) {
        diropres res{};
        nfs_fh2 dirFh{};
        if (nfs2LookUpByName(host, path, &mountFh, &res, &dirFh, noFollowLast) != -2)
            return;
    }
}

// Runs the routine that choice picks; pathText is cut to what a path buffer holds.
inline void drive(uint8_t choice, const char *host, const nfs_fh3 &mountFh3, const nfs_fh2 &mountFh2,
                  const std::string &pathText)
{
    std::array<char, NFS_MAX_PATH> path{};
    std::memcpy(path.data(), pathText.data(), std::min(pathText.size(), path.size() - 1));
    const int noFollowLast = (choice & kNoFollowLast) != 0 ? 1 : 0;
    switch (choice & 3) {
    case kDirRead3: dirRead3(host, mountFh3); break;
    case kDirRead2: dirRead2(host, mountFh2); break;
    case kLookUp3: lookUp3(host, mountFh3, path.data(), noFollowLast); break;
    default: lookUp2(host, mountFh2, path.data(), noFollowLast); break;
    }
}

} // namespace nameops

#endif
