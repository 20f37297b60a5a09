// Withdrawing and restoring NFS devices around their removal.
#include "core/nfsDeviceRemoval.h"

#include <kernel/taskLib.h>

namespace {

SEM_ID removalSemaphore()
{
    static const SEM_ID sem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    return sem;
}

} // namespace

NfsDeviceRemovalLock::NfsDeviceRemovalLock() : SemGuard(removalSemaphore()) {}

NfsWithdrawnDevice::NfsWithdrawnDevice(DEV_HDR *dev) : dev_(dev), name_(dev->name), drvNum_(dev->drvNum)
{
    iosDevDelete(dev);
}

void NfsWithdrawnDevice::restore() const
{
    static_cast<void>(iosDevAdd(dev_, name_.c_str(), drvNum_));
}

int nfsDeviceOpenFiles(const int *pOpenFiles)
{
    taskLock();
    const int count = *pOpenFiles;
    taskUnlock();
    return count;
}
