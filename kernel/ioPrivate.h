// Helpers shared by the user-level file calls (the io... files of the kernel layer).
#ifndef KERNEL_IOPRIVATE_H
#define KERNEL_IOPRIVATE_H

#include "iosPrivate.h"

#include <kernel/ioLib.h>
#include <kernel/kernelStat.h>

#include <cstdint>

namespace io {

// The entries of driver drvNum; false with K_ENXIO when it is not installed.
bool driverOf(int drvNum, ios::DriverEntries &entries);

// An open descriptor, held in use for the object's lifetime, with its driver's entries.
class OpenFile {
public:
    explicit OpenFile(int fd) : use_(fd), desc(use_.desc()), entries(desc.entries), valid_(use_.held()) {}
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    // False with the error number set when fd is not open.
    bool valid() const { return valid_; }

private:
    ios::FdUse use_;

public:
    const ios::Descriptor desc;
    const ios::DriverEntries &entries;

private:
    bool valid_;
};
// The driver's ioctl entry on an open file (K_ENOTSUP when it has none).
int ioctlOn(const OpenFile &of, int function, intptr_t arg);

// The file's position through the 64-bit code or, from a driver that serves only the 32-bit
// ones (a version 2 NFS file, say), through K_FIOWHERE. False with the error number set.
bool positionGet(const OpenFile &of, uint64_t *where);

// Status, renaming and attribute changes need no right to the file's data: the name alone is
// opened.
inline constexpr int kNameOnly = K_O_RDONLY | K_O_PATH;

// Opens path with flags and runs one ioctl on it: 0, or -1 with the error number set.
int ioctlOnPath(const char *path, int flags, int function, intptr_t arg);

// Opens the name of path (a link itself, not followed) and runs function with the tail of
// secondPath, which must lie on the same device (K_EXDEV otherwise): rename and link.
// 0 or -1.
int ioctlWithSecondPath(const char *path, const char *secondPath, int function);

// Closes a descriptor when it goes out of scope, keeping the error number of the failure
// that led there.
class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser();
    FdCloser(const FdCloser &) = delete;
    FdCloser &operator=(const FdCloser &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens the root of the device that where (resolved from buf) names, name-only: the device's
// name with an empty tail. A descriptor, or -1.
int deviceRootOpen(const ios::PathBuffer &buf, const ios::Resolved &where);

// Runs function on the root of path's device for an object that path names and that may not
// exist yet: argOf(tail) makes the argument from path's tail, which the driver may rewrite
// and answer with K_FOLLOW_LINK (resolved again, within the restart bound). 0 or -1.
template <typename ArgOf> int ioctlOnDeviceRoot(const char *path, int function, ArgOf argOf)
{
    ios::PathBuffer buf;
    if (!ios::pathLoad(buf, path)) {
        return -1;
    }
    const intptr_t result = ios::pathCall(buf, [&](const ios::Resolved &where) -> intptr_t {
        const int fd = deviceRootOpen(buf, where);
        if (fd < 0) {
            return -1;
        }
        const FdCloser closer(fd);
        return kIoctl(fd, function, argOf(where.tail));
    });
    return result < 0 ? -1 : 0;
}

} // namespace io

#endif
