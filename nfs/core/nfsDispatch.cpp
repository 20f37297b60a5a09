// The version dispatch slots, all null at load.
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
