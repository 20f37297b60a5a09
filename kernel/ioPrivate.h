// Helpers shared by the user-level file calls (the io... files of the kernel layer).
#ifndef KERNEL_IOPRIVATE_H
#define KERNEL_IOPRIVATE_H

#include "iosPrivate.h"

#include <cstdint>

namespace io {

// An open descriptor together with its driver's entries.
struct OpenFile {
    ios::Descriptor desc;
    ios::DriverEntries entries;
};

// The entries of driver drvNum; false with K_ENXIO when it is not installed.
bool driverOf(int drvNum, ios::DriverEntries &entries);
// The descriptor fd and its driver; false with the error number set.
bool openFile(int fd, OpenFile &of);
// The driver's ioctl entry on an open file (K_ENOTSUP when it has none).
int ioctlOn(const OpenFile &of, int function, intptr_t arg);

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

} // namespace io

#endif
