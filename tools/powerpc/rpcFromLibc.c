/* A stand-in for libtirpc on 32-bit PowerPC, used by tools/powerpc-libs.sh only when the
 * library's source cannot be had: the C library still carries the original ONC RPC client and
 * XDR routines as compatibility symbols (version GLIBC_2.0 and later), which a program cannot
 * link by name. Each routine here is libtirpc's name and prototype (compiled against its
 * headers) calling the C library's routine of the same name and symbol version. The
 * structures the callers see (XDR, CLIENT, AUTH, the RPC message) are laid out alike in both:
 * libtirpc's only add members after those of the C library's, which these callers never read.
 * Built with the C library's own 32-bit time_t, as the callers that meet the RPC library are. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

#include <rpc/rpc.h>
#include <rpc/pmap_clnt.h>
#include <rpc/pmap_prot.h>

/* The C library's routine NAME of VERSION, looked up in the C library alone: a reference by
 * symbol version would be answered by the first object in the search order that has the name
 * unversioned, such as AddressSanitizer's interceptors, which call back here. */
static void *libcRoutine(const char *name, const char *version)
{
    void *libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    void *routine = libc ? dlvsym(libc, name, version) : NULL;
    if (!routine) {
        fprintf(stderr, "rpcFromLibc: the C library has no %s@%s\n", name, version);
        abort();
    }
    return routine;
}

