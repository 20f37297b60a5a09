/* Per-task error numbers. A task's error number is its thread's C-library errno, so that a
 * failing socket call leaves the network stack's number where errnoGet finds it. */
#ifndef KERNEL_ERRNOLIB_H
#define KERNEL_ERRNOLIB_H

#ifdef __cplusplus
extern "C" {
#endif

void errnoSet(int errorValue);
int errnoGet(void);
/* Network and RPC errors are set the same way; kept apart so callers say which kind. */
void netErrnoSet(int status);
/* Sets K_RPC_CLNT_ERRNO_BASE | status (an enum clnt_stat value). */
void rpcClntErrnoSet(int status);

#ifdef __cplusplus
}
#endif
#endif
