// The version 3 driver's installation, its driver-number query and its device query.
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "drv/nfsDrvDevices.h"
#include "drv/nfs3DrvEntries.h"
#include "ops/nfs3Data.h"

#include <brisnel/nfs3Drv.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <cstring>

namespace {

// The I/O system's entry types around the driver's own: its device header is the first field
// of the device record, and its file value the open-file record's address.
NfsDevice *deviceOf(DEV_HDR *dev)
{
    return reinterpret_cast<NfsDevice *>(dev);
}

NfsOpenFile *fileOf(intptr_t file)
{
    return reinterpret_cast<NfsOpenFile *>(file);
}

intptr_t createEntry(DEV_HDR *dev, char *tail, int mode)
{
    return nfs3Create(deviceOf(dev), tail, mode);
}

int deleteEntry(DEV_HDR *dev, char *tail)
{
    return nfs3Delete(deviceOf(dev), tail);
}

intptr_t openEntry(DEV_HDR *dev, char *tail, int flags, int mode)
{
    return nfs3Open(deviceOf(dev), tail, flags, mode);
}

int closeEntry(intptr_t file)
{
    return nfs3Close(fileOf(file));
}

int readEntry(intptr_t file, char *buffer, int nBytes)
{
    return nfs3Read(fileOf(file), buffer, nBytes);
}

int writeEntry(intptr_t file, const char *buffer, int nBytes)
{
    return nfs3Write(fileOf(file), buffer, nBytes);
}

int ioctlEntry(intptr_t file, int function, intptr_t arg)
{
    return nfs3Ioctl(fileOf(file), function, arg);
}

int installDriver()
{
    return iosDrvInstall(createEntry, deleteEntry, openEntry, closeEntry, readEntry, writeEntry,
                         ioctlEntry);
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
    if (pInfo == nullptr || dev == nullptr || !nfsdrv::listed(&dev->devHdr))
        return -1;
    std::strcpy(pInfo->hostName, dev->host);
    std::strcpy(pInfo->pFileSys, dev->fileSys);
    std::strcpy(pInfo->pDevName, dev->devHdr.name);
    return 0;
}

} // extern "C"