#define LIBC_ROUTINE(ret, name, version, params)                                                   \
    static ret(*name##_libc(void)) params                                                          \
    {                                                                                              \
        static ret(*routine) params;                                                               \
        ret(*found) params = __atomic_load_n(&routine, __ATOMIC_ACQUIRE);                          \
        if (!found) {                                                                              \
            found = (ret(*) params)libcRoutine(#name, version);                                    \
            __atomic_store_n(&routine, found, __ATOMIC_RELEASE);                                   \
        }                                                                                          \
        return found;                                                                              \
    }

#define FORWARD(ret, name, version, params, args)                                                  \
    LIBC_ROUTINE(ret, name, version, params)                                                       \
    ret name params { return name##_libc() args; }

/* XDR primitives and the stream over memory. */
FORWARD(bool_t, xdr_int, "GLIBC_2.0", (XDR * x, int *p), (x, p))
FORWARD(bool_t, xdr_u_int, "GLIBC_2.0", (XDR * x, u_int *p), (x, p))
FORWARD(bool_t, xdr_long, "GLIBC_2.0", (XDR * x, long *p), (x, p))
FORWARD(bool_t, xdr_u_long, "GLIBC_2.0", (XDR * x, u_long *p), (x, p))
FORWARD(bool_t, xdr_bool, "GLIBC_2.0", (XDR * x, bool_t *p), (x, p))
FORWARD(bool_t, xdr_enum, "GLIBC_2.0", (XDR * x, enum_t *p), (x, p))
FORWARD(bool_t, xdr_int32_t, "GLIBC_2.1", (XDR * x, int32_t *p), (x, p))
FORWARD(bool_t, xdr_uint32_t, "GLIBC_2.1", (XDR * x, uint32_t *p), (x, p))
FORWARD(bool_t, xdr_int64_t, "GLIBC_2.1.1", (XDR * x, int64_t *p), (x, p))
FORWARD(bool_t, xdr_uint64_t, "GLIBC_2.1.1", (XDR * x, uint64_t *p), (x, p))
FORWARD(bool_t, xdr_hyper, "GLIBC_2.1.1", (XDR * x, quad_t *p), (x, p))
FORWARD(bool_t, xdr_u_hyper, "GLIBC_2.1.1", (XDR * x, u_quad_t *p), (x, p))
FORWARD(bool_t, xdr_opaque, "GLIBC_2.0", (XDR * x, char *p, u_int n), (x, p, n))
FORWARD(bool_t, xdr_bytes, "GLIBC_2.0", (XDR * x, char **p, u_int *n, u_int max), (x, p, n, max))
FORWARD(bool_t, xdr_string, "GLIBC_2.0", (XDR * x, char **p, u_int max), (x, p, max))
FORWARD(bool_t, xdr_wrapstring, "GLIBC_2.0", (XDR * x, char **p), (x, p))
FORWARD(bool_t, xdr_array, "GLIBC_2.0", (XDR * x, char **p, u_int *n, u_int max, u_int size, xdrproc_t f),
        (x, p, n, max, size, f))
FORWARD(bool_t, xdr_reference, "GLIBC_2.0", (XDR * x, char **p, u_int size, xdrproc_t f), (x, p, size, f))
FORWARD(bool_t, xdr_pointer, "GLIBC_2.0", (XDR * x, char **p, u_int size, xdrproc_t f), (x, p, size, f))
FORWARD(bool_t, xdr_void, "GLIBC_2.0", (void), ())
FORWARD(u_long, xdr_sizeof, "GLIBC_2.1", (xdrproc_t f, void *p), (f, p))

/* libtirpc's names for two of them. */
bool_t xdr_u_int32_t(XDR *x, u_int32_t *p) { return xdr_uint32_t_libc()(x, p); }
bool_t xdr_u_int64_t(XDR *x, u_int64_t *p) { return xdr_uint64_t_libc()(x, p); }

LIBC_ROUTINE(void, xdr_free, "GLIBC_2.0", (xdrproc_t f, void *p))
void xdr_free(xdrproc_t f, void *p) { xdr_free_libc()(f, p); }
LIBC_ROUTINE(void, xdrmem_create, "GLIBC_2.0", (XDR * x, char *buffer, u_int size, enum xdr_op op))
void xdrmem_create(XDR *x, char *buffer, u_int size, enum xdr_op op) { xdrmem_create_libc()(x, buffer, size, op); }

/* The RPC message and the portmapper's structures. */
FORWARD(bool_t, xdr_callhdr, "GLIBC_2.0", (XDR * x, struct rpc_msg *p), (x, p))
FORWARD(bool_t, xdr_callmsg, "GLIBC_2.0", (XDR * x, struct rpc_msg *p), (x, p))
FORWARD(bool_t, xdr_replymsg, "GLIBC_2.0", (XDR * x, struct rpc_msg *p), (x, p))
FORWARD(bool_t, xdr_opaque_auth, "GLIBC_2.0", (XDR * x, struct opaque_auth *p), (x, p))
FORWARD(bool_t, xdr_pmap, "GLIBC_2.0", (XDR * x, struct pmap *p), (x, p))
FORWARD(bool_t, xdr_pmaplist, "GLIBC_2.0", (XDR * x, struct pmaplist **p), (x, p))

LIBC_ROUTINE(void, _seterr_reply, "GLIBC_2.0", (struct rpc_msg * m, struct rpc_err *e))
void _seterr_reply(struct rpc_msg *m, struct rpc_err *e) { _seterr_reply_libc()(m, e); }
/* The empty credential: flavour AUTH_NONE, no body. A value, not a routine, so a copy of its own. */
struct opaque_auth _null_auth;

/* Clients over UDP, their credentials, the portmapper, and the error texts. */
FORWARD(CLIENT *, clntudp_create, "GLIBC_2.0",
        (struct sockaddr_in * a, u_long prog, u_long vers, struct timeval wait, int *sock),
        (a, prog, vers, wait, sock))
FORWARD(CLIENT *, clntudp_bufcreate, "GLIBC_2.0",
        (struct sockaddr_in * a, u_long prog, u_long vers, struct timeval wait, int *sock, u_int send,
         u_int receive),
        (a, prog, vers, wait, sock, send, receive))
FORWARD(AUTH *, authnone_create, "GLIBC_2.0", (void), ())
FORWARD(AUTH *, authunix_create, "GLIBC_2.0", (char *host, uid_t uid, gid_t gid, int n, gid_t *groups),
        (host, uid, gid, n, groups))
FORWARD(AUTH *, authunix_create_default, "GLIBC_2.0", (void), ())
FORWARD(char *, clnt_sperrno, "GLIBC_2.0", (enum clnt_stat s), (s))
FORWARD(char *, clnt_sperror, "GLIBC_2.0", (CLIENT * c, const char *s), (c, s))
FORWARD(char *, clnt_spcreateerror, "GLIBC_2.0", (const char *s), (s))

/* The creation error, kept per thread by both (libtirpc's header names it by a macro). */
#undef rpc_createerr
LIBC_ROUTINE(struct rpc_createerr *, __rpc_thread_createerr, "GLIBC_2.2.3", (void))
struct rpc_createerr *__rpc_createerr(void) { return __rpc_thread_createerr_libc()(); }

/* The portmapper's GETPORT over UDP, whatever the protocol asked about. The C library's own
 * opens a TCP socket for a TCP query and then speaks UDP over it. */
LIBC_ROUTINE(bool_t, xdr_u_short, "GLIBC_2.0", (XDR * x, u_short *p))
u_short pmap_getport(struct sockaddr_in *address, u_long program, u_long version, u_int protocol)
{
    const struct timeval wait = {5, 0};
    const struct timeval total = {60, 0};
    u_short port = 0;
    int sock = RPC_ANYSOCK;
    address->sin_port = htons(PMAPPORT);
    CLIENT *client = clntudp_bufcreate(address, PMAPPROG, PMAPVERS, wait, &sock, RPCSMALLMSGSIZE, RPCSMALLMSGSIZE);
    if (client) {
        struct pmap query = {program, version, protocol, 0};
        if (CLNT_CALL(client, PMAPPROC_GETPORT, (xdrproc_t)xdr_pmap, (char *)&query,
                      (xdrproc_t)xdr_u_short_libc(), (char *)&port, total) != RPC_SUCCESS) {
            __rpc_createerr()->cf_stat = RPC_PMAPFAILURE;
            CLNT_GETERR(client, &__rpc_createerr()->cf_error);
        } else if (port == 0) {
            __rpc_createerr()->cf_stat = RPC_PROGNOTREGISTERED;
        }
        CLNT_DESTROY(client);
    }
    address->sin_port = 0;
    return port;
}
