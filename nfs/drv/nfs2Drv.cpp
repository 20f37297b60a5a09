// The version 2 driver's installation, its driver-number query and its device queries.
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "drv/nfsDrvDevices.h"
#include "drv/nfs2DrvEntries.h"

#include <brisnel/nfs2Ops.h>
#include <brisnel/nfsMountLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <cstring>

namespace {

Nfs2Device *deviceOf(DEV_HDR *dev)
{
    return reinterpret_cast<Nfs2Device *>(dev);
}

Nfs2OpenFile *fileOf(intptr_t file)
{
    return reinterpret_cast<Nfs2OpenFile *>(file);
}

intptr_t createEntry(DEV_HDR *dev, char *tail, int mode)
{
    return nfs2Create(deviceOf(dev), tail, mode);
}

int deleteEntry(DEV_HDR *dev, char *tail)
{
    return nfs2Delete(deviceOf(dev), tail);
}

intptr_t openEntry(DEV_HDR *dev, char *tail, int flags, int mode)
{
    return nfs2Open(deviceOf(dev), tail, flags, mode);
}

int closeEntry(intptr_t file)
{
    return nfs2Close(fileOf(file));
}

int readEntry(intptr_t file, char *buffer, int nBytes)
{
    return nfs2Read(fileOf(file), buffer, nBytes);
}

int writeEntry(intptr_t file, const char *buffer, int nBytes)
{
    return nfs2Write(fileOf(file), buffer, nBytes);
}

int ioctlEntry(intptr_t file, int function, intptr_t arg)
{
    return nfs2Ioctl(fileOf(file), function, arg);
}

} // namespace

extern "C" {

int nfs2Drv(void)
{
    if (nfs2DrvNum < 0) {
        nfs2DrvNum = iosDrvInstall(createEntry, deleteEntry, openEntry, closeEntry, readEntry,
                                   writeEntry, ioctlEntry);
        if (nfs2DrvNum == -1)
            return -1;
    }
    pFuncNfs2Mount = nfs2Mount;
    pFuncNfs2UnmountAll = nfs2UnmountAll;
    pFuncNfs2Unmount = nfs2DirUnmount;
    pFuncNfs2DevInfoGet = nfs2DevInfoGet;
    pFuncNfs2DrvNumGet = nfs2DrvNumGet;
    pFuncNfs2MntDump = nfs2MntDump;
    pFuncNfs2ExportRead = nfs2ExportRead;
    pFuncNfs2FileRead = nfs2FileRead;
    pFuncNfs2FileWrite = nfs2FileWrite;
    return 0;
}

int nfs2DrvNumGet(void)
{
    if (nfs2DrvNum < 0) {
        errnoSet(K_ENXIO);
        return -1;
    }
    return nfs2DrvNum;
}

int nfs2DevInfoGet(Nfs2Device *dev, NfsDevInfo *pInfo)
{
    if (pInfo == nullptr || dev == nullptr || !nfsdrv::listed(&dev->devHdr))
        return -1;
    std::strcpy(pInfo->hostName, dev->host);
    std::strcpy(pInfo->pFileSys, dev->fileSys);
    std::strcpy(pInfo->pDevName, dev->devHdr.name);
    return 0;
}

Nfs2Device *nfs2DevFind(const char *host)
{
    if (nfs2DrvNum < 0 || host == nullptr)
        return nullptr;
    for (DEV_HDR *node = iosNextDevGet(nullptr); node != nullptr; node = iosNextDevGet(node)) {
        if (node->drvNum == nfs2DrvNum && std::strcmp(deviceOf(node)->host, host) == 0)
            return deviceOf(node);
    }
    return nullptr;
}

} // extern "C"
