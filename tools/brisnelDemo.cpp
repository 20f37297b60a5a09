// The main job's look at the NFS client module: loads it as a shell would, finds its routines
// by name, and makes remote calls to a server through the module's one call path.
#include <kernel/errnoLib.h>

#include <brisnel/nfsRpcLib.h>

#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>

#include <arpa/inet.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

using ClientCallFn = int (*)(const char *, uint32_t, uint32_t, uint32_t, xdrproc_t, void *, xdrproc_t,
                             void *);
using VoidFn = void (*)();
using ClientCurrentFn = NfsRpcClient *(*)();

template <typename Fn> Fn find(void *module, const char *name)
{
    void *symbol = dlsym(module, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "brisnelDemo: %s not found: %s\n", name, dlerror());
        std::exit(1);
    }
    return reinterpret_cast<Fn>(symbol);
}

const char *protocolName(unsigned long protocol)
{
    return protocol == IPPROTO_UDP ? "udp" : protocol == IPPROTO_TCP ? "tcp" : "?";
}

int showPortmapperList(void *module, const char *host)
{
    auto clientCall = find<ClientCallFn>(module, "nfsClientCall");
    auto clientCurrent = find<ClientCurrentFn>(module, "nfsRpcClientCurrent");
    pmaplist *list = nullptr;
    if (clientCall(host, PMAPPROG, PMAPVERS, PMAPPROC_DUMP, nfsXdrProc(xdr_void), nullptr,
                   nfsXdrProc(xdr_pmaplist), &list) != 0) {
        std::printf("portmapper list of %s: call failed, errno = %#x\n", host, errnoGet());
        return -1;
    }
    std::printf("portmapper list of %s:\n", host);
    std::printf("   program vers proto   port\n");
    for (const pmaplist *node = list; node != nullptr; node = node->pml_next) {
        std::printf("%10lu %4lu %5s %6lu\n", node->pml_map.pm_prog, node->pml_map.pm_vers,
                    protocolName(node->pml_map.pm_prot), node->pml_map.pm_port);
    }
    clnt_freeres(clientCurrent()->pClient, nfsXdrProc(xdr_pmaplist),
                 reinterpret_cast<char *>(&list));
    return 0;
}

int nullCall(void *module, const char *host, uint32_t prog, uint32_t vers, const char *what)
{
    auto clientCall = find<ClientCallFn>(module, "nfsClientCall");
    const int result = clientCall(host, prog, vers, 0, nfsXdrProc(xdr_void), nullptr,
                                  nfsXdrProc(xdr_void), nullptr);
    if (result == 0)
        std::printf("NULL call to %s version %u: answered\n", what, vers);
    else
        std::printf("NULL call to %s version %u: failed, errno = %#x\n", what, vers, errnoGet());
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    const char *host = argc > 1 ? argv[1] : "127.0.0.1";
    const char *modulePath = argc > 2 ? argv[2] : "libbrisnel.so";
    void *module = dlopen(modulePath, RTLD_NOW | RTLD_GLOBAL);
    if (module == nullptr) {
        std::fprintf(stderr, "brisnelDemo: cannot load %s: %s\n", modulePath, dlerror());
        return 1;
    }
    // The credentials are those the module's start-up set: the boot host, uid 2001, gid 100.
    std::printf("-> nfsAuthUnixShow\n");
    find<VoidFn>(module, "nfsAuthUnixShow")();
    std::printf("\n");
    int failures = 0;
    failures += showPortmapperList(module, host) != 0;
    failures += nullCall(module, host, 100005, 3, "MOUNT") != 0;
    failures += nullCall(module, host, 100003, 3, "NFS") != 0;
    find<VoidFn>(module, "nfsClientClose")();
    return failures == 0 ? 0 : 1;
}
