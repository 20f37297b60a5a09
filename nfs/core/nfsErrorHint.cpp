// The common failures of a mount and of a first write, each as the sentence a user needs:
// what probably went wrong and what to do. The numbers are those the routines set; the same
// number can have other causes outside this module, so the shell shows these after the
// module's own routines, and after any call for the NFS statuses.
#include "core/nfsAuthUnix.h"
#include "core/nfsMountOptions.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsHintLib.h>
#include <kernel/kernelErrno.h>

#include <rpc/clnt.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

namespace {

constexpr int kDefaultUid = 2001;

thread_local std::array<char, 512> sentence{};

const char *transportName()
{
    return nfsTransport == NFS_TRANSPORT_TCP ? "TCP" : "UDP";
}

const char *accessHint()
{
    if (nfsAuthUnix.uid == kDefaultUid && geteuid() == 0)
        std::snprintf(
            sentence.data(), sentence.size(),
            "The server refused uid %d, the module's default credentials, although this program runs "
            "as root: call nfsIdSet 0 to act as root (where the export does not squash root), or "
            "nfsAuthUnixSet with the owner's uid and gid.",
            nfsAuthUnix.uid);
    else
        std::snprintf(sentence.data(), sentence.size(),
                      "The server refused uid %d, gid %d: the file or folder belongs to another user, or the "
                      "export maps this uid to another; set the credentials with nfsIdSet or nfsAuthUnixSet.",
                      nfsAuthUnix.uid, nfsAuthUnix.gid);
    return sentence.data();
}

const char *silentHint()
{
    std::snprintf(
        sentence.data(), sentence.size(),
        "The server did not answer within %d s (nfsTimeoutSec), or its portmapper named no port for the "
        "service: check the address and that the server runs its portmapper (port 111) and MOUNT service "
        "(a server of NFS version 4 alone has neither); a firewall may drop port 111 or 2049.",
        nfsTimeoutSec);
    return sentence.data();
}

const char *refusedHint()
{
    std::snprintf(sentence.data(), sentence.size(),
                  "The server refused the connection: nothing listens on its portmapper's port 111 over %s "
                  "(nfsTransport) or on its NFS or MOUNT port; start rpcbind and the NFS service there, or "
                  "check the address.",
                  transportName());
    return sentence.data();
}

const char *optionHint()
{
    std::snprintf(sentence.data(), sentence.size(),
                  "The mount option \"%s\" is unknown or its value is malformed or out of range: the options "
                  "are vers=2|3, proto=udp|tcp, port=, mountport=, rsize=, wsize= (512 to 1048576, or max), "
                  "timeo= (tenths of a second), retrans=, lines=, linesize=, window= (1 to 16), sec=sys, "
                  "separated by commas.",
                  nfsMountOptionRefused());
    return sentence.data();
}

} // namespace

extern "C" const char *nfsErrorHint(int errorNumber)
{
    switch (errorNumber) {
    case K_EACCES:
        return "The server refused the mount: the path is not exported to this client, or the export "
               "needs a reserved port (run as root), or the path does not exist on the server.";
    case NFS_ERRNO_BASE | NFS3ERR_ACCES:
    case NFS_ERRNO_BASE | NFS3ERR_PERM: return accessHint();
    case K_RPC_CLNT_ERRNO_BASE | RPC_AUTHERROR:
        return "The server rejected the credentials (AUTH_TOOWEAK or a refused AUTH_UNIX): the export may "
               "need a reserved port (run as root) or a security flavour other than AUTH_UNIX.";
    case ECONNREFUSED: return refusedHint();
    case K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT:
    case K_RPC_CLNT_ERRNO_BASE | RPC_CANTRECV:
    case EHOSTUNREACH:
    case ENETUNREACH: return silentHint();
    case K_HOST_UNKNOWN:
        return "The host name is unknown: add it with hostAdd \"name\",\"address\" or give the address.";
    case NFS_ERRNO_NOTSUPP:
        return "The server offers no MOUNT version this client can use over the transport asked: with "
               "nfsTransport 2 (UDP only) a server offering MOUNT over TCP alone is unusable, so set "
               "nfsTransport to 0 or 1; or the server speaks neither NFS version 2 nor 3.";
    case NFS_ERR_ONLY_OVER_TCP:
        return "The server offers this service over TCP only, and nfsTransport is 2 (UDP only): set "
               "nfsTransport to 0 or 1.";
    case NFS_ERR_NOT_REGISTERED:
        return "The server's portmapper lists no MOUNT service this client can use: the server may "
               "serve NFS version 4 alone, or its MOUNT service is not running.";
    case NFS_ERR_BAD_OPTION: return optionHint();
    case NFS_ERR_VERSION_NOT_YET:
        return "This client does not yet mount NFS version 4: mount with vers=3 (or without vers=), "
               "where the server also serves version 3.";
    default: return nullptr;
    }
}
