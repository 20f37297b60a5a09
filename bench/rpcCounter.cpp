// Counts the remote calls the process sends, by program and procedure: this program's sendto
// stands in front of the C library's, which the NFS client module and the RPC library then
// reach through it, and reads the call header of every datagram that goes out. A datagram
// whose transaction id was seen lately is a retransmission of the same call and not counted.
#include "benchSupport.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

namespace {

using SendTo = ssize_t (*)(int, const void *, size_t, int, const sockaddr *, socklen_t);

constexpr uint32_t kProcs = 32;
constexpr uint32_t kNfsProgram = 100003;
constexpr uint32_t kMountProgram = 100005;
constexpr std::size_t kRecentXids = 64;

std::array<std::atomic<unsigned>, 2 * kProcs> counts{}; // NFS, then MOUNT
std::mutex recentMutex;
std::array<uint32_t, kRecentXids> recentXids{};
std::size_t recentNext = 0;

int programIndex(uint32_t prog)
{
    return prog == kNfsProgram ? 0 : prog == kMountProgram ? 1 : -1;
}

bool seenLately(uint32_t xid)
{
    const std::lock_guard lock(recentMutex);
    for (const uint32_t recent : recentXids) {
        if (recent == xid)
            return true;
    }
    recentXids[recentNext] = xid;
    recentNext = (recentNext + 1) % kRecentXids;
    return false;
}

// An RPC call starts: xid, message type 0 (CALL), RPC version 2, program, version, procedure.
void countCall(const void *datagram, std::size_t length)
{
    std::array<uint32_t, 6> header{};
    if (length < sizeof header)
        return;
    std::memcpy(header.data(), datagram, sizeof header);
    for (uint32_t &word : header)
        word = ntohl(word);
    const int index = programIndex(header[3]);
    if (header[1] != 0 || header[2] != 2 || index < 0 || header[5] >= kProcs || seenLately(header[0]))
        return;
    ++counts[static_cast<std::size_t>(index) * kProcs + header[5]];
}

const char *procName(int index, uint32_t proc)
{
    static const char *const nfs[] = {"NULL",   "GETATTR", "SETATTR",  "LOOKUP", "ACCESS",  "READLINK",
                                      "READ",   "WRITE",   "CREATE",   "MKDIR",  "SYMLINK", "MKNOD",
                                      "REMOVE", "RMDIR",   "RENAME",   "LINK",   "READDIR", "READDIRPLUS",
                                      "FSSTAT", "FSINFO",  "PATHCONF", "COMMIT"};
    static const char *const mount[] = {"MNT-NULL", "MNT", "DUMP", "UMNT", "UMNTALL", "EXPORT"};
    if (index == 0 && proc < sizeof nfs / sizeof *nfs)
        return nfs[proc];
    if (index == 1 && proc < sizeof mount / sizeof *mount)
        return mount[proc];
    return "?";
}

} // namespace

extern "C" ssize_t sendto(int socket, const void *buffer, size_t length, int flags, const sockaddr *to,
                          socklen_t toLength)
{
    static const auto library = reinterpret_cast<SendTo>(dlsym(RTLD_NEXT, "sendto"));
    const ssize_t sent = library(socket, buffer, length, flags, to, toLength);
    if (sent >= 0)
        countCall(buffer, length);
    return sent;
}

void bench::rpcCountReset()
{
    const std::lock_guard lock(recentMutex);
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
