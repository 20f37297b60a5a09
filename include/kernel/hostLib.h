/* The host table: names added with hostAdd, then the system resolver. Names compare
 * without regard to letter case, as host names do. */
#ifndef KERNEL_HOSTLIB_H
#define KERNEL_HOSTLIB_H

#ifdef __cplusplus
extern "C" {
#endif

#define K_HOST_NAME_MAX 255

/* 0, or -1 (K_HOST_INVALID_PARAMETER) for a bad name or dotted address, or a full table. */
int hostAdd(const char *hostName, const char *hostAddr);
int hostDelete(const char *hostName, const char *hostAddr);
/* The IPv4 address in network byte order, or -1 with K_HOST_UNKNOWN. */
int hostGetByName(const char *name);
/* Prints the names that hostAdd entered, with their addresses. */
void hostShow(void);
/* Prints the network routines of the kernel layer, one line each, as nfsHelp lists the NFS client's. */
void netHelp(void);

#ifdef __cplusplus
}
#endif
#endif
