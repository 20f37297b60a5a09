/* What to do about a failure: the common causes of an error number of the NFS client's
 * routines (a refused or unanswered mount, a refused credential or write) in one sentence with
 * the remedy. */
#ifndef BRISNEL_NFSHINTLIB_H
#define BRISNEL_NFSHINTLIB_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The likely causes of errorNumber and what to do, as one sentence (valid until the calling
 * task's next call), or null for a number without a hint. The sentence names the words it
 * depends on (the credentials, nfsTransport, nfsTimeoutSec) with their values now. */
const char *nfsErrorHint(int errorNumber);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
