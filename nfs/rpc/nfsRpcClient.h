// Module-private parts of the remote-call path.
#ifndef NFS_CORE_NFSRPCCLIENT_H
#define NFS_CORE_NFSRPCCLIENT_H

#include <brisnel/nfsRpcLib.h>
#include <kernel/taskLib.h>

// The largest data or directory count that the words allow in one message over TRANSPORT
// (IPPROTO_UDP: a datagram; IPPROTO_TCP: up to NFS_TCP_MAX_TRANSFER), and the send and
// receive buffer a handle needs to carry it with its headers.
uint32_t nfsRpcTransferLimit(int transport);
uint32_t nfsRpcLargestTransfer(int transport);
uint32_t nfsRpcBufferSize(int transport);
// IPPROTO_TCP when the task's handle is a valid TCP one, else IPPROTO_UDP (the smaller limit).
int nfsRpcCurrentTransport();

// The lock manager's record beside the task's CLIENT record (made on first use): its handle
// serves the lock manager's calls alone, so that a task alternating between those and NFS
// calls builds neither handle again. Null when memory ran out.
NfsRpcClient *nfsRpcLockClient(NfsRpcClient *client);
// Tears down a record's handle (the record may be null); the record stays.
void nfsClientCleanUp(NfsRpcClient *client);
// Registered with the kernel: releases a dying task's handle and record.
void nfsDeleteHook(TaskRecord *dyingTask);

#endif
