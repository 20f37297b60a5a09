// Per-task error numbers: a task's error number is its thread's errno.
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <cerrno>

extern "C" {

void errnoSet(int errorValue)
{
    errno = errorValue;
}

int errnoGet(void)
{
    return errno;
}

void netErrnoSet(int status)
{
    errno = status;
}

void rpcClntErrnoSet(int status)
{
    errno = K_RPC_CLNT_ERRNO_BASE | (status & 0xffff);
}
}
