// Helpers shared by the user-level file calls (the io... files of the kernel layer).
#ifndef KERNEL_IOPRIVATE_H
#define KERNEL_IOPRIVATE_H

#include "iosPrivate.h"

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
