// The NFS client's figures against the NFS server that tests/peers/with-nfs-peers.sh starts,
// each measured in the same run as its floor, printed as JSON lines for bench/report.py:
//   sequential read and write through the file calls against a bare READ/WRITE loop;
//   the same with 32 KiB transfers against 8 KiB ones;
//   remote calls per operation against the sequence the description gives;
//   a cache-hit read against memcpy; heap allocations per call;
//   1, 2 and 4 tasks reading on one and on two devices against one task;
//   a listing and a small-file fetch against the libnfs tools (when installed);
//   sequential read and write over TCP at 32 KiB, 256 KiB and 1 MiB transfers against UDP at
//   32 KiB and against libnfs's nfs-cp;
//   sequential read and write over UDP and TCP with several calls in flight against one at a
//   time, on loopback and through the fault relays adding 0.5 ms each way (against nfs-cp
//   through the same relay), and random 4 KiB reads likewise;
//   2 and 4 tasks sharing one device (and its server's channel) against one task, on loopback
//   and through the relays, sequential and random 4 KiB reads;
//   one user's whole job (a program that starts, mounts over TCP, reads and writes the file)
//   against nfs-cp doing the same as two programs;
//   the default mount against mounts with options (rsize=max,wsize=max,proto=tcp) against
//   nfs-cp;
//   version 4.1 and 4.0 against version 3 on the same server, and against nfs-cp over version 4
//   (with the server serving both: RT_NFS_SERVER_VERSIONS=3,4);
//   a record lock taken and released through kFcntl against two NULL calls of the lock
//   manager, and how late a waiting task's lock comes after the holder's unlock (with the
//   server's lock manager on: RT_NFS_SERVER_LOCKS=1).
//
//   nfsSpeedBench [--runs N] [--mib M] [--entries N] [--quick] [--window N] [--only GROUP]
#include "bareNfsLoop.h"
#include "benchSupport.h"
#include "live/faultRelay.h"
#include "live/tcpFaultRelay.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfs4Drv.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <brisnel/nfsStatLib.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/ioLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelStat.h>
#include <kernel/semLib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using bench::Record;
using bench::Timing;

struct Options {
    int runs = 5;
    uint64_t bytes = 64u << 20;
    int entries = 3000;
    bool quick = false;
    std::string only; // one group of figures, or all of them when empty
    bool includes(const char *group) const { return only.empty() || only == group; }
};

struct Setting {
    std::string host = std::getenv("RT_NFS_HOST") != nullptr ? std::getenv("RT_NFS_HOST") : "";
    std::string exportPath = std::getenv("RT_NFS_EXPORT") != nullptr ? std::getenv("RT_NFS_EXPORT") : "";
    std::string exportDir =
        std::getenv("RT_NFS_EXPORT_DIR") != nullptr ? std::getenv("RT_NFS_EXPORT_DIR") : "";
};

const Setting setting;
constexpr const char *kDevA = "/benchA"; // the default geometry: 16 lines of 16 KiB
constexpr const char *kDevB = "/benchB"; // 16 lines of 64 KiB, for 32 KiB transfers
constexpr const char *kDevC = "/benchC"; // a second device of the default geometry
constexpr uint32_t kLineA = 16384;
constexpr uint32_t kLineB = 65536;
constexpr uint32_t kNfs = 100003;
const int kRequests[] = {4096, 65536, 1 << 20};

int failures = 0;

bool check(bool ok, const std::string &what)
{
    if (!ok) {
        std::fprintf(stderr, "nfsSpeedBench: %s failed, errno %#x\n", what.c_str(), errnoGet());
        ++failures;
    }
    return ok;
}

std::string hostPath(const std::string &name)
{
    return setting.exportDir + "/" + name;
}

