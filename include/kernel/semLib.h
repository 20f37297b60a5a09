/* Mutual-exclusion semaphores: recursive for their owner; deleting one that others wait on
 * makes their semTake fail with K_OBJ_DELETED instead of hanging. Binary semaphores: full or
 * empty, given by any task, each give letting one take pass (gives while full are one). */
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

typedef enum { SEM_EMPTY = 0, SEM_FULL = 1 } SEM_B_STATE;

/* Options are accepted and kept; scheduling on this host is the host's. Null on failure. */
SEM_ID semMCreate(int options);
SEM_ID semBCreate(int options, SEM_B_STATE initialState);
/* timeout in ticks: K_WAIT_FOREVER, K_NO_WAIT or a count; 0 or -1 with the error number. */
int semTake(SEM_ID semId, int timeout);
/* A mutex: -1 with K_OBJ_UNAVAILABLE when the caller does not hold it. */
int semGive(SEM_ID semId);
int semDelete(SEM_ID semId);

#ifdef __cplusplus
}
#endif
#endif
