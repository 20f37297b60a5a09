// The user-level calls built on open and ioctl: rename, mkdir, rmdir, stat, fstat, statfs.
#include "ioPrivate.h"
#include "iosPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <array>
#include <cstring>

namespace io {

FdCloser::~FdCloser() {
    const int saved = errnoGet();
    kClose(fd_);
    errnoSet(saved);
}

namespace {

// Status and renaming need no right to the file's data: the name alone is opened.
constexpr int kNameOnly = K_O_RDONLY | K_O_PATH;

// Opens the name of path and runs one ioctl on it: 0, or -1 with the error number set.
int ioctlOnPath(const char *path, int flags, int function, intptr_t arg) {
    const int fd = kOpen(path, flags, 0);
    if (fd < 0) {
        return -1;
    }
    const FdCloser closer(fd);
    return kIoctl(fd, function, arg) < 0 ? -1 : 0;
}

int invalid() {
    errnoSet(K_EINVAL);
    return -1;
}

} // namespace
} // namespace io

extern "C" {

int kRename(const char *oldPath, const char *newPath) {
    if (oldPath == nullptr || newPath == nullptr) {
        return io::invalid();
    }
    // A symbolic link is renamed itself, not what it names.
    const int fd = kOpen(oldPath, io::kNameOnly | K_O_NOFOLLOW, 0);
    if (fd < 0) {
        return -1;
    }
    const io::FdCloser closer(fd);
    const io::OpenFile of(fd); // ends its use before the closer closes
    ios::PathBuffer buf;
    if (!of.valid() || !ios::pathLoad(buf, newPath)) {
        return -1;
    }
    const intptr_t result = ios::pathCall(buf, [&of](const ios::Resolved &where) -> intptr_t {
        if (where.pDev != of.desc.pDev) {
            errnoSet(K_EXDEV);
            return -1;
        }
        return io::ioctlOn(of, K_FIORENAME, reinterpret_cast<intptr_t>(where.tail));
    });
    return result < 0 ? -1 : 0;
}

int kMkdir(const char *path, int mode) {
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
int kRmdir(const char *path) {
    struct kstat st {};
    if (io::ioctlOnPath(path, io::kNameOnly | K_O_NOFOLLOW, K_FIOFSTATGET,
                        reinterpret_cast<intptr_t>(&st)) != 0) {
        return -1;
    }
    if ((st.st_mode & K_S_IFMT) != K_S_IFDIR) {
        errnoSet(K_ENOTDIR);
        return -1;
    }
    ios::PathBuffer buf;
    if (!ios::pathLoad(buf, path)) {
        return -1;
    }
    const intptr_t result = ios::pathCall(buf, [&buf](const ios::Resolved &where) -> intptr_t {
        std::array<char, ios::kPathMax> root{};
        const auto nameLen = static_cast<std::size_t>(where.tail - buf.text.data());
        std::memcpy(root.data(), buf.text.data(), nameLen);
        const int fd = kOpen(root.data(), io::kNameOnly, 0);
        if (fd < 0) {
            return -1;
        }
        const io::FdCloser closer(fd);
        return kIoctl(fd, K_FIORMDIR, reinterpret_cast<intptr_t>(where.tail));
    });
    return result < 0 ? -1 : 0;
}

int kStat(const char *path, struct kstat *pStat) {
    if (pStat == nullptr) {
        return io::invalid();
    }
    return io::ioctlOnPath(path, io::kNameOnly, K_FIOFSTATGET, reinterpret_cast<intptr_t>(pStat));
}

int kFstat(int fd, struct kstat *pStat) {
    if (pStat == nullptr) {
        return io::invalid();
    }
    return kIoctl(fd, K_FIOFSTATGET, reinterpret_cast<intptr_t>(pStat)) < 0 ? -1 : 0;
}

int kStatfs(const char *path, struct kstatfs *pStatfs) {
    if (pStatfs == nullptr) {
        return io::invalid();
    }
    return io::ioctlOnPath(path, io::kNameOnly, K_FIOFSTATFSGET,
                           reinterpret_cast<intptr_t>(pStatfs));
}

} // extern "C"
