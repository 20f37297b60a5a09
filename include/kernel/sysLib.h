/* The system clock: ticks per second (60 unless changed). */
#ifndef KERNEL_SYSLIB_H
#define KERNEL_SYSLIB_H

#ifdef __cplusplus
extern "C" {
#endif

int sysClkRateGet(void);
/* 0, or -1 for a rate below 1 or above 10000. */
int sysClkRateSet(int ticksPerSecond);

#ifdef __cplusplus
}
#endif
#endif
