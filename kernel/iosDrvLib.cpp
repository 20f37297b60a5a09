// The driver table: seven entries per installed driver, slot 0 for the standard streams.
#include "iosPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <array>
#include <cstddef>
#include <mutex>

namespace ios {
namespace {

struct DriverSlot {
    bool used = false;
    DriverEntries entries;
};

using DriverTable = std::array<DriverSlot, K_IOS_MAX_DRIVERS>;

// Guarded by tableMutex(). Built on first use, so that drivers installed from other
// libraries' load-time constructors find it ready.
DriverTable &driverTable()
{
    static DriverTable table = [] {
        DriverTable initial{};
        initial[kStdDrvNum] = DriverSlot{true, stdStreamEntries()};
        return initial;
    }();
    return table;
}

bool validDrvNum(int drvNum)
{
    return drvNum >= 0 && drvNum < K_IOS_MAX_DRIVERS;
}

} // namespace

std::mutex &tableMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool driverEntries(int drvNum, DriverEntries &entries)
{
    if (!validDrvNum(drvNum)) {
        return false;
    }
    const std::lock_guard lock(tableMutex());
    const DriverSlot &slot = driverTable()[static_cast<std::size_t>(drvNum)];
    if (!slot.used) {
        return false;
    }
    entries = slot.entries;
    return true;
}

bool driverInstalledLocked(int drvNum)
{
    return validDrvNum(drvNum) && driverTable()[static_cast<std::size_t>(drvNum)].used;
}

} // namespace ios

extern "C" {

int iosDrvInstall(DrvCreateEntry create, DrvDeleteEntry remove, DrvOpenEntry open, DrvCloseEntry close,
                  DrvReadEntry read, DrvWriteEntry write, DrvIoctlEntry ioctl)
{
    const std::lock_guard lock(ios::tableMutex());
    ios::DriverTable &table = ios::driverTable();
    for (std::size_t drvNum = 1; drvNum < table.size(); ++drvNum) {
        if (!table[drvNum].used) {
            table[drvNum] = ios::DriverSlot{true, {create, remove, open, close, read, write, ioctl}};
            return static_cast<int>(drvNum);
        }
    }
    errnoSet(K_IOS_DRIVER_TABLE_FULL);
    return -1;
}

int iosDrvRemove(int drvNum)
{
    // Open descriptors are checked first, without the table lock (the two locks never nest).
    if (drvNum == ios::kStdDrvNum || ios::descriptorUsesDriver(drvNum)) {
        errnoSet(K_EBUSY);
        return -1;
    }
    const std::lock_guard lock(ios::tableMutex());
    if (!ios::driverInstalledLocked(drvNum)) {
        errnoSet(K_ENXIO);
        return -1;
    }
    if (ios::deviceUsesDriverLocked(drvNum)) {
        errnoSet(K_EBUSY);
        return -1;
    }
    ios::driverTable()[static_cast<std::size_t>(drvNum)] = ios::DriverSlot{};
    return 0;
}

} // extern "C"
