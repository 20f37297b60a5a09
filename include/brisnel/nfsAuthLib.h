/* The module's UNIX credentials, sent with every remote call. */
#ifndef BRISNEL_NFSAUTHLIB_H
#define BRISNEL_NFSAUTHLIB_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define NFS_AUTH_MACHINE_NAME_LEN 52 /* including the terminator */
#define NFS_AUTH_MAX_GROUPS 20       /* held in the record */
#define NFS_AUTH_MAX_WIRE_GROUPS 16  /* carried by an AUTH_UNIX credential */

/* Stores the credentials and starts a new credential generation. A name that does not fit is
 * cut to 51 characters; the group count is limited to 0..20, and a null list stores none. */
void nfsAuthUnixSet(const char *machineName, int uid, int gid, int nGroups, const int *groups);
/* machineName must hold 52 bytes, groups 20 entries. */
void nfsAuthUnixGet(char *machineName, int *pUid, int *pGid, int *pNGroups, int *groups);
void nfsAuthUnixShow(void);
/* Asks for each field on standard input; stores nothing when input ends before the last. */
void nfsAuthUnixPrompt(void);
void nfsIdSet(int uid);
/* 0 when the credentials grant `want` (4 read, 2 write, 1 execute, in the others' position)
 * on a file of that mode, owner and group; -1 otherwise. */
int nfsChkFilePerms(int mode, int fileUid, int fileGid, int want);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
