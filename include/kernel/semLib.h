/* Mutual-exclusion semaphores: recursive for their owner; deleting one that others wait on
 * makes their semTake fail with K_OBJ_DELETED instead of hanging. */
#ifndef KERNEL_SEMLIB_H
#define KERNEL_SEMLIB_H

#include <kernel/kernelTypes.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KernelSemaphore *SEM_ID;

#define SEM_Q_PRIORITY 0x1
#define SEM_DELETE_SAFE 0x4
#define SEM_INVERSION_SAFE 0x8

/* Options are accepted and kept; scheduling on this host is the host's. Null on failure. */
SEM_ID semMCreate(int options);
/* timeout in ticks: K_WAIT_FOREVER, K_NO_WAIT or a count; 0 or -1 with the error number. */
int semTake(SEM_ID semId, int timeout);
/* -1 with K_OBJ_UNAVAILABLE when the caller does not hold it. */
int semGive(SEM_ID semId);
int semDelete(SEM_ID semId);

#ifdef __cplusplus
}
#endif
#endif