void putOnServer(const std::string &name, const std::vector<char> &bytes)
{
    std::filesystem::create_directories(std::filesystem::path(hostPath(name)).parent_path());
    std::ofstream(hostPath(name), std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::filesystem::permissions(hostPath(name), std::filesystem::perms(0666));
}

std::vector<char> onServer(const std::string &name)
{
    std::ifstream in(hostPath(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<char> pattern(std::size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<char> bytes(n);
    for (char &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

bool mount(const char *dev, int lines, int lineBytes)
{
    nfs3CacheParamsSet(lines, lineBytes, 0);
    return check(nfsMount(setting.host.c_str(), setting.exportPath.c_str(), dev) == 0,
                 std::string("mount ") + dev);
}

// Reads the whole file through the file calls in requests of `request` bytes; the bytes read.
uint64_t readThrough(const std::string &path, int request, std::vector<char> *copy = nullptr)
{
    std::vector<char> buf(static_cast<std::size_t>(request));
    const int fd = kOpen(path.c_str(), K_O_RDONLY, 0);
    if (!check(fd >= 0, "open " + path))
        return 0;
    uint64_t total = 0;
    for (int got; (got = kRead(fd, buf.data(), request)) > 0;) {
        total += static_cast<uint64_t>(got);
        if (copy != nullptr)
            copy->insert(copy->end(), buf.begin(), buf.begin() + got);
    }
    kClose(fd);
    return total;
}

bool writeThrough(const std::string &path, const std::vector<char> &block, uint64_t size)
{
    const int fd = kOpen(path.c_str(), K_O_WRONLY | K_O_CREAT | K_O_TRUNC, 0644);
    if (!check(fd >= 0, "create " + path))
        return false;
    bool ok = true;
    for (uint64_t at = 0; at < size && ok; at += block.size())
        ok = kWrite(fd, block.data(), static_cast<int>(block.size())) == static_cast<int>(block.size());
    return check(kClose(fd) == 0 && ok, "write " + path);
}

// One data case: the client's run and its floor's, `runs` times interleaved.
struct DataCase {
    DataCase(std::string direction_, int request_, std::function<void()> client_,
             std::function<void()> floor_)
        : direction(std::move(direction_)), request(request_), client(std::move(client_)),
          floor(std::move(floor_))
    {
    }
    std::string direction;
    int request;
    std::function<void()> client;
    std::function<void()> floor;
    std::vector<double> clientWall, clientCpu, floorWall, floorCpu;
};

void runInterleaved(std::vector<DataCase> &cases, int runs)
{
    for (int run = 0; run < runs; ++run) {
        for (DataCase &one : cases) {
            const bool floorFirst = run % 2 == 1;
            Timing floor{};
            if (floorFirst)
                floor = bench::timed(one.floor);
            const Timing client = bench::timed(one.client);
            if (!floorFirst)
                floor = bench::timed(one.floor);
            one.clientWall.push_back(client.wall);
            one.clientCpu.push_back(client.cpu);
            one.floorWall.push_back(floor.wall);
            one.floorCpu.push_back(floor.cpu);
        }
    }
}

double mibPerSecond(uint64_t bytes, double seconds)
{
    return seconds > 0 ? static_cast<double>(bytes) / (1 << 20) / seconds : 0;
}

// Sequential transfers through the file calls against the bare loop of the same calls.
void sequentialFigures(const Options &options)
{
    const uint64_t size = options.bytes;
    putOnServer("seq.dat", pattern(static_cast<std::size_t>(size), 1));
    putOnServer("floor-w.dat", {});
    bench::BareNfsLoop readFloor(setting.host, setting.exportPath, "seq.dat", 32768);
    bench::BareNfsLoop writeFloor(setting.host, setting.exportPath, "floor-w.dat", 32768);
    if (!check(readFloor.valid() && writeFloor.valid(), "bare loop set-up"))
        return;

    // The first pass also checks every byte against the server's copy.
    const std::vector<char> model = onServer("seq.dat");
    std::vector<char> copy;
    check(readThrough(std::string(kDevA) + "/seq.dat", 65536, &copy) == size && copy == model, "read back");
    const std::vector<char> block = pattern(65536, 2);
    writeThrough(std::string(kDevA) + "/seq-w.dat", block, size);
    const std::vector<char> written = onServer("seq-w.dat");
    bool same = written.size() == size;
    for (uint64_t at = 0; same && at < size; at += block.size())
        same = std::equal(block.begin(), block.end(), written.begin() + static_cast<std::ptrdiff_t>(at));
    check(same, "written bytes on the server");

    struct Kind {
        const char *figure;
        const char *dev;
        uint32_t line;
        uint32_t transfer;
    };
    const Kind kinds[] = {{"file calls vs bare loop", kDevA, kLineA, 8192},
                          {"32 KiB vs 8 KiB transfers", kDevB, kLineB, 8192},
                          {"32 KiB vs 8 KiB transfers", kDevB, kLineB, 32768}};
    for (const Kind &kind : kinds) {
        std::vector<DataCase> cases;
        for (const int request : kRequests) {
            const std::vector<char> data = pattern(static_cast<std::size_t>(request), 3);
            const std::string dev = kind.dev;
            const uint32_t transfer = kind.transfer;
            const uint32_t line = kind.line;
            cases.emplace_back(
                "read", request,
                [dev, request, transfer, size] {
                    nfs3MaxMsgLen = transfer;
                    check(readThrough(dev + "/seq.dat", request) == size, "read");
                },
                [&readFloor, transfer, size] { check(readFloor.readAll(transfer) == size, "bare read"); });
            cases.emplace_back(
                "write", request,
                [dev, data, transfer, size] {
                    nfs3MaxMsgLen = transfer;
                    writeThrough(dev + "/seq-w.dat", data, size);
                },
                [&writeFloor, transfer, size, line, request] {
                    std::filesystem::resize_file(hostPath("floor-w.dat"), 0);
                    check(writeFloor.writeAll(size, line, transfer, static_cast<uint32_t>(request) < line),
                          "bare write");
                });
        }
        runInterleaved(cases, options.runs);
        for (const DataCase &one : cases) {
            const double wall = bench::median(one.clientWall);
            const double floorWall = bench::median(one.floorWall);
            const double cpu = bench::median(one.clientCpu);
            const double floorCpu = bench::median(one.floorCpu);
            Record(kind.figure, one.direction + " " + std::to_string(one.request / 1024) + " KiB, transfer " +
                                    std::to_string(kind.transfer / 1024) + " KiB, lines " +
                                    std::to_string(kind.line / 1024) + " KiB")
                .text("direction", one.direction)
                .number("request", one.request)
                .number("transfer", kind.transfer)
                .number("line", kind.line)
                .number("MiBps", mibPerSecond(size, wall))
                .number("floorMiBps", mibPerSecond(size, floorWall))
                .number("wallRatio", wall > 0 ? floorWall / wall : 0)
                .number("cpuRatio", cpu > 0 ? floorCpu / cpu : 0)
                .number("clientCpuPerMiB", cpu / (static_cast<double>(size) / (1 << 20)))
                .number("runs", static_cast<double>(one.clientWall.size()))
                .print();
        }
    }
    nfs3MaxMsgLen = 8192;
}

// Remote calls of one operation, against the count the description's sequence gives.
void callCount(const std::string &what, const std::string &sequence, unsigned expected,
               const std::function<void()> &op)
{
    bench::rpcCountReset();
    op();
    const unsigned measured = bench::rpcCountAll();
    Record("RPCs per operation", what)
        .number("measured", measured)
        .number("expected", expected)
        .text("calls", bench::rpcCountText())
        .text("sequence", sequence)
        .flag("met", measured == expected)
        .print();
}

// The bytes a READDIR reply of `entries` names spends on them, and the batches it takes.
unsigned readdirBatches(const std::vector<std::string> &names, uint32_t count)
{
    const uint32_t room = count - 120; // status, directory attributes, verifier, list end, eof
    unsigned batches = 1;
    uint32_t used = 0;
    for (const std::string &name : names) {
        const uint32_t entry = 4 + 8 + 4 + ((static_cast<uint32_t>(name.size()) + 3) & ~3u) + 8;
        if (used + entry > room) {
            ++batches;
            used = 0;
        }
        used += entry;
    }
    return batches;
}

void callFigures(const Options &options)
{
    const std::string dev = kDevA;
    putOnServer("d1.txt", pattern(100, 4));
    putOnServer("a/b/c/d4.txt", pattern(100, 5));
    putOnServer("rm.txt", pattern(100, 6));
    putOnServer("mv.txt", pattern(100, 7));
    std::filesystem::remove(hostPath("new.txt"));
    std::filesystem::create_directories(hostPath("list"));
    std::vector<std::string> names = {".", ".."};
    for (int i = 0; i < options.entries; ++i) {
        names.push_back("entry-" + std::to_string(i));
        std::ofstream(hostPath("list/" + names.back()));
    }
    char buf[200];
    const auto fetch = [&buf](const std::string &path) {
        const int fd = kOpen(path.c_str(), K_O_RDONLY, 0);
        check(fd >= 0 && kRead(fd, buf, sizeof buf) == 100, "read " + path);
        kClose(fd);
    };
    callCount("open/read/close, depth 1", "LOOKUP, READ, READ at the end", 3,
              [&] { fetch(dev + "/d1.txt"); });
    callCount("open/read/close, depth 4", "4 LOOKUP, READ, READ at the end", 6,
              [&] { fetch(dev + "/a/b/c/d4.txt"); });
    callCount("stat, depth 1", "LOOKUP", 1, [&] {
        struct kstat st {};
        check(kStat((dev + "/d1.txt").c_str(), &st) == 0, "stat");
    });
    // Writes go out UNSTABLE, so the close adds the COMMIT that makes them safe.
    callCount("create+write+close, depth 1", "LOOKUP (absent), CREATE, READ (line fill), WRITE, COMMIT", 5,
              [&] {
                  const int fd = kOpen((dev + "/new.txt").c_str(), K_O_WRONLY | K_O_CREAT, 0644);
                  check(fd >= 0 && kWrite(fd, buf, 100) == 100 && kClose(fd) == 0, "create");
              });
    check(onServer("new.txt") == std::vector<char>(buf, buf + 100), "created file on the server");
    callCount("remove, depth 1", "LOOKUP, LOOKUP (of the removal), REMOVE", 3,
              [&] { check(kRemove((dev + "/rm.txt").c_str()) == 0, "remove"); });
    callCount("rename, depth 1", "LOOKUP (open), RENAME", 2,
              [&] { check(kRename((dev + "/mv.txt").c_str(), (dev + "/mv2.txt").c_str()) == 0, "rename"); });
    const unsigned batches = readdirBatches(names, static_cast<uint32_t>(nfs3MaxRddirSz));
    unsigned listed = 0;
    callCount("listing " + std::to_string(options.entries) + " entries",
              "LOOKUP, one READDIR per batch (" + std::to_string(nfs3MaxRddirSz) + " bytes)", 1 + batches,
              [&] {
                  KDIR *dir = kOpendir((dev + "/list").c_str());
                  if (!check(dir != nullptr, "opendir"))
                      return;
                  while (kReaddir(dir) != nullptr)
                      ++listed;
                  kClosedir(dir);
              });
    check(listed == names.size(), "every entry listed");
}

void __attribute__((noinline)) copyOnce(char *to, const char *from, std::size_t n)
{
    std::memcpy(to, from, n);
    asm volatile("" : : "r"(to) : "memory");
}

void cacheHitFigure(const Options &options)
{
    putOnServer("hit.dat", pattern(16384, 8));
    const int fd = kOpen((std::string(kDevA) + "/hit.dat").c_str(), K_O_RDONLY, 0);
    if (!check(fd >= 0, "open hit.dat"))
        return;
    char buf[100];
    const int rounds = options.quick ? 1000 : 200000;
    std::vector<double> reads;
    std::vector<double> copies;
    std::vector<double> locks;
    const std::vector<char> source(16384, 'x');
    SEM_ID fileSem = semMCreate(0);
    SEM_ID cacheSem = semMCreate(0);
    for (int run = 0; run < options.runs; ++run) {
        kLseek(fd, 0, K_SEEK_SET);
        kRead(fd, buf, 100); // the line is in the cache from here on
        const Timing read = bench::timed([&] {
            for (int i = 0; i < rounds; ++i) {
                if ((i & 127) == 127)
                    kLseek(fd, 0, K_SEEK_SET);
                kRead(fd, buf, 100);
            }
        });
        const Timing copy = bench::timed([&] {
            for (int i = 0; i < rounds; ++i)
                copyOnce(buf, source.data() + (i & 127) * 100, 100);
        });
        // What the read cannot do without: the file's semaphore and the cache's, taken and given.
        const Timing lock = bench::timed([&] {
            for (int i = 0; i < rounds; ++i) {
                semTake(fileSem, K_WAIT_FOREVER);
                semTake(cacheSem, K_WAIT_FOREVER);
                semGive(cacheSem);
                semGive(fileSem);
            }
        });
        reads.push_back(read.wall / rounds);
        copies.push_back(copy.wall / rounds);
        locks.push_back(lock.wall / rounds);
    }
    semDelete(cacheSem);
    semDelete(fileSem);
    kClose(fd);
    const double read = bench::median(reads);
    const double copy = bench::median(copies);
    Record("cache-hit read of 100 bytes", "kRead against memcpy")
        .number("readNs", read * 1e9)
        .number("memcpyNs", copy * 1e9)
        .number("semaphoresNs", bench::median(locks) * 1e9)
        .number("times", copy > 0 ? read / copy : 0)
        .flag("met", read <= 10 * copy)
        .print();
}

// The server paused (SIGSTOP) for the scope, resumed after; false when its process is unknown.
class ServerPaused {
public:
    ServerPaused()
        : pid_(std::getenv("RT_GANESHA_PID") != nullptr ? std::atoi(std::getenv("RT_GANESHA_PID")) : 0)
    {
        if (pid_ > 0 && ::kill(pid_, SIGSTOP) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100)); // its threads stop
        else
            pid_ = 0;
    }
    ServerPaused(const ServerPaused &) = delete;
    ServerPaused &operator=(const ServerPaused &) = delete;
    ~ServerPaused()
    {
        if (pid_ > 0)
            ::kill(pid_, SIGCONT);
    }
    bool paused() const { return pid_ > 0; }

private:
    pid_t pid_;
};

// Each 100-byte hit of a cached line timed alone, while another task's line fill waits on the
// paused server: the hits' latency as a distribution. Before the cache gave its mutex up for
// server calls, each waited for the whole fill.
void pausedHitFigure(const Options &options)
{
    putOnServer("stall.dat", pattern(4 * 16384, 10));
    putOnServer("hit.dat", pattern(16384, 11));
    const int stallFd = kOpen((std::string(kDevA) + "/stall.dat").c_str(), K_O_RDONLY, 0);
    const int hitFd = kOpen((std::string(kDevA) + "/hit.dat").c_str(), K_O_RDONLY, 0);
    char buf[100];
    if (!check(stallFd >= 0 && hitFd >= 0 && kRead(hitFd, buf, 100) == 100, "open and cache the hit"))
        return;
    const int32_t savedTimeout = nfsTimeoutSec;
    nfsTimeoutSec = 10;
    const int samples = options.quick ? 200 : 20000;
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(samples));
    std::atomic<bool> stallDone{false};
    int stalled = 0;
    std::thread other;
    {
        const ServerPaused paused;
        if (!check(paused.paused(), "pause the server"))
            return;
        other = std::thread([&] {
            kLseek(stallFd, 2 * 16384, K_SEEK_SET); // a line not cached: a READ that waits
            stalled = static_cast<int>(kRead(stallFd, buf, 100));
            stallDone = true;
            nfsClientClose();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // its READ has gone out
        char mine[100];
        for (int i = 0; i < samples && !stallDone; ++i) {
            const auto start = std::chrono::steady_clock::now();
            kLseek(hitFd, 0, K_SEEK_SET);
            const int got = kRead(hitFd, mine, 100);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            if (got != 100)
                break;
            latencies.push_back(took.count());
        }
        check(!stallDone, "the other task's call still waited after the hits");
    }
    other.join(); // the server answers once resumed
    nfsTimeoutSec = savedTimeout;
    check(stallDone && stalled == 100, "the stalled read ends once the server is back");
    kClose(stallFd);
    kClose(hitFd);
    if (!check(!latencies.empty(), "hits measured"))
        return;
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&latencies](double share) {
        return latencies[std::min(latencies.size() - 1,
                                  static_cast<std::size_t>(share * static_cast<double>(latencies.size())))];
    };
    Record("cache hit while another task's call waits", "100-byte kRead of a cached line, server paused")
        .number("samples", static_cast<double>(latencies.size()))
        .number("medianUs", at(0.5) * 1e6)
        .number("p99Us", at(0.99) * 1e6)
        .number("worstUs", latencies.back() * 1e6)
        .flag("met", at(0.99) < 1e-3)
        .print();
}

void allocationFigures()
{
    if (!bench::allocationsCountable())
        return;
    const std::string path = std::string(kDevA) + "/alloc.dat";
    putOnServer("alloc.dat", pattern(1 << 20, 9));
    char buf[4096];
    const auto count = [](const std::string &what, const std::string &goal, std::size_t limit,
                          const auto &op) {
        bench::allocationsStart();
        op();
        const std::size_t n = bench::allocationsStop();
        Record("heap allocations per call", what)
            .number("allocations", static_cast<double>(n))
            .text("goal", goal)
            .flag("met", n <= limit)
            .print();
    };
    const int fd = kOpen(path.c_str(), K_O_RDWR, 0);
    if (!check(fd >= 0, "open alloc.dat"))
        return;
    kRead(fd, buf, sizeof buf);
    count("read, cache hit", "0", 0, [&] { kRead(fd, buf, sizeof buf); });
    count("read, line fill (2 READs)", "0", 0, [&] {
        kLseek(fd, 512 * 1024, K_SEEK_SET);
        kRead(fd, buf, sizeof buf);
    });
    count("write, cache hit", "0", 0, [&] { kWrite(fd, buf, sizeof buf); });
    count("write, line write-back and fill", "0", 0, [&] {
        for (int i = 0; i < 40; ++i) {
            kLseek(fd, static_cast<int64_t>(i) * 16384 + 8, K_SEEK_SET);
            kWrite(fd, buf, 16);
        }
    });
    kClose(fd);
    // The description's own: the open file's record, its two handle buffers and its
    // semaphore; the kernel layer adds one for the device's use during path resolution.
    count("open/close", "4 of the open (record, 2 handle buffers, semaphore) + 1 of the I/O system", 5, [&] {
        const int again = kOpen(path.c_str(), K_O_RDONLY, 0);
        kClose(again);
    });
    count("stat", "as open/close", 5, [&] {
        struct kstat st {};
        kStat(path.c_str(), &st);
    });
}

// Tasks reading files of their own, spread over one or two devices: the bytes per second.
void taskFigures(const Options &options)
{
    const uint64_t each = std::max<uint64_t>(options.bytes / 4, 1 << 20);
    for (int i = 0; i < 4; ++i)
        putOnServer("task" + std::to_string(i) + ".dat",
                    pattern(static_cast<std::size_t>(each), 10 + static_cast<uint32_t>(i)));
    const auto throughput = [&](int tasks, int devices) {
        std::vector<double> rates;
        for (int run = 0; run < options.runs; ++run) {
            const Timing t = bench::timed([&] {
                std::vector<std::thread> threads;
                for (int i = 0; i < tasks; ++i) {
                    const std::string dev = (devices == 2 && i % 2 == 1) ? kDevC : kDevA;
                    threads.emplace_back([dev, i, each] {
                        check(readThrough(dev + "/task" + std::to_string(i) + ".dat", 65536) == each,
                              "task read");
                        nfsClientClose();
                    });
                }
                for (std::thread &thread : threads)
                    thread.join();
            });
            rates.push_back(mibPerSecond(each * static_cast<uint64_t>(tasks), t.wall));
        }
        return bench::median(rates);
    };
    // The machine's own limit: the same reads as bare loops, one and two at a time.
    const auto bareThroughput = [&](int loops) {
        std::vector<double> rates;
        for (int run = 0; run < options.runs; ++run) {
            const Timing t = bench::timed([&] {
                std::vector<std::thread> threads;
                for (int i = 0; i < loops; ++i) {
                    threads.emplace_back([i, each] {
                        bench::BareNfsLoop loop(setting.host, setting.exportPath,
                                                "task" + std::to_string(i) + ".dat", 8192);
                        check(loop.valid() && loop.readAll(8192) == each, "bare task read");
                        nfsClientClose();
                    });
                }
                for (std::thread &thread : threads)
                    thread.join();
            });
            rates.push_back(mibPerSecond(each * static_cast<uint64_t>(loops), t.wall));
        }
        return bench::median(rates);
    };
    const double bareOne = bareThroughput(1);
    const double bareTwo = bareThroughput(2);
    const double one = throughput(1, 1);
    for (const int devices : {1, 2}) {
        for (const int tasks : {1, 2, 4}) {
            if (tasks == 1 && devices == 2)
                continue;
            const double rate = tasks == 1 ? one : throughput(tasks, devices);
            Record record("tasks reading",
                          std::to_string(tasks) + " tasks on " + std::to_string(devices) + " device(s)");
            record.number("tasks", tasks)
                .number("devices", devices)
                .number("MiBps", rate)
                .number("ratio", one > 0 ? rate / one : 0);
            if (devices == 2) {
                record.flag("met", rate >= 1.5 * one);
                record.number("bareRatio", bareOne > 0 ? bareTwo / bareOne : 0);
            }
            record.print();
        }
    }
}

// The server's own address, or the fault relays' with their latency each way.
struct Path {
    const char *name;
    const char *host;
    bool relayed;
};

// Both relays on one address of their own, at the NFS server's and the MOUNT server's ports
// (and the portmapper's, over UDP), each holding every datagram and every record 0.5 ms each way: a 1 ms
// round trip, as on a local network. They run in this process, on threads of their own.
struct Relays {
    std::unique_ptr<live::FaultRelay> udp;
    std::unique_ptr<live::TcpFaultRelay> tcp;
};

constexpr const char *kRelayAddress = "127.0.0.77";
constexpr const char *kRelayHost = "bench-relay";
constexpr auto kRelayDelay = std::chrono::microseconds(500);

uint16_t mountPort()
{
    const char *port = std::getenv("RT_NFS_MOUNT_PORT");
    return static_cast<uint16_t>(port != nullptr ? std::atoi(port) : 20048);
}

Relays startRelays()
{
    Relays relays;
    std::string error;
    relays.udp = live::FaultRelay::start(kRelayAddress, setting.host, {111, 2049, mountPort()}, 1, &error);
    // The portmapper listens on TCP at every address: the TCP clients find the ports over UDP
    // (this module) or have them in their URL (nfs-cp).
    if (relays.udp != nullptr)
        relays.tcp = live::TcpFaultRelay::start(kRelayAddress, setting.host, {2049, mountPort()}, &error);
    if (!check(relays.udp != nullptr && relays.tcp != nullptr, "relays: " + error))
        return {};
    relays.udp->setPlan({.delay = kRelayDelay, .silentPorts = {}});
    relays.tcp->setPlan({.delay = kRelayDelay});
    hostAdd(kRelayHost, kRelayAddress);
    return relays;
}

bool sameBlocks(const std::vector<char> &written, const std::vector<char> &block, uint64_t size)
{
    bool same = written.size() == size;
    for (uint64_t at = 0; same && at < size; at += block.size())
        same = std::equal(block.begin(), block.end(), written.begin() + static_cast<std::ptrdiff_t>(at));
    return same;
}

// nfs-cp reading and writing the whole file over the given server address and ports (libnfs
// speaks TCP only), every copy checked; the medians in MiB/s, 0 without nfs-cp.
int nfsCpCopies = 0;

// QUERY, when given, ends the URL instead of the ports, and EXPORT names the export; without
// WITHWRITES only the reads are timed (the write's rate 0).
std::pair<double, double> nfsCpRates(const std::string &address, const std::string &name,
                                     const std::vector<char> &model, int runs, const std::string &query = "",
                                     const std::string &exportPath = setting.exportPath, bool withWrites = true)
{
    if (std::system("command -v nfs-cp >/dev/null") != 0) {
        std::fprintf(stderr, "nfsSpeedBench: no nfs-cp here; its figures skipped\n");
        return {0, 0};
    }
    // The ports in the URL: libnfs then asks no portmapper, and reaches the server only
    // through the address given.
    const std::string ports = !query.empty() ? query : "?nfsport=2049&mountport=" + std::to_string(mountPort());
    const std::string url = "nfs://" + address + exportPath;
    const std::string local = "/tmp/nfsSpeedBench-cp-" + std::to_string(getpid());
    std::ofstream(local, std::ios::binary).write(model.data(), static_cast<std::streamsize>(model.size()));
    const std::string read = "nfs-cp '" + url + "/" + name + ports + "' '" + local + "-read' >/dev/null";
    std::vector<double> reads;
    std::vector<double> writes;
    for (int run = 0; run < runs; ++run) {
        std::remove((local + "-read").c_str()); // nfs-cp refuses a target that exists
        reads.push_back(bench::timed([&] { check(std::system(read.c_str()) == 0, read); }).wall);
        std::ifstream in(local + "-read", std::ios::binary);
        check(std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) ==
                  model,
              "nfs-cp's read copy");
        if (!withWrites)
            continue;
        // A new name each time: the server may still know a name removed behind its back.
        const std::string target = "cp-w-" + std::to_string(++nfsCpCopies) + ".dat";
        const std::string write = "nfs-cp '" + local + "' '" + url + "/" + target + ports + "' >/dev/null";
        writes.push_back(bench::timed([&] { check(std::system(write.c_str()) == 0, write); }).wall);
        check(onServer(target) == model, "nfs-cp's copy on the server");
        std::remove(hostPath(target).c_str());
    }
    std::remove(local.c_str());
    std::remove((local + "-read").c_str());
    return {mibPerSecond(model.size(), bench::median(reads)),
            writes.empty() ? 0 : mibPerSecond(model.size(), bench::median(writes))};
}

// Random 4 KiB reads through the file calls on the default geometry (lines of 16 KiB, two
// READs of 8 KiB each), the same offsets with one call in flight and with the window; every
// read checked against the server's copy. Reads per second, one call then the window.
std::pair<double, double> randomReadRates(const std::string &dev, const std::vector<char> &model, int reads,
                                          int runs, int32_t window)
{
    constexpr int kPiece = 4096;
    const int fd = kOpen((dev + "/win.dat").c_str(), K_O_RDONLY, 0);
    if (!check(fd >= 0, "open for random reads"))
        return {0, 0};
    std::mt19937 random(11);
    std::uniform_int_distribution<uint64_t> block(0, model.size() / kPiece - 1);
    std::vector<uint64_t> offsets(static_cast<std::size_t>(reads));
    for (uint64_t &offset : offsets)
        offset = block(random) * kPiece;
    std::vector<char> buf(kPiece);
    std::vector<double> walls[2];
    bool same = true;
    for (int run = 0; run < runs; ++run) {
        for (int i = 0; i < 2; ++i) {
            nfsMaxInFlight = i == 0 ? 1 : window;
            walls[i].push_back(bench::timed([&] {
                                   for (const uint64_t offset : offsets) {
                                       kLseek(fd, static_cast<int64_t>(offset), K_SEEK_SET);
                                       same =
                                           kRead(fd, buf.data(), kPiece) == kPiece &&
                                           std::equal(buf.begin(), buf.end(),
                                                      model.begin() + static_cast<std::ptrdiff_t>(offset)) &&
                                           same;
                                   }
                               }).wall);
        }
    }
    nfsMaxInFlight = window;
    kClose(fd);
    check(same, "random reads against the server's copy");
    const double one = bench::median(walls[0]);
    const double many = bench::median(walls[1]);
    return {one > 0 ? reads / one : 0, many > 0 ? reads / many : 0};
}

// Sequential transfers through the file calls with the default window of calls in flight
// against one call at a time: over UDP at 8 KiB and 32 KiB on lines of 256 KiB (32 and 8 READs
// or WRITEs per line), over TCP at 1 MiB on lines of 4 MiB; runs interleaved. Each on loopback
// and through the relays adding 0.5 ms each way, there against nfs-cp through the same relay;
// then random 4 KiB reads on both paths. Through the relay at most 3 runs: a run at 8 KiB with
// one call in flight moves 64 MiB in 8192 round trips.
void windowFigures(const Options &options)
{
    const uint64_t size = options.bytes;
    putOnServer("win.dat", pattern(static_cast<std::size_t>(size), 8));
    const std::vector<char> model = onServer("win.dat");
    const int32_t savedTransport = nfsTransport;
    const int32_t window = nfsMaxInFlight;
    constexpr int kRequest = 65536;
    const std::vector<char> block = pattern(kRequest, 9);
    const Relays relays = startRelays();
    const Path paths[] = {{"loopback", setting.host.c_str(), false},
                          {"relay 0.5 ms each way", kRelayHost, true}};
    const struct {
        const char *dev;
        int32_t word;
        uint32_t transfer;
        int lines;
        int line;
    } ways[] = {
        {"/benchW8d", NFS_TRANSPORT_UDP, 8192, 16, 16 << 10}, // the default cache: read-ahead, write-behind
        {"/benchW8", NFS_TRANSPORT_UDP, 8192, 16, 256 << 10},
        {"/benchW32", NFS_TRANSPORT_UDP, 32768, 16, 256 << 10},
        {"/benchW1M", NFS_TRANSPORT_TCP, 1u << 20, 8, 4 << 20}};
    for (const Path &path : paths) {
        if (path.relayed && relays.tcp == nullptr)
            continue;
        const int runs = path.relayed ? std::min(options.runs, 3) : options.runs;
        const std::size_t relayedCalls = path.relayed ? relays.tcp->calls().size() : 0;
        const std::pair<double, double> cp =
            nfsCpRates(path.relayed ? kRelayAddress : setting.host, "win.dat", model, runs);
        check(!path.relayed || cp.first == 0 || relays.tcp->calls().size() > relayedCalls,
              "nfs-cp's calls through the relay");
        for (const auto &way : ways) {
            nfsTransport = way.word;
            nfs3CacheParamsSet(way.lines, way.line, 0);
            if (!check(nfsMount(path.host, setting.exportPath.c_str(), way.dev) == 0,
                       std::string("mount ") + way.dev + " on the " + path.name))
                continue;
            nfs3MaxMsgLen = way.transfer;
            const std::string file = std::string(way.dev) + "/win.dat";
            const std::string writeFile = std::string(way.dev) + "/win-w.dat";
            std::vector<char> copy;
            check(readThrough(file, kRequest, &copy) == size && copy == model, "window read back");
            writeThrough(writeFile, block, size);
            check(sameBlocks(onServer("win-w.dat"), block, size), "window written bytes on the server");

            std::vector<double> reads[2];
            std::vector<double> writes[2];
            for (int run = 0; run < runs; ++run) {
                for (int i = 0; i < 2; ++i) {
                    nfsMaxInFlight = i == 0 ? 1 : window;
                    reads[i].push_back(
                        bench::timed([&] { check(readThrough(file, kRequest) == size, "read"); }).wall);
                    writes[i].push_back(bench::timed([&] { writeThrough(writeFile, block, size); }).wall);
                }
            }
            check(sameBlocks(onServer("win-w.dat"), block, size), "window written bytes on the server");
            nfsMaxInFlight = window;
            const struct {
                const char *direction;
                std::vector<double> *walls;
                double nfsCp;
            } directions[] = {{"read", reads, cp.first}, {"write", writes, cp.second}};
            for (const auto &direction : directions) {
                const double one = bench::median(direction.walls[0]);
                const double many = bench::median(direction.walls[1]);
                const char *transport = way.word == NFS_TRANSPORT_TCP ? "tcp" : "udp";
                Record("window vs one call in flight",
                       std::string(direction.direction) + " 64 KiB, transfer " +
                           std::to_string(way.transfer / 1024) + " KiB, lines " +
                           std::to_string(way.line / 1024) + " KiB, " + transport + ", " + path.name)
                    .text("direction", direction.direction)
                    .text("transport", transport)
                    .text("path", path.relayed ? "relay" : "loopback")
                    .number("transfer", way.transfer)
                    .number("line", way.line)
                    .number("window", window)
                    .number("MiBps", mibPerSecond(size, many))
                    .number("oneCallMiBps", mibPerSecond(size, one))
                    .number("wallRatio", many > 0 ? one / many : 0)
                    .number("nfsCpMiBps", direction.nfsCp)
                    .number("runs", static_cast<double>(direction.walls[1].size()))
                    .print();
            }
            check(nfsUnmount(way.dev) == 0, std::string("unmount ") + way.dev);
            nfsClientClose();
        }

        nfsTransport = NFS_TRANSPORT_UDP;
        nfs3CacheParamsSet(16, 16384, 0);
        if (check(nfsMount(path.host, setting.exportPath.c_str(), "/benchWR") == 0, "mount /benchWR")) {
            nfs3MaxMsgLen = 8192;
            const int count = options.quick ? 50 : 2000;
            const auto [one, many] = randomReadRates("/benchWR", model, count, runs, window);
            Record("random reads, window vs one call",
                   std::to_string(count) + " reads of 4 KiB, transfer 8 KiB, lines 16 KiB, udp, " + path.name)
                .text("path", path.relayed ? "relay" : "loopback")
                .number("window", window)
                .number("readsPerSecond", many)
                .number("oneCallReadsPerSecond", one)
                .number("ratio", one > 0 ? many / one : 0)
                .number("runs", runs)
                .print();
            check(nfsUnmount("/benchWR") == 0, "unmount /benchWR");
            nfsClientClose();
        }
    }
    nfs3MaxMsgLen = 8192;
    nfsTransport = savedTransport;
}

// Sequential transfers through the file calls in 1 MiB requests, over UDP at 32 KiB and over
// TCP at 32 KiB, 256 KiB and 1 MiB (lines twice the transfer), against nfs-cp copying the same
// file from and to the same server in the same run. The word nfsTransport picks the transport:
// each change rebuilds the task's handle once.
void tcpFigures(const Options &options)
{
    const uint64_t size = options.bytes;
    const int request = 1 << 20;
    putOnServer("tcp.dat", pattern(static_cast<std::size_t>(size), 5));
    const std::vector<char> block = pattern(static_cast<std::size_t>(request), 6);
    struct Way {
        const char *name;
        int32_t word;
        uint32_t transfer;
        std::string dev;
    };
    const std::vector<Way> ways{{"udp 32 KiB", NFS_TRANSPORT_UDP, 32768, "/benchU32"},
                                {"tcp 32 KiB", NFS_TRANSPORT_TCP, 32768, "/benchT32"},
                                {"tcp 256 KiB", NFS_TRANSPORT_TCP, 256u << 10, "/benchT256"},
                                {"tcp 1 MiB", NFS_TRANSPORT_TCP, 1u << 20, "/benchT1M"}};
    for (const Way &way : ways) {
        if (!mount(way.dev.c_str(), 16, static_cast<int>(2 * way.transfer)))
            return;
    }
    const auto use = [](const Way &way) {
        nfsTransport = way.word;
        nfs3MaxMsgLen = way.transfer;
    };
    // The first pass checks every byte both ways at 1 MiB over TCP.
    use(ways.back());
    const std::vector<char> model = onServer("tcp.dat");
    std::vector<char> copy;
    check(readThrough(ways.back().dev + "/tcp.dat", request, &copy) == size && copy == model,
          "tcp read back");
    writeThrough(ways.back().dev + "/tcp-w.dat", block, size);
    const std::vector<char> written = onServer("tcp-w.dat");
    bool same = written.size() == size;
    for (uint64_t at = 0; same && at < size; at += block.size())
        same = std::equal(block.begin(), block.end(), written.begin() + static_cast<std::ptrdiff_t>(at));
    check(same, "tcp written bytes on the server");

    nfsStatZero();
    const bool withCp = std::system("command -v nfs-cp >/dev/null") == 0;
    if (!withCp)
        std::fprintf(stderr, "nfsSpeedBench: no nfs-cp here; its figures skipped\n");
    const std::string url = "nfs://" + setting.host + setting.exportPath;
    const std::string local = "/tmp/nfsSpeedBench-cp-" + std::to_string(getpid());
    std::ofstream(local, std::ios::binary).write(model.data(), static_cast<std::streamsize>(model.size()));
    // nfs-cp will not write to /dev/null: it copies into a local file, as it copies from one.
    const std::string cpRead = "nfs-cp '" + url + "/tcp.dat' '" + local + "-read' >/dev/null";

    std::vector<std::vector<double>> reads(ways.size() + 1);
    std::vector<std::vector<double>> writes(ways.size() + 1);
    for (int run = 0; run < options.runs; ++run) {
        for (std::size_t i = 0; i < ways.size(); ++i) {
            use(ways[i]);
            const std::string dev = ways[i].dev;
            reads[i].push_back(
                bench::timed([&] { check(readThrough(dev + "/tcp.dat", request) == size, "read"); }).wall);
            writes[i].push_back(bench::timed([&] { writeThrough(dev + "/tcp-w.dat", block, size); }).wall);
        }
        if (withCp) {
            // nfs-cp creates its target and refuses one that exists.
            std::remove((local + "-read").c_str());
            reads.back().push_back(
                bench::timed([&] { check(std::system(cpRead.c_str()) == 0, cpRead); }).wall);
            // A new name each time: the server may still know a name removed behind its back.
            const std::string target = "cp-w-" + std::to_string(++nfsCpCopies) + ".dat";
            const std::string cpWrite = "nfs-cp '" + local + "' '" + url + "/" + target + "' >/dev/null";
            writes.back().push_back(
                bench::timed([&] { check(std::system(cpWrite.c_str()) == 0, cpWrite); }).wall);
            check(onServer(target) == model, "nfs-cp's copy on the server");
            std::remove(hostPath(target).c_str());
        }
    }
    std::remove(local.c_str());
    std::remove((local + "-read").c_str());
    nfsStatShow(); // the module's counters of the timed runs, a table beside the JSON lines
    nfsTransport = NFS_TRANSPORT_UDP_WHERE_OFFERED;
    nfs3MaxMsgLen = 8192;
    for (const Way &way : ways)
        check(nfsUnmount(way.dev.c_str()) == 0, "unmount " + way.dev);

    for (const auto &[direction, times] : {std::pair{"read", &reads}, std::pair{"write", &writes}}) {
        const double udp = mibPerSecond(size, bench::median(times->front()));
        const double cp = withCp ? mibPerSecond(size, bench::median(times->back())) : 0;
        for (std::size_t i = 0; i < ways.size(); ++i) {
            const double rate = mibPerSecond(size, bench::median((*times)[i]));
            Record("transfers over TCP", std::string(direction) + " " + ways[i].name + ", lines " +
                                             std::to_string(2 * ways[i].transfer / 1024) + " KiB")
                .text("direction", direction)
                .text("transport", ways[i].word == NFS_TRANSPORT_TCP ? "tcp" : "udp")
                .number("transfer", ways[i].transfer)
                .number("MiBps", rate)
                .number("udp32MiBps", udp)
                .number("nfsCpMiBps", cp)
                .number("vsUdp32", udp > 0 ? rate / udp : 0)
                .number("vsNfsCp", cp > 0 ? rate / cp : 0)
                .number("runs", static_cast<double>(options.runs))
                .print();
        }
    }
}

// The default mount against mounts with options for that mount alone (nfsMountOpt): 64 MiB read
// and written through the file calls in 1 MiB requests, every byte checked once, against
// nfs-cp copying the same file; the words stay at their defaults throughout.
void optionFigures(const Options &options)
{
    const uint64_t size = options.bytes;
    const int request = 1 << 20;
    putOnServer("opt.dat", pattern(static_cast<std::size_t>(size), 7));
    const std::vector<char> model = onServer("opt.dat");
    const std::vector<char> block = pattern(static_cast<std::size_t>(request), 8);
    struct Way {
        const char *options; // null: nfsMount
        const char *dev;
    };
    const std::vector<Way> ways{
        {nullptr, "/benchDefault"},
        {"rsize=max,wsize=max,proto=tcp", "/benchMax"},
        {"rsize=max,wsize=max,proto=tcp,lines=16,linesize=2097152", "/benchMaxLines"}};
    nfs3CacheParamsSet(16, static_cast<int>(kLineA), 0);
    for (const Way &way : ways) {
        const int mounted =
            way.options == nullptr
                ? nfsMount(setting.host.c_str(), setting.exportPath.c_str(), way.dev)
                : nfsMountOpt(setting.host.c_str(), setting.exportPath.c_str(), way.dev, way.options);
        if (!check(mounted == 0, std::string("mount ") + way.dev))
            return;
        std::array<char, 256> shown{};
        const char *tail = nullptr;
        if (check(nfsDevOptGet(iosDevFind(way.dev, &tail), shown.data(), static_cast<int>(shown.size())) == 0,
                  "options of " + std::string(way.dev))) {
            std::printf("# %s: %s\n", way.dev, shown.data());
        }
        std::vector<char> copy;
        check(readThrough(std::string(way.dev) + "/opt.dat", request, &copy) == size && copy == model,
              std::string("read back through ") + way.dev);
        writeThrough(std::string(way.dev) + "/opt-w.dat", block, size);
        check(sameBlocks(onServer("opt-w.dat"), block, size), std::string("written through ") + way.dev);
    }
    std::vector<std::vector<double>> reads(ways.size());
    std::vector<std::vector<double>> writes(ways.size());
    for (int run = 0; run < options.runs; ++run) {
        for (std::size_t i = 0; i < ways.size(); ++i) {
            const std::string dev = ways[i].dev;
            reads[i].push_back(
                bench::timed([&] { check(readThrough(dev + "/opt.dat", request) == size, "read"); }).wall);
            writes[i].push_back(bench::timed([&] { writeThrough(dev + "/opt-w.dat", block, size); }).wall);
        }
    }
    const std::pair<double, double> cp = nfsCpRates(setting.host, "opt.dat", model, options.runs);
    for (const Way &way : ways)
        check(nfsUnmount(way.dev) == 0, std::string("unmount ") + way.dev);
    for (const auto &[direction, times] : {std::pair{"read", &reads}, std::pair{"write", &writes}}) {
        const double base = mibPerSecond(size, bench::median(times->front()));
        const double cpRate = std::string(direction) == "read" ? cp.first : cp.second;
        for (std::size_t i = 0; i < ways.size(); ++i) {
            const double rate = mibPerSecond(size, bench::median((*times)[i]));
            Record("mount options", std::string(direction) + " " +
                                        (ways[i].options == nullptr ? "default mount" : ways[i].options))
                .text("direction", direction)
                .text("options", ways[i].options == nullptr ? "" : ways[i].options)
                .number("MiBps", rate)
                .number("defaultMiBps", base)
                .number("nfsCpMiBps", cpRate)
                .number("vsDefault", base > 0 ? rate / base : 0)
                .number("vsNfsCp", cpRate > 0 ? rate / cpRate : 0)
                .number("runs", static_cast<double>(options.runs))
                .print();
        }
    }
}

// Version 4.1 and 4.0 against version 3 on the same server (RT_NFS_SERVER_VERSIONS=3,4): 64 MiB
// read and written through the file calls in 1 MiB requests on devices of the same geometry
// (TCP, 1 MiB transfers, lines of 1 MiB, the window of the word), every byte checked once,
// against nfs-cp copying the same file over version 4.
void v4Figures(const Options &options)
{
    const char *v4Export = std::getenv("RT_NFS_V4_EXPORT");
    const char *versions = std::getenv("RT_NFS_SERVER_VERSIONS");
    if (v4Export == nullptr || versions == nullptr || std::string(versions) != "3,4") {
        std::fprintf(stderr, "nfsSpeedBench: version 4 figures need RT_NFS_SERVER_VERSIONS=3,4; skipped\n");
        return;
    }
    const uint64_t size = options.bytes;
    const int request = 1 << 20;
    putOnServer("v4.dat", pattern(static_cast<std::size_t>(size), 11));
    const std::vector<char> model = onServer("v4.dat");
    const std::vector<char> block = pattern(static_cast<std::size_t>(request), 12);
    struct Way {
        const char *name;
        const char *options;
        std::string exportPath;
        const char *dev;
    };
    const std::string geometry = "proto=tcp,rsize=1048576,wsize=1048576,lines=16,linesize=1048576";
    const std::string v3 = "vers=3," + geometry;
    const std::string v41 = "vers=4.1," + geometry;
    const std::string v40 = "vers=4.0," + geometry;
    const std::vector<Way> ways{{"version 3", v3.c_str(), setting.exportPath, "/benchV3"},
                                {"version 4.1", v41.c_str(), v4Export, "/benchV41"},
                                {"version 4.0", v40.c_str(), v4Export, "/benchV40"}};
    for (const Way &way : ways) {
        if (!check(nfsMountOpt(setting.host.c_str(), way.exportPath.c_str(), way.dev, way.options) == 0,
                   std::string("mount ") + way.dev))
            return;
        std::vector<char> copy;
        check(readThrough(std::string(way.dev) + "/v4.dat", request, &copy) == size && copy == model,
              std::string("read back through ") + way.dev);
        writeThrough(std::string(way.dev) + "/v4-w.dat", block, size);
        check(sameBlocks(onServer("v4-w.dat"), block, size), std::string("written through ") + way.dev);
    }
    std::vector<std::vector<double>> reads(ways.size());
    std::vector<std::vector<double>> writes(ways.size());
    for (int run = 0; run < options.runs; ++run) {
        for (std::size_t i = 0; i < ways.size(); ++i) {
            const std::string dev = ways[i].dev;
            reads[i].push_back(
                bench::timed([&] { check(readThrough(dev + "/v4.dat", request) == size, "read"); }).wall);
            writes[i].push_back(bench::timed([&] { writeThrough(dev + "/v4-w.dat", block, size); }).wall);
        }
    }
    // Reads alone: libnfs 4.0.0's nfs-cp fails every version 4 write here ("ZDR error: Failed to
    // encode COMPOUND4args"), leaving an empty file.
    const std::pair<double, double> cp =
        nfsCpRates(setting.host, "v4.dat", model, options.runs, "?version=4", v4Export, false);
    for (const Way &way : ways)
        check(nfsUnmount(way.dev) == 0, std::string("unmount ") + way.dev);
    for (const auto &[direction, times] : {std::pair{"read", &reads}, std::pair{"write", &writes}}) {
        const double base = mibPerSecond(size, bench::median(times->front()));
        const double cpRate = std::string(direction) == "read" ? cp.first : cp.second;
        for (std::size_t i = 0; i < ways.size(); ++i) {
            const double rate = mibPerSecond(size, bench::median((*times)[i]));
            Record("version 4", std::string(direction) + " " + ways[i].name + ", tcp 1 MiB, window " +
                                    std::to_string(nfsMaxInFlight))
                .text("direction", direction)
                .text("version", ways[i].name)
                .number("window", nfsMaxInFlight)
                .number("MiBps", rate)
                .number("v3MiBps", base)
                .number("nfsCpV4MiBps", cpRate)
                .number("vsV3", base > 0 ? rate / base : 0)
                .number("vsNfsCpV4", cpRate > 0 ? rate / cpRate : 0)
                .number("runs", static_cast<double>(options.runs))
                .print();
        }
    }
}

// The libnfs tools run as programs; the client side here does what they do: mount, the
// operation, unmount.
double toolSeconds(const std::string &command, int runs)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const Timing t = bench::timed([&] { check(std::system(command.c_str()) == 0, command); });
        times.push_back(t.wall);
    }
    return bench::median(times);
}

void libnfsFigures(const Options &options)
{
    if (std::system("command -v nfs-ls >/dev/null && command -v nfs-cat >/dev/null") != 0) {
        std::fprintf(stderr, "nfsSpeedBench: no nfs-ls or nfs-cat here; libnfs figures skipped\n");
        return;
    }
    const std::string url = "nfs://" + setting.host + setting.exportPath;
    const auto ours = [&](const std::function<void()> &op) {
        std::vector<double> times;
        for (int run = 0; run < options.runs; ++run) {
            times.push_back(bench::timed([&] {
                                check(nfsMount(setting.host.c_str(), setting.exportPath.c_str(), "/benchT") ==
                                          0,
                                      "mount");
                                op();
                                check(nfsUnmount("/benchT") == 0, "unmount");
                            }).wall);
        }
        return bench::median(times);
    };
    nfs3CacheParamsSet(16, 16384, 0);
    unsigned listed = 0;
    const double listOurs = ours([&] {
        KDIR *dir = kOpendir("/benchT/list");
        listed = 0;
        while (dir != nullptr && kReaddir(dir) != nullptr)
            ++listed;
        if (dir != nullptr)
            kClosedir(dir);
    });
    const double listTheirs = toolSeconds("nfs-ls '" + url + "/list' >/dev/null", options.runs);
    Record("listing vs libnfs", std::to_string(listed) + " entries: mount, list, unmount against nfs-ls")
        .number("oursMs", listOurs * 1e3)
        .number("libnfsMs", listTheirs * 1e3)
        .number("ratio", listOurs > 0 ? listTheirs / listOurs : 0)
        .print();
    const double fetchOurs = ours([] {
        char buf[200];
        const int fd = kOpen("/benchT/d1.txt", K_O_RDONLY, 0);
        check(fd >= 0 && kRead(fd, buf, sizeof buf) == 100, "small fetch");
        kClose(fd);
    });
    const double fetchTheirs = toolSeconds("nfs-cat '" + url + "/d1.txt' >/dev/null", options.runs);
    Record("small-file fetch vs libnfs", "100 bytes: mount, open/read/close, unmount against nfs-cat")
        .number("oursMs", fetchOurs * 1e3)
        .number("libnfsMs", fetchTheirs * 1e3)
        .number("ratio", fetchOurs > 0 ? fetchTheirs / fetchOurs : 0)
        .print();
}

// Tasks reading files of their own on one device, on loopback and through the relays adding
// 0.5 ms each way, over UDP at 8 KiB (lines 16 KiB) and TCP at 1 MiB (lines 2 MiB): the bytes
// per second of 2 and 4 tasks against one; then random 4 KiB reads from 4 tasks against one.
// With the channel shared by the tasks, their calls are in flight together.
void sharedFigures(const Options &options)
{
    const uint64_t each = std::max<uint64_t>(options.bytes / 4, 1 << 20);
    std::vector<std::vector<char>> models;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "shared" + std::to_string(i) + ".dat";
        putOnServer(name, pattern(static_cast<std::size_t>(each), 20 + static_cast<uint32_t>(i)));
        models.push_back(onServer(name));
    }
    const Relays relays = startRelays();
    const Path paths[] = {{"loopback", setting.host.c_str(), false},
                          {"relay 0.5 ms each way", kRelayHost, true}};
    const struct {
        const char *name;
        int32_t word;
        uint32_t transfer;
        int line;
    } ways[] = {{"udp 8 KiB", NFS_TRANSPORT_UDP, 8192, 16 << 10},
                {"tcp 1 MiB", NFS_TRANSPORT_TCP, 1u << 20, 2 << 20}};
    const int32_t savedTransport = nfsTransport;
    // Runs of TASKS tasks, each doing WORK(i) on its file: the median wall time.
    const auto wall = [&](int tasks, int runs, const std::function<void(int)> &work) {
        std::vector<double> walls;
        for (int run = 0; run < runs; ++run) {
            walls.push_back(bench::timed([&] {
                                std::vector<std::thread> threads;
                                for (int i = 0; i < tasks; ++i)
                                    threads.emplace_back([&work, i] { work(i); });
                                for (std::thread &thread : threads)
                                    thread.join();
                            }).wall);
        }
        return bench::median(walls);
    };
    for (const Path &path : paths) {
        if (path.relayed && relays.tcp == nullptr)
            continue;
        const int runs = path.relayed ? std::min(options.runs, 3) : options.runs;
        for (const auto &way : ways) {
            nfsTransport = way.word;
            nfs3CacheParamsSet(16, way.line, 0);
            if (!check(nfsMount(path.host, setting.exportPath.c_str(), "/benchS") == 0,
                       std::string("mount /benchS on the ") + path.name))
                continue;
            nfs3MaxMsgLen = way.transfer;
            const auto readAll = [&](int i) {
                std::vector<char> copy;
                check(readThrough("/benchS/shared" + std::to_string(i) + ".dat", 65536, &copy) == each &&
                          copy == models[static_cast<std::size_t>(i)],
                      "shared read against the server's copy");
            };
            const double one = wall(1, runs, readAll);
            for (const int tasks : {2, 4}) {
                nfsStatZero();
                const double many = wall(tasks, runs, readAll);
                const double ratio = many > 0 ? one * tasks / many : 0;
                // Bytes the server sent per byte the tasks read: above 1, lines read ahead were
                // taken by another file's before they were read.
                NfsStatCounts udp{};
                NfsStatCounts tcp{};
                nfsStatGet(IPPROTO_UDP, &udp);
                nfsStatGet(IPPROTO_TCP, &tcp);
                const double received = static_cast<double>(udp.bytesReceived + tcp.bytesReceived) /
                                        static_cast<double>(each * static_cast<uint64_t>(tasks * runs));
                Record("tasks sharing a device",
                       std::to_string(tasks) + " tasks reading, " + way.name + ", " + path.name)
                    .text("path", path.relayed ? "relay" : "loopback")
                    .text("transport", way.word == NFS_TRANSPORT_TCP ? "tcp" : "udp")
                    .number("tasks", tasks)
                    .number("MiBps", mibPerSecond(each * static_cast<uint64_t>(tasks), many))
                    .number("oneTaskMiBps", mibPerSecond(each, one))
                    .number("ratio", ratio)
                    .number("receivedPerByteRead", received)
                    .number("goal", path.relayed ? (tasks == 2 ? 1.6 : 2.5) : 1.0)
                    .flag("met", ratio >= (path.relayed ? (tasks == 2 ? 1.6 : 2.5) : 1.0))
                    .print();
            }
            const int count = options.quick ? 20 : (path.relayed ? 200 : 1000);
            const auto randomReads = [&](int i) {
                std::mt19937 random(static_cast<uint32_t>(31 + i));
                std::uniform_int_distribution<uint64_t> block(0, each / 4096 - 1);
                const int fd = kOpen(("/benchS/shared" + std::to_string(i) + ".dat").c_str(), K_O_RDONLY, 0);
                std::vector<char> buf(4096);
                bool same = fd >= 0;
                for (int n = 0; same && n < count; ++n) {
                    const uint64_t at = block(random) * 4096;
                    kLseek(fd, static_cast<int64_t>(at), K_SEEK_SET);
                    const auto &model = models[static_cast<std::size_t>(i)];
                    same =
                        kRead(fd, buf.data(), 4096) == 4096 &&
                        std::equal(buf.begin(), buf.end(), model.begin() + static_cast<std::ptrdiff_t>(at));
                }
                if (fd >= 0)
                    kClose(fd);
                check(same, "random reads against the server's copy");
            };
            const double randomOne = wall(1, runs, randomReads);
            const double randomFour = wall(4, runs, randomReads);
            Record("random reads from tasks sharing a device", std::to_string(count) +
                                                                   " reads of 4 KiB per task, 4 tasks, " +
                                                                   way.name + ", " + path.name)
                .text("path", path.relayed ? "relay" : "loopback")
                .number("readsPerSecond", randomFour > 0 ? 4 * count / randomFour : 0)
                .number("oneTaskReadsPerSecond", randomOne > 0 ? count / randomOne : 0)
                .number("ratio", randomFour > 0 ? 4 * randomOne / randomFour : 0)
                .print();
            check(nfsUnmount("/benchS") == 0, "unmount /benchS");
            nfsClientClose();
        }
    }
    nfsTransport = savedTransport;
    nfs3MaxMsgLen = 8192;
    nfs3CacheParamsSet(16, 16384, 0);
}

// One user's whole job against nfs-cp: the program nfsJob (beside this one) starts, loads the
// module, mounts over TCP with 1 MiB transfers, reads the file and writes it back under another
// name, and ends; nfs-cp reads and writes the same file as two programs. Start and mount
// included on both sides, every copy checked. RT_BENCH_EMULATOR runs nfsJob under an emulator.
void jobFigures(const Options &options)
{
    const std::filesystem::path job =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "nfsJob";
    if (!check(std::filesystem::exists(job), "nfsJob beside nfsSpeedBench"))
        return;
    const bool withCp = std::system("command -v nfs-cp >/dev/null") == 0;
    if (!withCp)
        std::fprintf(stderr, "nfsSpeedBench: no nfs-cp here; the job runs without its comparison\n");
    const uint64_t size = options.bytes;
    putOnServer("job.dat", pattern(static_cast<std::size_t>(size), 41));
    const std::vector<char> model = onServer("job.dat");
    const std::string local = "/tmp/nfsSpeedBench-job-" + std::to_string(getpid());
    std::ofstream(local, std::ios::binary).write(model.data(), static_cast<std::streamsize>(model.size()));
    const char *emulator = std::getenv("RT_BENCH_EMULATOR");
    const std::string ours = std::string(emulator != nullptr ? emulator : "") + " '" + job.string() + "' '" +
                             setting.host + "' '" + setting.exportPath + "' job.dat '" + local + "' '" +
                             local + "-ours'";
    const std::string url = "nfs://" + setting.host + setting.exportPath;
    const std::string cpRead = "nfs-cp '" + url + "/job.dat' '" + local + "-cp' >/dev/null";
    // A target of its own for each run: nfs-cp refuses one that exists, and a name removed
    // behind the server's back may still be looked up in its cache (the copy then fails).
    const auto cpWrite = [&](int run) {
        return "nfs-cp '" + local + "' '" + url + "/job.dat.cp" + std::to_string(run) + "' >/dev/null";
    };
    const auto sameFile = [&](const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) ==
               model;
    };
    std::vector<double> oursWall;
    std::vector<double> theirsWall;
    for (int run = 0; run < options.runs; ++run) {
        std::remove((local + "-ours").c_str());
        oursWall.push_back(bench::timed([&] { check(std::system(ours.c_str()) == 0, ours); }).wall);
        check(sameFile(local + "-ours") && onServer("job.dat.w") == model, "nfsJob's copies");
        if (!withCp)
            continue;
        std::remove((local + "-cp").c_str());
        const std::string target = "job.dat.cp" + std::to_string(run);
        theirsWall.push_back(bench::timed([&] {
                                 check(std::system(cpRead.c_str()) == 0, cpRead);
                                 check(std::system(cpWrite(run).c_str()) == 0, cpWrite(run));
                             }).wall);
        check(sameFile(local + "-cp") && onServer(target) == model, "nfs-cp's copies");
        std::remove(hostPath(target).c_str());
    }
    for (const char *suffix : {"", "-ours", "-cp"})
        std::remove((local + suffix).c_str());
    const double mine = bench::median(oursWall);
    const double theirs = withCp ? bench::median(theirsWall) : 0;
    const char *lineSize = std::getenv("RT_JOB_LINE_SIZE"); // nfsJob's lines, 2 MiB unless set
    Record("whole job vs nfs-cp", std::to_string(size >> 20) + " MiB read and written, tcp 1 MiB, lines of " +
                                      (lineSize != nullptr ? std::string(lineSize) + " bytes" : "2 MiB") +
                                      ", start and mount included")
        .number("oursSeconds", mine)
        .number("nfsCpSeconds", theirs)
        .number("ratio", mine > 0 ? theirs / mine : 0)
        .flag("met", mine > 0 && theirs / mine >= 1.0)
        .number("runs", options.runs)
        .print();
}

