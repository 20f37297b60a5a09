// The per-task RPC context. The task record owns it and frees it when the task ends, after
// the delete hooks have run, so a hook can still reach the module slots of the dying task.
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/rpcLib.h>

#include <cstdlib>

extern "C" {

int rpcTaskInit(void)
{
    TaskRecord *task = taskIdCurrent();
    if (task == nullptr) {
        errnoSet(K_ENOMEM);
        return -1;
    }
    if (task->pRpcContext != nullptr)
        return 0;
    task->pRpcContext = static_cast<RpcTaskContext *>(std::calloc(1, sizeof(RpcTaskContext)));
    if (task->pRpcContext == nullptr) {
        errnoSet(K_ENOMEM);
        return -1;
    }
    return 0;
}

RpcTaskContext *rpcTaskContext(TaskRecord *task)
{
    return task == nullptr ? nullptr : task->pRpcContext;
}
}
