/* Memory partitions. The system partition is the host heap. */
#ifndef KERNEL_MEMLIB_H
#define KERNEL_MEMLIB_H

#include <kernel/kernelTypes.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MemPartition *PART_ID;

extern PART_ID memSysPartId;

/* Null with K_ENOMEM on failure. */
void *memPartAlloc(PART_ID partId, size_t nBytes);
int memPartFree(PART_ID partId, void *pBlock);
/* Test support: the next `count` allocations from any partition fail. */
void memPartFailNext(int count);

/* 1-based index of the most significant set bit; 0 for 0. */
int ffsMsb(uint32_t value);

#ifdef __cplusplus
}
#endif
#endif