// kFcntl on fd from the calling task: 0, or the error number.
int lockCall(int fd, int cmd, int type)
{
    kflock lock{static_cast<int16_t>(type), K_SEEK_SET, 0, 0, 0};
    return kFcntl(fd, cmd, &lock) == 0 ? 0 : errnoGet();
}

// One K_F_SETLK and its K_F_UNLCK against the two round trips they cannot do without (the
// manager's NULL twice), and the NFS calls the pairs of the last run made besides (the lock
// manager's own are not counted).
void lockPairFigure(const Options &options, int fd, const std::string &what)
{
    const int rounds = options.quick ? 5 : 200;
    std::vector<double> pairs;
    std::vector<double> floors;
    for (int run = 0; run < options.runs; ++run) {
        bench::rpcCountReset();
        pairs.push_back(bench::timed([&] {
                            for (int i = 0; i < rounds; ++i) {
                                check(lockCall(fd, K_F_SETLK, K_F_WRLCK) == 0, "lock");
                                check(lockCall(fd, K_F_SETLK, K_F_UNLCK) == 0, "unlock");
                            }
                        }).wall /
                        rounds);
        floors.push_back(bench::timed([&] {
                             for (int i = 0; i < 2 * rounds; ++i)
                                 nfsClientCall(setting.host.c_str(), 100021, 4, 0, nfsXdrProc(xdr_void),
                                               nullptr, nfsXdrProc(xdr_void), nullptr);
                         }).wall /
                         rounds);
    }
    const double mine = bench::median(pairs);
    const double floor = bench::median(floors);
    Record("lock and unlock", "K_F_SETLK then K_F_UNLCK of the whole file, nothing cached dirty, " + what)
        .number("pairUs", mine * 1e6)
        .number("floorUs", floor * 1e6)
        .number("ratio", mine > 0 ? floor / mine : 0)
        .text("nfsCalls", bench::rpcCountText())
        .number("pairs", rounds)
        .number("runs", options.runs)
        .print();
}

