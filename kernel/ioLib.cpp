// The user-level file calls on descriptors: open, creat, close, read, write, ioctl, remove
// and lseek.
#include "ioPrivate.h"
#include "iosPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <cstdint>
#include <limits>

namespace io {
namespace {

// A descriptor number held from before the driver is called until the file is in the table;
// returned to the pool unless committed.
class FdReservation {
public:
    FdReservation() : fd_(ios::fdReserve()) {}
    ~FdReservation()
    {
        if (fd_ >= 0) {
            ios::fdRelease(fd_);
        }
    }
    FdReservation(const FdReservation &) = delete;
    FdReservation &operator=(const FdReservation &) = delete;

    bool valid() const { return fd_ >= 0; }
    int commit(const ios::Descriptor &desc)
    {
        ios::fdFill(fd_, desc);
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Opens path through entry(entries, where), which calls the driver's open or create entry.
template <typename Entry> int openPath(const char *path, Entry entry, bool pathOnly = false)
{
    FdReservation reservation;
    if (!reservation.valid()) {
        return -1;
    }
    ios::PathBuffer buf;
    if (!ios::pathLoad(buf, path)) {
        return -1;
    }
    ios::Resolved opened;
    ios::DriverEntries entries;
    const intptr_t file = ios::pathCall(buf, [&](const ios::Resolved &where) -> intptr_t {
        if (!driverOf(where.drvNum, entries)) {
            return -1;
        }
        opened = where;
        return entry(entries, where);
    });
    // Only -1 is a failure: a file value is often an address, and may have its top bit set.
    if (file == -1) {
        return -1;
    }
    return reservation.commit(ios::Descriptor{opened.drvNum, opened.pDev, file, pathOnly, entries});
}

int notSupported()
{
    errnoSet(K_ENOTSUP);
    return -1;
}

int badDescriptor()
{
    errnoSet(K_EBADF);
    return -1;
}

// Repositions through the 64-bit code or, as positionGet reads, K_FIOSEEK when the position fits its int.
bool positionSet(const OpenFile &of, uint64_t position)
{
    if (ioctlOn(of, K_FIOSEEK64, reinterpret_cast<intptr_t>(&position)) >= 0) {
        return true;
    }
    if (errnoGet() != K_ENOSYS || position > static_cast<uint64_t>(std::numeric_limits<int>::max())) {
        return false;
    }
    return ioctlOn(of, K_FIOSEEK, static_cast<intptr_t>(position)) >= 0;
}

// A name-only open reads, writes, creates and truncates nothing; K_O_NOFOLLOW goes with it.
bool openFlagsValid(int flags)
{
    if ((flags & K_O_PATH) == 0) {
        return (flags & K_O_NOFOLLOW) == 0;
    }
    return (flags & (K_O_ACCMODE | K_O_CREAT | K_O_TRUNC | K_O_APPEND | K_O_EXCL)) == K_O_RDONLY;
}

// True when path names something, a dangling link included. An exclusive create looks first,
// so that a driver that ignores K_O_EXCL still refuses the common case; a driver that serves
// it also closes the window between the look and the create.
bool nameExists(const char *path)
{
    const int fd = kOpen(path, kNameOnly | K_O_NOFOLLOW, 0);
    if (fd < 0) {
        return false;
    }
    kClose(fd);
    return true;
}

// The driver's file, or -1 when it was opened for appended writes by a driver that does not
// report K_O_APPEND back: such a driver would write at the position, over the file's start.
intptr_t appendChecked(const ios::DriverEntries &e, intptr_t file, int flags)
{
    if (file == -1 || file == K_FOLLOW_LINK || (flags & K_O_APPEND) == 0 ||
        (flags & K_O_ACCMODE) == K_O_RDONLY) {
        return file;
    }
    int served = 0;
    if (e.ioctl != nullptr && e.ioctl(file, K_FIOGETFL, reinterpret_cast<intptr_t>(&served)) >= 0 &&
        (served & K_O_APPEND) != 0) {
        return file;
    }
    if (e.close != nullptr) {
        e.close(file);
    }
    errnoSet(K_ENOTSUP);
    return -1;
}

// The ioctl codes a name-only descriptor serves: none of them moves the file's data.
bool servesNameOnly(int function)
{
    switch (function) {
    case K_FIOFSTATGET:
    case K_FIOFSTATFSGET:
    case K_FIOPATHCONF:
    case K_FIORENAME:
    case K_FIORMDIR:
    case K_FIOCHMOD:
    case K_FIOTIMESET:
    case K_FIOLINK:
    case K_FIOSYMLINK:
    case K_FIOREADLINK: return true;
    default: return false;
    }
}

} // namespace

bool positionGet(const OpenFile &of, uint64_t *where)
{
    if (ioctlOn(of, K_FIOWHERE64, reinterpret_cast<intptr_t>(where)) >= 0) {
        return true;
    }
    if (errnoGet() != K_ENOSYS) {
        return false;
    }
    const int position = ioctlOn(of, K_FIOWHERE, 0);
    if (position == -1) {
        return false;
    }
    *where = static_cast<uint32_t>(position);
    return true;
}

bool driverOf(int drvNum, ios::DriverEntries &entries)
{
    if (!ios::driverEntries(drvNum, entries)) {
        errnoSet(K_ENXIO);
        return false;
    }
    return true;
}

int ioctlOn(const OpenFile &of, int function, intptr_t arg)
{
    if (of.desc.pathOnly && !servesNameOnly(function)) {
        return badDescriptor();
    }
    if (of.entries.ioctl == nullptr) {
        return notSupported();
    }
    return of.entries.ioctl(of.desc.file, function, arg);
}

// A read or a write of nBytes at buffer through the driver's entry ENTRY.
template <typename Buffer, typename Entry>
int transfer(int fd, Buffer *buffer, int nBytes, Entry ios::DriverEntries::*entry)
{
    const OpenFile of(fd);
    if (!of.valid()) {
        return -1;
    }
    if (nBytes < 0 || (buffer == nullptr && nBytes > 0)) {
        errnoSet(K_EINVAL);
        return -1;
    }
    if (of.desc.pathOnly) {
        return badDescriptor();
    }
    if (of.entries.*entry == nullptr) {
        return notSupported();
    }
    return (of.entries.*entry)(of.desc.file, buffer, nBytes);
}

} // namespace io

extern "C" {

int kOpen(const char *path, int flags, int mode)
{
    if (!io::openFlagsValid(flags)) {
        errnoSet(K_EINVAL);
        return -1;
    }
    if ((flags & (K_O_CREAT | K_O_EXCL)) == (K_O_CREAT | K_O_EXCL) && io::nameExists(path)) {
        errnoSet(K_EEXIST);
        return -1;
    }
    return io::openPath(
        path,
        [flags, mode](const ios::DriverEntries &e, const ios::Resolved &w) -> intptr_t {
            if (e.open == nullptr) {
                return io::notSupported();
            }
            return io::appendChecked(e, e.open(w.pDev, w.tail, flags, mode), flags);
        },
        (flags & K_O_PATH) != 0);
}

int kCreat(const char *path, int mode)
{
    return io::openPath(path, [mode](const ios::DriverEntries &e, const ios::Resolved &w) {
        return e.create != nullptr ? e.create(w.pDev, w.tail, mode) : io::notSupported();
    });
}

int kClose(int fd)
{
    if (fd >= 0 && fd < 3) {
        return 0; // the standard streams stay open
    }
    ios::Descriptor desc;
    if (!ios::fdTake(fd, desc)) {
        return -1;
    }
    ios::DriverEntries entries;
    int result = -1;
    if (io::driverOf(desc.drvNum, entries)) {
        result = entries.close != nullptr ? entries.close(desc.file) : io::notSupported();
    }
    ios::fdRelease(fd);
    return result;
}

int kRead(int fd, char *buffer, int nBytes)
{
    return io::transfer(fd, buffer, nBytes, &ios::DriverEntries::read);
}

int kWrite(int fd, const char *buffer, int nBytes)
{
    return io::transfer(fd, buffer, nBytes, &ios::DriverEntries::write);
}

int kIoctl(int fd, int function, intptr_t arg)
{
    const io::OpenFile of(fd);
    if (!of.valid()) {
        return -1;
    }
    return io::ioctlOn(of, function, arg);
}

int kRemove(const char *path)
{
    ios::PathBuffer buf;
    if (!ios::pathLoad(buf, path)) {
        return -1;
    }
    const intptr_t result = ios::pathCall(buf, [](const ios::Resolved &where) -> intptr_t {
        ios::DriverEntries entries;
        if (!io::driverOf(where.drvNum, entries)) {
            return -1;
        }
        return entries.remove != nullptr ? entries.remove(where.pDev, where.tail) : io::notSupported();
    });
    return result == 0 ? 0 : -1;
}

int64_t kLseek(int fd, int64_t offset, int whence)
{
    const io::OpenFile of(fd);
    if (!of.valid()) {
        return -1;
    }
    int64_t base = 0;
    if (whence == K_SEEK_CUR) {
        uint64_t where = 0;
        if (!io::positionGet(of, &where)) {
            return -1;
        }
        base = where > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                   ? std::numeric_limits<int64_t>::max()
                   : static_cast<int64_t>(where);
    } else if (whence == K_SEEK_END) {
        struct kstat st {};
        if (io::ioctlOn(of, K_FIOFSTATGET, reinterpret_cast<intptr_t>(&st)) < 0) {
            return -1;
        }
        base = st.st_size > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                   ? std::numeric_limits<int64_t>::max()
                   : static_cast<int64_t>(st.st_size);
    } else if (whence != K_SEEK_SET) {
        errnoSet(K_EINVAL);
        return -1;
    }
    int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) {
        errnoSet(K_EINVAL);
        return -1;
    }
    if (!io::positionSet(of, static_cast<uint64_t>(target))) {
        return -1;
    }
    return target;
}

} // extern "C"
