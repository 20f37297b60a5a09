// The user-level calls on links: a further name for a file, symbolic links and their text.
#include "ioPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <cstdint>
#include <cstring>
#include <limits>

namespace {

int fail(int error)
{
    errnoSet(error);
    return -1;
}

} // namespace

extern "C" {

int kLink(const char *existingPath, const char *newPath)
{
    if (existingPath == nullptr || newPath == nullptr) {
        return fail(K_EINVAL);
    }
    return io::ioctlWithSecondPath(existingPath, newPath, K_FIOLINK);
}

// The link is made through its device's root, as a folder is removed: it does not exist yet.
// The target is text for later resolution, bounded as a path is.
int kSymlink(const char *target, const char *linkPath)
{
    if (target == nullptr) {
        return fail(K_EINVAL);
    }
    const std::size_t targetLen = strnlen(target, ios::kPathMax);
    if (targetLen == 0) {
        return fail(K_ENOENT);
    }
    if (targetLen >= ios::kPathMax) {
        return fail(K_ENAMETOOLONG);
    }
    ksymlinkarg arg{nullptr, target};
    return io::ioctlOnDeviceRoot(linkPath, K_FIOSYMLINK, [&arg](char *tail) {
        arg.path = tail;
        return reinterpret_cast<intptr_t>(&arg);
    });
}

// The count is the call's result, so size must fit an int.
int kReadlink(const char *path, char *buffer, size_t size)
{
    if (buffer == nullptr || size == 0 || size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return fail(K_EINVAL);
    }
    const int fd = kOpen(path, io::kNameOnly | K_O_NOFOLLOW, 0);
    if (fd < 0) {
        return -1;
    }
    const io::FdCloser closer(fd);
    kreadlinkarg arg{buffer, size};
    const int stored = kIoctl(fd, K_FIOREADLINK, reinterpret_cast<intptr_t>(&arg));
    // A driver's count beyond the buffer would send the caller reading past it.
    return stored > static_cast<int>(size) ? fail(K_EIO) : stored;
}

} // extern "C"
