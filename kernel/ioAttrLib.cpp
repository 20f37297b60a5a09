// The user-level calls that change a file's size and attributes: ftruncate, chmod, utime.
#include "ioPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <cstdint>
#include <limits>

namespace {

constexpr int kPermissionBits = 07777;

} // namespace

extern "C" {

// Through the 64-bit code or, from a driver that serves only the 32-bit one, through
// K_FIOTRUNC when the size fits its int.
int kFtruncate(int fd, int64_t length)
{
    const io::OpenFile of(fd);
    if (!of.valid()) {
        return -1;
    }
    if (length < 0) {
        errnoSet(K_EINVAL);
        return -1;
    }
    const auto size = static_cast<uint64_t>(length);
    if (io::ioctlOn(of, K_FIOTRUNC64, reinterpret_cast<intptr_t>(&size)) >= 0) {
        return 0;
    }
    if (errnoGet() != K_ENOSYS || length > std::numeric_limits<int>::max()) {
        return -1;
    }
    return io::ioctlOn(of, K_FIOTRUNC, static_cast<intptr_t>(length)) < 0 ? -1 : 0;
}

// The file-type bits of a status's st_mode are dropped, so that chmod(path, st.st_mode) works.
int kChmod(const char *path, int mode)
{
    return io::ioctlOnPath(path, io::kNameOnly, K_FIOCHMOD, mode & kPermissionBits);
}

int kUtime(const char *path, const struct kutimbuf *times)
{
    return io::ioctlOnPath(path, io::kNameOnly, K_FIOTIMESET, reinterpret_cast<intptr_t>(times));
}

} // extern "C"
