// Removing NFS devices safely while other tasks use them.
//
// A removal tells the server while the device stays listed, then takes the device out of the
// I/O system: no path finds it any more, and the opens already running on it end before the
// removal goes on, so its count of open files is final when it is read. A removal refused
// then puts the device back.
#ifndef NFS_CORE_NFSDEVICEREMOVAL_H
#define NFS_CORE_NFSDEVICEREMOVAL_H

#include <kernel/iosLib.h>
#include <kernel/semGuard.h>

#include <string>

// Holds the module's removal semaphore for its lifetime. It serialises every removal
// (nfsUnmount, the unmount-all routines) from finding a device to freeing it; taken before
// the task lock and the cache's mutex, and held across the server's notice.
class NfsDeviceRemovalLock : public SemGuard {
public:
    NfsDeviceRemovalLock();
};

// A device taken out of the I/O system while its removal is decided.
class NfsWithdrawnDevice {
public:
    explicit NfsWithdrawnDevice(DEV_HDR *dev);
    // Puts the device back under its name, at the end of the device list. Its callers set
    // their own error number afterwards.
    void restore() const;
    DEV_HDR *dev() const { return dev_; }

private:
    DEV_HDR *dev_;
    std::string name_;
    int drvNum_;
};

// The device's count of open files, read under the task lock as the open entries change it.
int nfsDeviceOpenFiles(const int *pOpenFiles);

#endif
