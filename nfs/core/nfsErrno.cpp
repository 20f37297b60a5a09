// An NFS status becomes an error number by a plain OR with the module number: no table.
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

extern "C" void nfsErrnoSet(int status)
{
    errnoSet(NFS_ERRNO_BASE | status);
}
