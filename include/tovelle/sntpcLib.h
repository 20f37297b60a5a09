/* The SNTP client: the time of day as seconds and nanoseconds since 1970, from a named server
 * (server mode) or from the first packet that arrives on the client's port (listen mode). */
#ifndef TOVELLE_SNTPCLIB_H
#define TOVELLE_SNTPCLIB_H

#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The client's error numbers (module 0x71). */
#define SNTPC_ERR_INVALID_PARAMETER 0x00710001
#define SNTPC_ERR_INVALID_ADDRESS 0x00710002
#define SNTPC_ERR_TIMEOUT 0x00710003
#define SNTPC_ERR_VERSION_UNSUPPORTED 0x00710004
#define SNTPC_ERR_SERVER_UNSYNC 0x00710005
/* The reply's stratum is 0: a Kiss-o'-Death (the server asks the client to slow down or go
 * away) or an unsynchronised server; sntpcKissCodeGet gives its four-letter code. */
#define SNTPC_ERR_KISS_OF_DEATH 0x00710006

/* A timeout in system clock ticks that never ends. */
#define SNTPC_WAIT_FOREVER 0xFFFFFFFFu

/* Bytes of server information filled by mSntpcTimeGet: stratum, poll interval, precision. */
#define SNTPC_SERVER_INFO_LEN 3

/* Bytes that sntpcKissCodeGet writes: the four-letter code and a terminating NUL. */
#define SNTPC_KISS_CODE_LEN 5

/* The UDP port of both modes: 123 after loading, changed only by sntpcInit. */
extern uint16_t sntpcPort;

/* The NTP version that server-mode requests carry: 1 (the default) to 4. Replies of versions
 * 1 to 4 are taken whatever it is. A value outside 1 to 4 makes server-mode calls fail with
 * SNTPC_ERR_INVALID_PARAMETER. */
extern uint32_t sntpcVersion;

/* Runs once when the module is loaded: sets the port to 123. */
void sntpcLoadInit(void);

/* Stores the port; the interface name is accepted and not used. Returns 0. */
int sntpcInit(uint16_t port, const char *interfaceName);

/* Fills *pCurrTime (seconds as an unsigned 32-bit value, then nanoseconds) and returns 0, or
 * returns -1 with the task's error number set. A null server name listens on sntpcPort. The
 * timeout is in system clock ticks; SNTPC_WAIT_FOREVER waits for ever.
 * In server mode the request carries a random transmit timestamp, only a reply that echoes it
 * is taken (others are dropped until the timeout), and the time returned is the server's
 * transmit time plus half the round trip (see sntpcRoundTripGet): the server's time at the
 * moment of return, to within half the round trip. In listen mode the first packet's transmit
 * time is returned as it stands. */
int sntpcTimeGet(const char *serverName, uint32_t timeout, struct timespec *pCurrTime);

/* As sntpcTimeGet, without checking the timeout. In listen mode with an interface name, joins
 * 224.0.1.1 on that interface first. pServerInfo, if not null, receives SNTPC_SERVER_INFO_LEN
 * bytes. */
int mSntpcTimeGet(const char *serverName, uint32_t timeout, struct timespec *pCurrTime,
                  const char *interfaceName, unsigned char *pServerInfo);

/* Copies the kiss code of the calling task's last refused reply into pCode (SNTPC_KISS_CODE_LEN
 * bytes, NUL-terminated; the reference identifier's four bytes as sent) and returns 0. Returns
 * -1 with SNTPC_ERR_INVALID_PARAMETER for a null pCode, or with K_ENOENT when the task's last
 * refused reply was not refused for stratum 0, or no reply was ever refused. */
int sntpcKissCodeGet(char *pCode);

/* Fills *pRoundTrip with the round trip of the calling task's last successful server-mode call
 * and returns 0: the time from sending the request to receiving the answer on the host's
 * monotonic clock, less the time the server reports it held the request (from its receive to
 * its transmit timestamp) when that fits within it. Returns -1 with SNTPC_ERR_INVALID_PARAMETER
 * for a null pointer, or with K_ENOENT when the task has had no successful server-mode call. */
int sntpcRoundTripGet(struct timespec *pRoundTrip);

/* An SNTP fraction of a second (units of 2^-32 s) in nanoseconds, by 32-bit arithmetic only. */
uint32_t sntpcFractionToNsec(uint32_t fraction);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