// How late a K_F_SETLKW comes back after the holder's unlock returned: the polling's cost,
// for holds of several lengths.
void lockWaitFigure(const Options &options, int fd, int holderFd)
{
    for (const int holdMs : {50, 300, 1500}) {
        std::vector<double> late;
        for (int run = 0; run < (options.quick ? 1 : options.runs); ++run) {
            std::atomic<double> unlocked{0};
            std::thread holder([&] {
                check(lockCall(holderFd, K_F_SETLK, K_F_WRLCK) == 0, "hold");
                std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
                check(lockCall(holderFd, K_F_SETLK, K_F_UNLCK) == 0, "let go");
                unlocked = bench::now(1);
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            check(lockCall(fd, K_F_SETLKW, K_F_WRLCK) == 0, "wait");
            const double granted = bench::now(1);
            holder.join();
            late.push_back(granted - unlocked.load());
            check(lockCall(fd, K_F_SETLK, K_F_UNLCK) == 0, "unlock after the wait");
        }
        Record("lock wait wake-up", "holder lets go after " + std::to_string(holdMs) + " ms")
            .number("holdMs", holdMs)
            .number("lateMs", bench::median(late) * 1e3)
            .number("runs", static_cast<double>(late.size()))
            .print();
    }
}

void lockFigures(const Options &options)
{
    const char *locks = std::getenv("RT_NFS_SERVER_LOCKS");
    if (locks == nullptr || std::string(locks) != "1") {
        Record("lock and unlock", "not measured: the server's lock manager is off").print();
        return;
    }
    putOnServer("lock.dat", pattern(4096, 11));
    const std::string path = std::string(kDevA) + "/lock.dat";
    const int fd = kOpen(path.c_str(), K_O_RDWR, 0);
    const int holderFd = kOpen(path.c_str(), K_O_RDWR, 0);
    if (check(fd >= 0 && holderFd >= 0, "open lock.dat")) {
        lockPairFigure(options, fd, "no other lock held");
        lockWaitFigure(options, fd, holderFd);
        // The server watches a client (its status monitor told) from its first lock to its
        // last: another task's lock on another file keeps it watched across the pairs.
        putOnServer("lock-other.dat", pattern(16, 12));
        std::atomic<bool> done{false};
        std::thread keeper([&done] {
            const int other = kOpen((std::string(kDevA) + "/lock-other.dat").c_str(), K_O_RDWR, 0);
            check(other >= 0 && lockCall(other, K_F_SETLK, K_F_RDLCK) == 0, "lock another file");
            while (!done)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            kClose(other);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        lockPairFigure(options, fd, "another task holding a lock on another file");
        done = true;
        keeper.join();
    }
    kClose(fd);
    kClose(holderFd);
}

Options parse(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "--quick") {
            options.quick = true;
            options.runs = 1;
            options.bytes = 1u << 20;
            options.entries = 100;
        } else if (arg == "--runs" && more) {
            options.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--mib" && more) {
            options.bytes = static_cast<uint64_t>(std::max(1, std::atoi(argv[++i]))) << 20;
        } else if (arg == "--entries" && more) {
            options.entries = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--window" && more) {
            nfsMaxInFlight = std::atoi(argv[++i]); // the window the figures set against one call
        } else if (arg == "--only" && more) {
            options.only = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: nfsSpeedBench [--runs N] [--mib M] [--entries N] [--quick] [--window N]\n"
                         "                     [--only "
                         "sequential|calls|cachehit|pausedhit|allocations|tasks|libnfs|tcp|window|shared|job|"
                         "options|locks|v4]\n");
            std::exit(2);
        }
    }
    return options;
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = parse(argc, argv);
    if (setting.host.empty() || setting.exportDir.empty()) {
        std::fprintf(stderr, "nfsSpeedBench: run through tests/peers/with-nfs-peers.sh\n");
        return 2;
    }
    nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
    // The first mount lowers the transfer size to the server's FSINFO limit.
    nfs3MaxMsgLen = UINT32_MAX;
    if (!check(nfs3Drv() == 0 && nfs4Drv() == 0, "drivers") || !mount(kDevA, 16, kLineA))
        return 1;
    Record("server limits", "FSINFO of the first mount, at most a datagram's worth over UDP")
        .number("transferLimit", nfs3MaxMsgLen)
        .number("dtpref", nfs3MaxRddirSz)
        .print();
    check(nfs3MaxMsgLen >= 32768, "a server allowing 32 KiB transfers");
    nfs3MaxMsgLen = 8192;
    if (!mount(kDevB, 16, kLineB) || !mount(kDevC, 16, kLineA))
        return 1;
    if (options.includes("sequential"))
        sequentialFigures(options);
    if (options.includes("calls"))
        callFigures(options);
    if (options.includes("cachehit"))
        cacheHitFigure(options);
    if (options.includes("pausedhit"))
        pausedHitFigure(options);
    if (options.includes("allocations"))
        allocationFigures();
    if (options.includes("tasks"))
        taskFigures(options);
    if (options.includes("libnfs"))
        libnfsFigures(options);
    if (options.includes("tcp"))
        tcpFigures(options);
    if (options.includes("window"))
        windowFigures(options);
    if (options.includes("shared"))
        sharedFigures(options);
    if (options.includes("job"))
        jobFigures(options);
    if (options.includes("options"))
        optionFigures(options);
    if (options.includes("locks"))
        lockFigures(options);
    if (options.includes("v4"))
        v4Figures(options);
    for (const char *dev : {kDevA, kDevB, kDevC})
        check(nfsUnmount(dev) == 0, std::string("unmount ") + dev);
    nfsClientClose();
    return failures == 0 ? 0 : 1;
}
