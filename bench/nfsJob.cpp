// One user's whole job as a program of its own, for timing against libnfs's nfs-cp start to end:
// the module loads (its start-up installs the drivers), mounts the export over TCP with 1 MiB
// transfers, copies a file of the export into a local file and a local file into the export,
// unmounts and exits. nfsSpeedBench runs it and checks both copies.
//
//   nfsJob HOST EXPORT NAME LOCAL_IN LOCAL_OUT
//     reads EXPORT/NAME into LOCAL_OUT, then writes LOCAL_IN to EXPORT/NAME.w
//   With RT_JOB_TIMES set, the time of each step goes to standard error. RT_JOB_LINE_SIZE
//   sets the cache's line size in bytes (2 MiB unless set; 16 lines either way).
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char *kDev = "/job";
constexpr int kTransfer = 1 << 20;
constexpr int kRequest = 1 << 20;

// The time since the last step (none: the first), to standard error when RT_JOB_TIMES is set.
void stepDone(const char *step)
{
    using Clock = std::chrono::steady_clock;
    static Clock::time_point last = Clock::now();
    const Clock::time_point now = Clock::now();
    if (step != nullptr && std::getenv("RT_JOB_TIMES") != nullptr)
        std::fprintf(stderr, "nfsJob: %-8s %8.2f ms\n", step,
                     std::chrono::duration<double, std::milli>(now - last).count());
    last = now;
}

int fail(const char *what)
{
    std::fprintf(stderr, "nfsJob: %s failed, errno %#x\n", what, errnoGet());
    return 1;
}

// The export's file into the local one: the bytes copied, or -1.
long long copyIn(const std::string &from, const char *to)
{
    const int fd = kOpen(from.c_str(), K_O_RDONLY, 0);
    std::FILE *out = std::fopen(to, "wb");
    long long total = fd >= 0 && out != nullptr ? 0 : -1;
    std::vector<char> buf(kRequest);
    for (int got; total >= 0 && (got = kRead(fd, buf.data(), kRequest)) != 0; total += got)
        if (got < 0 ||
            std::fwrite(buf.data(), 1, static_cast<std::size_t>(got), out) != static_cast<std::size_t>(got))
            total = -1;
    if (out != nullptr && std::fclose(out) != 0)
        total = -1;
    if (fd >= 0 && kClose(fd) != 0)
        total = -1;
    return total;
}

// The local file into the export's: the bytes copied, or -1 (a failed close counts).
long long copyOut(const char *from, const std::string &to)
{
    std::FILE *in = std::fopen(from, "rb");
    const int fd = kOpen(to.c_str(), K_O_RDWR | K_O_CREAT | K_O_TRUNC, 0644);
    long long total = fd >= 0 && in != nullptr ? 0 : -1;
    std::vector<char> buf(kRequest);
    for (std::size_t got; total >= 0 && (got = std::fread(buf.data(), 1, buf.size(), in)) != 0;
         total += static_cast<long long>(got))
        if (kWrite(fd, buf.data(), static_cast<int>(got)) != static_cast<int>(got))
            total = -1;
    if (in != nullptr)
        std::fclose(in);
    if (fd >= 0 && kClose(fd) != 0)
        total = -1;
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: nfsJob HOST EXPORT NAME LOCAL_IN LOCAL_OUT\n");
        return 2;
    }
    stepDone(nullptr);
    nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
    nfsTransport = NFS_TRANSPORT_TCP;
    nfs3MaxMsgLen = kTransfer;
    const char *lineSize = std::getenv("RT_JOB_LINE_SIZE");
    nfs3CacheParamsSet(16, lineSize != nullptr ? std::atoi(lineSize) : 2 * kTransfer, 0);
    if (nfsMount(argv[1], argv[2], kDev) != 0)
        return fail("mount");
    stepDone("mount");
    const std::string file = std::string(kDev) + "/" + argv[3];
    if (copyIn(file, argv[5]) < 0)
        return fail("read");
    stepDone("read");
    if (copyOut(argv[4], file + ".w") < 0)
        return fail("write");
    stepDone("write");
    if (nfsUnmount(kDev) != 0)
        return fail("unmount");
    nfsClientClose();
    stepDone("unmount");
    return 0;
}
