// Counts the remote calls made through the RPC library's UDP client handles. This program's
// clntudp_bufcreate stands in front of the library's, which the NFS client module then
// reaches through it; each handle it makes gets a call operation that counts, by program and
// procedure, before calling the library's own.
#include "benchSupport.h"

#include <rpc/rpc.h>

#include <dlfcn.h>

#include <array>
#include <atomic>
#include <mutex>
#include <type_traits>

namespace {

using ClientOps = std::remove_pointer_t<decltype(CLIENT::cl_ops)>;
using BufCreate = CLIENT *(*)(sockaddr_in *, u_long, u_long, timeval, int *, u_int, u_int);

constexpr std::size_t kHandles = 64;
constexpr uint32_t kProcs = 32;

struct Slot {
    std::atomic<CLIENT *> handle{nullptr};
    uint32_t prog = 0;
};
std::array<Slot, kHandles> slots;
std::array<std::atomic<unsigned>, 2 * kProcs> counts{}; // NFS, then MOUNT
const ClientOps *libraryOps = nullptr;
ClientOps countingOps{};
std::once_flag opsMade;

int programIndex(uint32_t prog) { return prog == 100003 ? 0 : prog == 100005 ? 1 : -1; }

clnt_stat countedCall(CLIENT *handle, rpcproc_t proc, xdrproc_t inproc, void *in, xdrproc_t outproc,
                      void *out, timeval wait)
{
    for (Slot &slot : slots) {
        if (slot.handle.load() == handle) {
            const int index = programIndex(slot.prog);
            if (index >= 0 && proc < kProcs)
                ++counts[static_cast<std::size_t>(index) * kProcs + proc];
            break;
        }
    }
    return libraryOps->cl_call(handle, proc, inproc, in, outproc, out, wait);
}

void countedDestroy(CLIENT *handle)
{
    for (Slot &slot : slots) {
        CLIENT *expected = handle;
        if (slot.handle.compare_exchange_strong(expected, nullptr))
            break;
    }
    libraryOps->cl_destroy(handle);
}

const char *procName(int index, uint32_t proc)
{
    static const char *const nfs[] = {"NULL", "GETATTR", "SETATTR", "LOOKUP", "ACCESS", "READLINK",
                                      "READ", "WRITE", "CREATE", "MKDIR", "SYMLINK", "MKNOD",
                                      "REMOVE", "RMDIR", "RENAME", "LINK", "READDIR", "READDIRPLUS",
                                      "FSSTAT", "FSINFO", "PATHCONF", "COMMIT"};
    static const char *const mount[] = {"MNT-NULL", "MNT", "DUMP", "UMNT", "UMNTALL", "EXPORT"};
    if (index == 0 && proc < sizeof nfs / sizeof *nfs)
        return nfs[proc];
    if (index == 1 && proc < sizeof mount / sizeof *mount)
        return mount[proc];
    return "?";
}

} // namespace

extern "C" CLIENT *clntudp_bufcreate(sockaddr_in *address, u_long prog, u_long vers, timeval wait,
                                     int *pSocket, u_int sendSize, u_int receiveSize)
{
    static const auto library = reinterpret_cast<BufCreate>(dlsym(RTLD_NEXT, "clntudp_bufcreate"));
    CLIENT *handle = library(address, prog, vers, wait, pSocket, sendSize, receiveSize);
    if (handle == nullptr)
        return nullptr;
    std::call_once(opsMade, [handle] {
        libraryOps = handle->cl_ops;
        countingOps = *handle->cl_ops;
        countingOps.cl_call = countedCall;
        countingOps.cl_destroy = countedDestroy;
    });
    for (Slot &slot : slots) {
        CLIENT *expected = nullptr;
        if (slot.handle.compare_exchange_strong(expected, handle)) {
            slot.prog = static_cast<uint32_t>(prog);
            handle->cl_ops = &countingOps;
            break;
        }
    }
    return handle;
}

void bench::rpcCountReset()
{
    for (auto &count : counts)
        count = 0;
}

unsigned bench::rpcCount(uint32_t prog, uint32_t proc)
{
    const int index = programIndex(prog);
    return index < 0 || proc >= kProcs ? 0 : counts[static_cast<std::size_t>(index) * kProcs + proc].load();
}

unsigned bench::rpcCountAll()
{
    unsigned all = 0;
    for (const auto &count : counts)
        all += count.load();
    return all;
}

std::string bench::rpcCountText()
{
    std::string text;
    for (int index = 0; index < 2; ++index) {
        for (uint32_t proc = 0; proc < kProcs; ++proc) {
            const unsigned n = counts[static_cast<std::size_t>(index) * kProcs + proc].load();
            if (n == 0)
                continue;
            text += (text.empty() ? "" : ", ") + std::string(procName(index, proc)) + " " + std::to_string(n);
        }
    }
    return text.empty() ? "none" : text;
}
