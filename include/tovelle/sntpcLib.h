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

/* A timeout in system clock ticks that never ends. */
#define SNTPC_WAIT_FOREVER 0xFFFFFFFFu

/* Bytes of server information filled by mSntpcTimeGet: stratum, poll interval, precision. */
#define SNTPC_SERVER_INFO_LEN 3

/* The UDP port of both modes: 123 after loading, changed only by sntpcInit. */
extern uint16_t sntpcPort;

/* Runs once when the module is loaded: sets the port to 123. */
void sntpcLoadInit(void);

/* Stores the port; the interface name is accepted and not used. Returns 0. */
int sntpcInit(uint16_t port, const char *interfaceName);

/* Fills *pCurrTime (seconds as an unsigned 32-bit value, then nanoseconds) and returns 0, or
 * returns -1 with the task's error number set. A null server name listens on sntpcPort. The
 * timeout is in system clock ticks; SNTPC_WAIT_FOREVER waits for ever. */
int sntpcTimeGet(const char *serverName, uint32_t timeout, struct timespec *pCurrTime);

/* As sntpcTimeGet, without checking the timeout. In listen mode with an interface name, joins
 * 224.0.1.1 on that interface first. pServerInfo, if not null, receives SNTPC_SERVER_INFO_LEN
 * bytes. */
int mSntpcTimeGet(const char *serverName, uint32_t timeout, struct timespec *pCurrTime,
                  const char *interfaceName, unsigned char *pServerInfo);

/* An SNTP fraction of a second (units of 2^-32 s) in nanoseconds, by 32-bit arithmetic only. */
uint32_t sntpcFractionToNsec(uint32_t fraction);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
