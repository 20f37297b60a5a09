// The I/O system's internal interface, shared by the ios... and io... files of the kernel layer.
//
// Locks: tableMutex() guards the driver table, the device list and the default path; the
// descriptor table has its own mutex inside iosFdTable.cpp. Neither is held while a driver
// entry runs, and the two are never held together, so there is no lock order to keep.
#ifndef KERNEL_IOSPRIVATE_H
#define KERNEL_IOSPRIVATE_H

#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace ios {

// Longest full path (device name and tail, or default path and path), terminator included.
inline constexpr std::size_t kPathMax = 1024;

// Driver number of the built-in driver behind descriptors 0, 1 and 2.
inline constexpr int kStdDrvNum = 0;

std::mutex &tableMutex();

struct DriverEntries {
    DrvCreateEntry create = nullptr;
    DrvDeleteEntry remove = nullptr;
    DrvOpenEntry open = nullptr;
    DrvCloseEntry close = nullptr;
    DrvReadEntry read = nullptr;
    DrvWriteEntry write = nullptr;
    DrvIoctlEntry ioctl = nullptr;
};

// The built-in driver of descriptors 0, 1 and 2; their file values are the host's descriptors.
DriverEntries stdStreamEntries();

// The entries of an installed driver; false for a bad or free driver number.
bool driverEntries(int drvNum, DriverEntries &entries);
// True for an installed driver number; caller holds tableMutex().
bool driverInstalledLocked(int drvNum);
// True when some device still names drvNum; caller holds tableMutex().
bool deviceUsesDriverLocked(int drvNum);
// True when some open descriptor still names drvNum.
bool descriptorUsesDriver(int drvNum);
// Path entries running on a device: iosDevDelete waits until the last has returned, so a
// device record is never freed under an entry. deviceUseLocked needs tableMutex() held.
void deviceUseLocked(const DEV_HDR *pDev);
void deviceUnuse(const DEV_HDR *pDev);
// iosDevFind with tableMutex() already held.
DEV_HDR *devFindLocked(const char *name, const char **pNameTail);

// One open descriptor: the driver, the device the path resolved to, the driver's file value,
// and the driver's entries as they were at the open: a driver with open descriptors cannot be
// removed, so they stay its entries for the descriptor's life.
struct Descriptor {
    int drvNum = 0;
    DEV_HDR *pDev = nullptr;
    intptr_t file = 0;
    bool pathOnly = false; // opened with K_O_PATH
    DriverEntries entries{};
};

// A free descriptor number reserved for the caller, or -1 (K_EMFILE set).
int fdReserve();
// Gives a reserved descriptor its file; the descriptor becomes usable.
void fdFill(int fd, const Descriptor &desc);
// Returns a reserved or open descriptor to the free pool.
void fdRelease(int fd);
// Takes the open descriptor fd (not a standard stream) out of use for closing: no new call
// may use it, the calls under way on it end first, and it stays reserved until fdRelease.
// False with K_EBADF when fd is not open.
bool fdTake(int fd, Descriptor &desc);
// Marks the open descriptor fd in use by one more call; false with K_EBADF when fd is not
// open. Each success is ended by fdUnuse.
bool fdAcquire(int fd, Descriptor &desc);
void fdUnuse(int fd);

// An open descriptor held in use for the length of one call, so that a close from another
// task waits for the call instead of freeing the driver's file under it.
class FdUse {
public:
    explicit FdUse(int fd) : fd_(fdAcquire(fd, desc_) ? fd : -1) {}
    ~FdUse()
    {
        if (fd_ >= 0) {
            fdUnuse(fd_);
        }
    }
    FdUse(const FdUse &) = delete;
    FdUse &operator=(const FdUse &) = delete;
    bool held() const { return fd_ >= 0; }
    const Descriptor &desc() const { return desc_; }

private:
    Descriptor desc_;
    int fd_;
};

// A full path being resolved. The tail handed to a driver lies inside text with at least
// K_IOS_TAIL_ROOM writable bytes from its start; the last byte always stays a terminator.
struct PathBuffer {
    std::array<char, kPathMax + K_IOS_TAIL_ROOM + 1> text{};
};

// The outcome of resolving a PathBuffer.
struct Resolved {
    DEV_HDR *pDev = nullptr;
    int drvNum = 0;
    char *tail = nullptr;
};

// Copies path into buf (K_ENAMETOOLONG when it does not fit, K_EINVAL for null).
bool pathLoad(PathBuffer &buf, const char *path);
// Finds the device for buf, putting the default path in front when nothing matches first;
// the device is then in use (deviceUseLocked) until the caller's deviceUnuse.
// False with K_IOS_NO_DEVICE or K_ENAMETOOLONG.
bool pathResolve(PathBuffer &buf, Resolved &where);
// After an entry returned K_FOLLOW_LINK with where.tail rewritten: true when the rewritten
// path is terminated within the room and not too long; else false with K_ENAMETOOLONG.
bool pathRewriteValid(PathBuffer &buf, const Resolved &where);

// Ends a device use that pathResolve began, when it goes out of scope.
class DeviceUseEnd {
public:
    explicit DeviceUseEnd(const DEV_HDR *pDev) : pDev_(pDev) {}
    ~DeviceUseEnd() { deviceUnuse(pDev_); }
    DeviceUseEnd(const DeviceUseEnd &) = delete;
    DeviceUseEnd &operator=(const DeviceUseEnd &) = delete;

private:
    const DEV_HDR *pDev_;
};

// Runs entry(where) on the device of path, resolving again after each K_FOLLOW_LINK result,
// at most K_IOS_MAX_RESTARTS times (then K_ELOOP). The entry's last result, or -1.
template <typename Entry> intptr_t pathCall(PathBuffer &buf, Entry entry)
{
    for (int restarts = 0;; ++restarts) {
        Resolved where;
        if (!pathResolve(buf, where)) {
            return -1;
        }
        const DeviceUseEnd useEnd(where.pDev);
        const intptr_t result = entry(where);
        if (result != K_FOLLOW_LINK) {
            return result;
        }
        if (!pathRewriteValid(buf, where)) {
            return -1;
        }
        if (restarts == K_IOS_MAX_RESTARTS) {
            break;
        }
    }
    errnoSet(K_ELOOP);
    return -1;
}

} // namespace ios

#endif
