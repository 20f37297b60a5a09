// Internal interface of the pass-through device onto the host's file system.
#ifndef KERNEL_HOSTFSPRIVATE_H
#define KERNEL_HOSTFSPRIVATE_H

#include <kernel/iosLib.h>

#include <array>
#include <cstdint>
#include <dirent.h>
#include <limits.h>

namespace hostFs {

// One open host file: the driver's file value.
struct HostFile {
    const DEV_HDR *pDev = nullptr; // names the file's record locks with its identity
    int fd = -1;
    int flags = 0;                     // the kernel's open flags it was opened with
    std::array<char, PATH_MAX> path{}; // host path, for rename
    DIR *dir = nullptr;                // directory stream, made on the first K_FIOREADDIR
    intptr_t entriesRead = 0;          // entries handed out since the stream was last rewound
};

// The host path for a tail: the tail itself, "." for an empty one. False (K_ENAMETOOLONG)
// when it does not fit.
bool hostPath(const char *tail, std::array<char, PATH_MAX> &out);

// The ioctl entry.
int hostFsIoctl(intptr_t file, int function, intptr_t arg);

// The record-lock codes, served with the kernel layer's lock table keyed by the host file's
// device and inode numbers, so that two descriptors of one file share its locks.
int lockGet(HostFile &file, intptr_t arg);
int lockSet(HostFile &file, intptr_t arg);
int lockSetWait(HostFile &file, intptr_t arg);
// At a close: releases the closing task's locks on the file.
void locksOfTaskRelease(const HostFile &file);

// The kernel's error number for a host errno value (K_EIO for one the kernel has no name for).
int kernelErrno(int hostErrno);
// Sets the calling task's error number from the host's errno; returns -1 for the caller.
int failFromHost();

} // namespace hostFs

#endif
