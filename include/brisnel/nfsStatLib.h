/* Counters of the brisnel module's remote calls, kept for the whole module (not per task),
 * by transport and by program and procedure: calls, retransmissions, time-outs, reconnections
 * and bytes on the wire. Counting takes no lock; a reading taken while calls run may be a
 * call or two behind. */
#ifndef BRISNEL_NFSSTATLIB_H
#define BRISNEL_NFSSTATLIB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

typedef struct NfsStatCounts {
    uint64_t calls;           /* calls made (each once, however often it was sent) */
    uint64_t retransmissions; /* UDP: a call sent again after the retransmission interval */
    uint64_t timeouts;        /* calls ended by the time-out */
    uint64_t reconnects;      /* TCP: connections opened again for a call (broken or closed by the server) */
    uint64_t bytesSent;       /* call messages, record marks included */
    uint64_t bytesReceived;   /* everything read: answers, foreign ones and record marks included */
} NfsStatCounts;

/* The totals of one transport (IPPROTO_UDP, 17, or IPPROTO_TCP, 6) into *pCounts; 0, or -1
 * for another transport or a null pointer. */
int nfsStatGet(int transport, NfsStatCounts *pCounts);
/* Prints the counters of every procedure called since the start or the last nfsStatZero,
 * by transport, with a total per transport; then, as rows "op NFS4", how many of each NFS
 * version 4 operation the COMPOUNDs carried (in the calls column). */
void nfsStatShow(void);
/* Sets every counter to 0. */
void nfsStatZero(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
