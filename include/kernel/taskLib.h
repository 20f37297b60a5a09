/* Tasks are host threads. Each thread gets a task record on first use; at thread exit the
 * registered delete hooks run with the dying task's record, then the record is freed. */
#ifndef KERNEL_TASKLIB_H
#define KERNEL_TASKLIB_H

#include <kernel/kernelTypes.h>

#ifdef __cplusplus
extern "C" {
#endif

struct RpcTaskContext;

typedef struct TaskRecord {
    uintptr_t taskId;                   /* unique, never reused within a process */
    struct RpcTaskContext *pRpcContext; /* created by rpcTaskInit, freed at task exit */
} TaskRecord;

typedef void (*TaskDeleteHook)(TaskRecord *dyingTask);

TaskRecord *taskIdCurrent(void);
/* 0, or -1 when the hook table (16 entries) is full. */
int taskDeleteHookAdd(TaskDeleteHook hook);
int taskDeleteHookDelete(TaskDeleteHook hook);
/* Excludes the other callers of taskLock; recursive for the holder. */
int taskLock(void);
int taskUnlock(void);

/* Set by a command interpreter: nonzero when the running task has been asked to stop (Ctrl-C
 * in the shell). Waits with no time limit of their own, such as a record lock's, ask it now
 * and then with their own lock held: it only reads a flag. */
typedef int (*TaskInterruptHook)(void);
void taskInterruptHookSet(TaskInterruptHook hook);
/* What the hook answers for the running task; 0 when none is set. */
int taskInterrupted(void);

/* Process support does not exist on this host: the hooks stay null, and kernelId is the
 * owner of every socket. */
extern int (*_func_rtpIdVerify)(uintptr_t rtpId, int options);
extern int (*_func_pthread_setcanceltype)(int type, int *oldType);
extern int (*_func_rtpPthreadSetCancelType)(int type, int *oldType);
extern uintptr_t kernelId;
int iosRtpFdUnmap2(uintptr_t rtpId, int fd, int options);

#ifdef __cplusplus
}
#endif
#endif
