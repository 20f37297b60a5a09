// The version 3 driver's installation, its driver-number query and its device query.
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "ops/nfs3Data.h"

#include <brisnel/nfs3Drv.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <cstring>

namespace {

// The file entries (create, delete, open, close, read, write, ioctl) are not built yet: the
// I/O system refuses calls to an entry that is missing.
int installDriver()
{
    return iosDrvInstall(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

bool listed(const DEV_HDR *dev)
{
    for (const DEV_HDR *entry = iosNextDevGet(nullptr); entry != nullptr;
         entry = iosNextDevGet(const_cast<DEV_HDR *>(entry))) {
        if (entry == dev)
            return true;
    }
    return false;
}

} // namespace

extern "C" {

int nfs3Drv(void)
{
    if (nfs3DrvNum < 0) {
        nfs3DrvNum = installDriver();
        if (nfs3DrvNum == -1)
            return -1;
    }
    pFuncNfs3Mount = nfs3Mount;
    pFuncNfs3UnmountAll = nfs3UnmountAll;
    pFuncNfs3Unmount = nfs3DirUnmount;
    pFuncNfs3DevInfoGet = nfs3DevInfoGet;
    pFuncNfs3DrvNumGet = nfs3DrvNumGet;
    pFuncNfs3MntDump = nfs3MntDump;
    pFuncNfs3ExportRead = nfs3ExportRead;
    pFuncNfs3FileRead = nfs3FileRead;
    pFuncNfs3FileWrite = nfs3FileWrite;
    return 0;
}

int nfs3DrvNumGet(void)
{
    if (nfs3DrvNum < 0) {
        errnoSet(K_ENXIO);
        return -1;
    }
    return nfs3DrvNum;
}

int nfs3DevInfoGet(NfsDevice *dev, NfsDevInfo *pInfo)
{
    if (pInfo == nullptr || dev == nullptr || !listed(&dev->devHdr))
        return -1;
    std::strcpy(pInfo->hostName, dev->host);
    std::strcpy(pInfo->pFileSys, dev->fileSys);
    std::strcpy(pInfo->pDevName, dev->devHdr.name);
    return 0;
}

} // extern "C"
