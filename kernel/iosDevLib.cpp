// The device list: devices in the order they were added, found by the longest name that
// prefixes a path. Guarded by tableMutex().
#include "iosPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/fileLockLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

const char *pAddrString = nullptr;

namespace ios {
namespace {

DEV_HDR *&listHead()
{
    static DEV_HDR *head = nullptr;
    return head;
}

// Entries running on each device in use. Guarded by tableMutex().
std::map<const DEV_HDR *, int> &deviceUsers()
{
    static std::map<const DEV_HDR *, int> users;
    return users;
}

// Signalled under tableMutex() when a device's last running entry returns.
std::condition_variable &deviceIdle()
{
    static std::condition_variable idle;
    return idle;
}

bool deviceListed(const DEV_HDR *pDev)
{
    for (const DEV_HDR *p = listHead(); p != nullptr; p = p->pNext) {
        if (p == pDev) {
            return true;
        }
    }
    return false;
}

DEV_HDR *deviceNamed(const char *name)
{
    for (DEV_HDR *p = listHead(); p != nullptr; p = p->pNext) {
        if (std::strcmp(p->name, name) == 0) {
            return p;
        }
    }
    return nullptr;
}

// A device name ends at a component boundary of the path when the path stops there or goes on
// with a separator, or when the name itself ends with a separator or ':'.
bool endsAtBoundary(const char *devName, std::size_t len, const char *path)
{
    const char next = path[len];
    const char last = devName[len - 1];
    return next == '\0' || next == '/' || last == '/' || last == ':';
}

} // namespace

bool deviceUsesDriverLocked(int drvNum)
{
    for (const DEV_HDR *p = listHead(); p != nullptr; p = p->pNext) {
        if (p->drvNum == drvNum) {
            return true;
        }
    }
    return false;
}

// Among the devices whose names prefix the path, the longest one that ends at a component
// boundary wins, so that "/nfs/subdir" goes to "/nfs" and not to "/nfs/sub"; when none ends at
// a boundary, the longest plain prefix does.
void deviceUseLocked(const DEV_HDR *pDev)
{
    ++deviceUsers()[pDev];
}

void deviceUnuse(const DEV_HDR *pDev)
{
    const std::lock_guard lock(tableMutex());
    const auto found = deviceUsers().find(pDev);
    if (found != deviceUsers().end() && --found->second == 0) {
        deviceUsers().erase(found);
        deviceIdle().notify_all();
    }
}

DEV_HDR *devFindLocked(const char *name, const char **pNameTail)
{
    DEV_HDR *best = nullptr;
    std::size_t bestLen = 0;
    bool bestAtBoundary = false;
    for (DEV_HDR *p = listHead(); name != nullptr && p != nullptr; p = p->pNext) {
        const std::size_t len = std::strlen(p->name);
        if (std::strncmp(name, p->name, len) != 0) {
            continue;
        }
        const bool atBoundary = endsAtBoundary(p->name, len, name);
        const bool better = (atBoundary && !bestAtBoundary) ||
                            (atBoundary == bestAtBoundary && (best == nullptr || len > bestLen));
        if (better) {
            best = p;
            bestLen = len;
            bestAtBoundary = atBoundary;
        }
    }
    if (pNameTail != nullptr) {
        *pNameTail = best != nullptr ? name + bestLen : name;
    }
    return best;
}

} // namespace ios

extern "C" {

int iosDevAdd(DEV_HDR *pDev, const char *name, int drvNum)
{
    if (pDev == nullptr || name == nullptr || name[0] == '\0') {
        errnoSet(K_EINVAL);
        return -1;
    }
    const std::size_t len = strnlen(name, K_IOS_DEV_NAME_MAX + 1);
    if (len > K_IOS_DEV_NAME_MAX) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    const std::lock_guard lock(ios::tableMutex());
    if (!ios::driverInstalledLocked(drvNum)) {
        errnoSet(K_ENXIO);
        return -1;
    }
    if (ios::deviceListed(pDev) || ios::deviceNamed(name) != nullptr) {
        errnoSet(K_IOS_DUPLICATE_DEVICE);
        return -1;
    }
    char *copy = new (std::nothrow) char[len + 1];
    if (copy == nullptr) {
        errnoSet(K_ENOMEM);
        return -1;
    }
    std::memcpy(copy, name, len + 1);
    pDev->pNext = nullptr;
    pDev->drvNum = static_cast<int16_t>(drvNum);
    pDev->name = copy;
    DEV_HDR **link = &ios::listHead();
    while (*link != nullptr) {
        link = &(*link)->pNext;
    }
    *link = pDev;
    return 0;
}

// Once unlinked, the device is found by no new path; the entries already running on it end
// before it is handed back (so a driver entry must not delete its own device).
void iosDevDelete(DEV_HDR *pDev)
{
    std::unique_lock lock(ios::tableMutex());
    for (DEV_HDR **link = &ios::listHead(); *link != nullptr; link = &(*link)->pNext) {
        if (*link == pDev) {
            *link = pDev->pNext;
            pDev->pNext = nullptr;
            ios::deviceIdle().wait(lock, [pDev] { return ios::deviceUsers().count(pDev) == 0; });
            delete[] pDev->name;
            pDev->name = nullptr;
            lock.unlock();
            fileLockDeviceRelease(pDev);
            return;
        }
    }
}

DEV_HDR *iosDevFind(const char *name, const char **pNameTail)
{
    const std::lock_guard lock(ios::tableMutex());
    return ios::devFindLocked(name, pNameTail);
}

DEV_HDR *iosNextDevGet(DEV_HDR *pDev)
{
    const std::lock_guard lock(ios::tableMutex());
    if (pDev == nullptr) {
        return ios::listHead();
    }
    return ios::deviceListed(pDev) ? pDev->pNext : nullptr;
}

} // extern "C"
