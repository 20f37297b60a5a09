/* The per-task RPC context: one record per task, created by rpcTaskInit, freed at task exit
 * after the delete hooks ran. Modules keep their per-task RPC state in its slots. */
#ifndef KERNEL_RPCLIB_H
#define KERNEL_RPCLIB_H

#include <kernel/taskLib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RpcTaskContext {
    void *pNfsClient; /* the NFS client's per-task record */
} RpcTaskContext;

/* 0 once the calling task has a context; -1 when it cannot be allocated. */
int rpcTaskInit(void);
/* The task's context, or null when rpcTaskInit was never called for it. */
RpcTaskContext *rpcTaskContext(TaskRecord *task);

#ifdef __cplusplus
}
#endif
#endif
