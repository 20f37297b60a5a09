// The user-level calls built on open and ioctl: rename, mkdir, rmdir, stat, fstat, statfs,
// and the helpers that the other path calls share with them.
#include "ioPrivate.h"
#include "iosPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <array>
#include <cstring>

namespace io {

FdCloser::~FdCloser()
{
    const int saved = errnoGet();
    kClose(fd_);
    errnoSet(saved);
}

int ioctlOnPath(const char *path, int flags, int function, intptr_t arg)
{
    const int fd = kOpen(path, flags, 0);
    if (fd < 0) {
        return -1;
    }
    const FdCloser closer(fd);
    return kIoctl(fd, function, arg) < 0 ? -1 : 0;
}

int ioctlWithSecondPath(const char *path, const char *secondPath, int function)
{
    const int fd = kOpen(path, kNameOnly | K_O_NOFOLLOW, 0);
    if (fd < 0) {
        return -1;
    }
    const FdCloser closer(fd);
    const OpenFile of(fd); // ends its use before the closer closes
    ios::PathBuffer buf;
    if (!of.valid() || !ios::pathLoad(buf, secondPath)) {
        return -1;
    }
    const intptr_t result = ios::pathCall(buf, [&of, function](const ios::Resolved &where) -> intptr_t {
        if (where.pDev != of.desc.pDev) {
            errnoSet(K_EXDEV);
            return -1;
        }
        return ioctlOn(of, function, reinterpret_cast<intptr_t>(where.tail));
    });
    return result < 0 ? -1 : 0;
}

int deviceRootOpen(const ios::PathBuffer &buf, const ios::Resolved &where)
{
    std::array<char, ios::kPathMax> root{};
    const auto nameLen = static_cast<std::size_t>(where.tail - buf.text.data());
    std::memcpy(root.data(), buf.text.data(), nameLen);
    return kOpen(root.data(), kNameOnly, 0);
}

namespace {

int invalid()
{
    errnoSet(K_EINVAL);
    return -1;
}

} // namespace
} // namespace io

extern "C" {

int kRename(const char *oldPath, const char *newPath)
{
    if (oldPath == nullptr || newPath == nullptr) {
        return io::invalid();
    }
    // A symbolic link is renamed itself, not what it names.
    return io::ioctlWithSecondPath(oldPath, newPath, K_FIORENAME);
}

int kMkdir(const char *path, int mode)
{
    struct kstat st {};
    if (kStat(path, &st) == 0) {
        errnoSet(K_EEXIST);
        return -1;
    }
    const int fd = kOpen(path, K_O_RDONLY | K_O_CREAT, K_S_IFDIR | (mode & 0777));
    if (fd < 0) {
        return -1;
    }
    return kClose(fd);
}

// The directory is removed through its device's root: the device name with an empty tail is
// opened, and the tail goes to K_FIORMDIR. The driver's removal takes files and links too, so
// the object's own status (a link's, not its target's) is looked at first.
int kRmdir(const char *path)
{
    struct kstat st {};
    if (io::ioctlOnPath(path, io::kNameOnly | K_O_NOFOLLOW, K_FIOFSTATGET, reinterpret_cast<intptr_t>(&st)) !=
        0) {
        return -1;
    }
    if ((st.st_mode & K_S_IFMT) != K_S_IFDIR) {
        errnoSet(K_ENOTDIR);
        return -1;
    }
    return io::ioctlOnDeviceRoot(path, K_FIORMDIR,
                                 [](char *tail) { return reinterpret_cast<intptr_t>(tail); });
}

int kStat(const char *path, struct kstat *pStat)
{
    if (pStat == nullptr) {
        return io::invalid();
    }
    return io::ioctlOnPath(path, io::kNameOnly, K_FIOFSTATGET, reinterpret_cast<intptr_t>(pStat));
}

int kFstat(int fd, struct kstat *pStat)
{
    if (pStat == nullptr) {
        return io::invalid();
    }
    return kIoctl(fd, K_FIOFSTATGET, reinterpret_cast<intptr_t>(pStat)) < 0 ? -1 : 0;
}

int kStatfs(const char *path, struct kstatfs *pStatfs)
{
    if (pStatfs == nullptr) {
        return io::invalid();
    }
    return io::ioctlOnPath(path, io::kNameOnly, K_FIOFSTATFSGET, reinterpret_cast<intptr_t>(pStatfs));
}

} // extern "C"
