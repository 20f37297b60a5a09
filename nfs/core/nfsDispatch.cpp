// The version dispatch slots, all null at load, and their filling from a version's table.
#include "core/nfsDispatch.h"

NfsFileWrite3Fn pFuncNfs3FileWrite = nullptr;
NfsFileRead3Fn pFuncNfs3FileRead = nullptr;
NfsFileWriteRun3Fn pFuncNfs3FileWriteRun = nullptr;
NfsFileCommit3Fn pFuncNfs3FileCommit = nullptr;
NfsFileReadRanges3Fn pFuncNfs3FileReadRanges = nullptr;
NfsFileWriteRanges3Fn pFuncNfs3FileWriteRanges = nullptr;
NfsFileReadRanges2Fn pFuncNfs2FileReadRanges = nullptr;
NfsFileWriteRanges2Fn pFuncNfs2FileWriteRanges = nullptr;
NfsFileWrite2Fn pFuncNfs2FileWrite = nullptr;
NfsFileRead2Fn pFuncNfs2FileRead = nullptr;
NfsExportReadFn pFuncNfs3ExportRead = nullptr;
NfsExportReadFn pFuncNfs2ExportRead = nullptr;
NfsHostFn pFuncNfs3MntDump = nullptr;
NfsHostFn pFuncNfs2MntDump = nullptr;
NfsHostFn pFuncNfs3UnmountAll = nullptr;
NfsHostFn pFuncNfs2UnmountAll = nullptr;
NfsDrvNumGetFn pFuncNfs3DrvNumGet = nullptr;
NfsDrvNumGetFn pFuncNfs2DrvNumGet = nullptr;
NfsDevInfoGet3Fn pFuncNfs3DevInfoGet = nullptr;
NfsDevInfoGet2Fn pFuncNfs2DevInfoGet = nullptr;
NfsUnmountFn pFuncNfs3Unmount = nullptr;
NfsUnmountFn pFuncNfs2Unmount = nullptr;
NfsMountFn pFuncNfs3Mount = nullptr;
NfsMountFn pFuncNfs2Mount = nullptr;
NfsMountFn pFuncNfs4Mount = nullptr;
NfsHostFn pFuncNfs4UnmountAll = nullptr;
NfsDevRemoveFn pFuncNfs4Remove = nullptr;

void nfsDispatchFill(const Nfs4Dispatch &table)
{
    pFuncNfs4Mount = table.mount;
    pFuncNfs4UnmountAll = table.unmountAll;
    pFuncNfs4Remove = table.remove;
}

void nfsDispatchFill(const Nfs2Dispatch &table)
{
    pFuncNfs2FileWrite = table.fileWrite;
    pFuncNfs2FileRead = table.fileRead;
    pFuncNfs2ExportRead = table.exportRead;
    pFuncNfs2MntDump = table.mntDump;
    pFuncNfs2UnmountAll = table.unmountAll;
    pFuncNfs2DrvNumGet = table.drvNumGet;
    pFuncNfs2DevInfoGet = table.devInfoGet;
    pFuncNfs2Unmount = table.unmount;
    pFuncNfs2Mount = table.mount;
    pFuncNfs2FileReadRanges = table.fileReadRanges;
    pFuncNfs2FileWriteRanges = table.fileWriteRanges;
}

void nfsDispatchFill(const Nfs3Dispatch &table)
{
    pFuncNfs3FileWrite = table.words.fileWrite;
    pFuncNfs3FileRead = table.words.fileRead;
    pFuncNfs3ExportRead = table.words.exportRead;
    pFuncNfs3MntDump = table.words.mntDump;
    pFuncNfs3UnmountAll = table.words.unmountAll;
    pFuncNfs3DrvNumGet = table.words.drvNumGet;
    pFuncNfs3DevInfoGet = table.words.devInfoGet;
    pFuncNfs3Unmount = table.words.unmount;
    pFuncNfs3Mount = table.words.mount;
    pFuncNfs3FileReadRanges = table.words.fileReadRanges;
    pFuncNfs3FileWriteRanges = table.words.fileWriteRanges;
    pFuncNfs3FileWriteRun = table.fileWriteRun;
    pFuncNfs3FileCommit = table.fileCommit;
}
