// The file calls of the kernel layer on a version 4 device of a server of version 4 alone (no
// portmapper, no MOUNT service), mounted by plain nfsMount: every byte written checked in the
// exported folder, every byte read against it, through the device's data cache.
#include "live/liveServer.h"

#include <brisnel/nfs4Drv.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsDevLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsStatLib.h>
#include <brisnel/nfs4Status.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char *kDev = "/v4d";

std::vector<char> randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<char> bytes(n);
    std::uniform_int_distribution<int> byte(0, 255);
    for (char &c : bytes)
        c = static_cast<char>(byte(random));
    return bytes;
}

// Compared without printing megabytes on a failure.
::testing::AssertionResult sameBytes(const std::vector<char> &expected, const std::vector<char> &actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    const auto differ = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    return ::testing::AssertionFailure()
           << expected.size() << " bytes expected, " << actual.size() << " found, the first difference at "
           << (differ.first - expected.begin());
}

class Nfs4DriverLive : public testing::Test {
protected:
    void SetUp() override
    {
        // The module's own uid, as the other suites' devices use it; the credentials of the
        // binary's other tests come back at the end.
        nfsAuthUnixGet(machine_.data(), &uid_, &gid_, &nGroups_, groups_.data());
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
        ASSERT_EQ(nfs4Drv(), 0);
        nfs3CacheParamsSet(16, 16384, 0); // the module's start-up geometry, fitted by the mount
        const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::string("d4-") + info->name();
        std::filesystem::remove_all(host(""));
        std::filesystem::create_directory(host(""));
        std::filesystem::permissions(host(""), std::filesystem::perms::all);
        ASSERT_EQ(::chown(host("").c_str(), 2001, 100), 0);
        ASSERT_EQ(nfsMount(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), kDev), 0)
            << std::hex << errnoGet();
    }
    void TearDown() override
    {
        EXPECT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
        nfsAuthUnixSet(machine_.data(), uid_, gid_, nGroups_, groups_.data());
        std::error_code ignored;
        std::filesystem::remove_all(host(""), ignored);
        nfsClientClose();
    }

    std::string dev(const std::string &name) const { return std::string(kDev) + "/" + folder_ + "/" + name; }
    std::string host(const std::string &name) const
    {
        return live::exportDir() + "/" + folder_ + (name.empty() ? "" : "/" + name);
    }
    std::vector<char> onServer(const std::string &name) const
    {
        std::ifstream in(host(name), std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void putOnServer(const std::string &name, const std::vector<char> &bytes) const
    {
        {
            std::ofstream out(host(name), std::ios::binary);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        ASSERT_EQ(::chown(host(name).c_str(), 2001, 100), 0);
    }
    // Writes BYTES through the device in pieces of PIECE bytes.
    static void writeAll(int fd, const std::vector<char> &bytes, std::size_t piece)
    {
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            const auto n = static_cast<int>(std::min(piece, bytes.size() - at));
            ASSERT_EQ(kWrite(fd, bytes.data() + at, n), n) << std::hex << errnoGet() << " at " << at;
        }
    }
    static std::vector<char> readAll(int fd, int piece)
    {
        std::vector<char> all;
        std::vector<char> buf(static_cast<std::size_t>(piece));
        for (int got = 0; (got = kRead(fd, buf.data(), piece)) > 0;)
            all.insert(all.end(), buf.begin(), buf.begin() + got);
        return all;
    }
    std::vector<char> readBack(const std::string &name, int piece) const
    {
        const int fd = kOpen(dev(name).c_str(), K_O_RDONLY, 0);
        EXPECT_GE(fd, 0) << std::hex << errnoGet();
        if (fd < 0)
            return {};
        std::vector<char> all = readAll(fd, piece);
        EXPECT_EQ(kClose(fd), 0);
        return all;
    }

    std::string folder_;
    std::array<char, 256> machine_{};
    std::array<int, NFS_AUTH_MAX_GROUPS> groups_{};
    int uid_ = 0;
    int gid_ = 0;
    int nGroups_ = 0;
};

std::string captured(void (*show)())
{
    testing::internal::CaptureStdout();
    show();
    return testing::internal::GetCapturedStdout();
}

// How many of the version 4 operation OP the COMPOUNDs carried since the last nfsStatZero.
uint64_t operationsSent(const char *op)
{
    std::istringstream rows(captured(nfsStatShow));
    for (std::string row; std::getline(rows, row);) {
        std::istringstream words(row);
        std::string net, prog, name;
        uint64_t calls = 0;
        if (words >> net >> prog >> name >> calls && net == "op" && prog == "NFS4" && name == op)
            return calls;
    }
    return 0;
}

// FN run by another task (a thread of its own) when ELSEWHERE, else by this one.
template <typename Fn> void inTask(bool elsewhere, Fn fn)
{
    if (!elsewhere) {
        fn();
        return;
    }
    std::thread task(fn);
    task.join();
}

// No portmapper answers: nfsMount chose version 4.1, with the server's transfer sizes (1 MiB at
// most) and cache lines that hold one.
TEST_F(Nfs4DriverLive, PlainMountChoosesVersion41WithTheServersTransferSizes)
{
    const std::string listing = captured(nfsDevShow);
    EXPECT_NE(listing.find(std::string(kDev)), std::string::npos) << listing;
    EXPECT_NE(listing.find(" 4.1\n"), std::string::npos) << listing;
    const char *rest = nullptr;
    DEV_HDR *device = iosDevFind(kDev, &rest);
    ASSERT_NE(device, nullptr);
    char options[NFS_MAX_PATH] = {};
    ASSERT_EQ(nfsDevOptGet(device, options, sizeof options), 0);
    const std::string text(options);
    EXPECT_NE(text.find("vers=4.1,proto=tcp,"), std::string::npos) << text;
    const auto sizeOf = [&text](const char *word) {
        const std::size_t at = text.find(word);
        return at == std::string::npos ? 0UL : std::stoul(text.substr(at + std::strlen(word)));
    };
    for (const char *word : {"rsize=", "wsize="}) {
        EXPECT_GE(sizeOf(word), 65536UL) << text;
        EXPECT_LE(sizeOf(word), NFS_TCP_MAX_TRANSFER) << text;
    }
    EXPECT_GE(sizeOf("linesize="), std::max(sizeOf("rsize="), sizeOf("wsize="))) << text;
}

// Written in pieces that cross the cache's lines, read back in others, the size seen through
// the descriptor and on the server.
TEST_F(Nfs4DriverLive, WrittenBytesReachTheServerAndReadBack)
{
    const std::vector<char> bytes = randomBytes(700001, 1);
    const int fd = kOpen(dev("data").c_str(), K_O_RDWR | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    writeAll(fd, bytes, 12345);
    struct kstat st {};
    ASSERT_EQ(kFstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, bytes.size());
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(st.st_mode & K_S_IFMT, static_cast<uint32_t>(K_S_IFREG));
    EXPECT_EQ(st.st_uid, 2001u) << "the owner reported as the server gives it";
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_TRUE(sameBytes(bytes, onServer("data")));
    EXPECT_TRUE(sameBytes(bytes, readBack("data", 54321)));

    // Written alone into the middle of a line: the rest of the line read around it.
    const int writer = kOpen(dev("data").c_str(), K_O_WRONLY, 0);
    ASSERT_GE(writer, 0) << std::hex << errnoGet();
    ASSERT_EQ(kLseek(writer, 300000, K_SEEK_SET), 300000);
    ASSERT_EQ(kWrite(writer, "mid", 3), 3);
    EXPECT_EQ(kClose(writer), 0) << std::hex << errnoGet();
    std::vector<char> changed = bytes;
    std::copy_n("mid", 3, changed.begin() + 300000);
    EXPECT_TRUE(sameBytes(changed, onServer("data")));
}

// The create flags as the server sees them.
TEST_F(Nfs4DriverLive, CreateExclusiveTruncateAndAppend)
{
    putOnServer("there", {'o', 'l', 'd', '!'});
    EXPECT_EQ(kOpen(dev("there").c_str(), K_O_WRONLY | K_O_CREAT | K_O_EXCL, 0644), -1);
    EXPECT_EQ(errnoGet(), K_EEXIST);
    EXPECT_EQ(onServer("there"), (std::vector<char>{'o', 'l', 'd', '!'}));

    const int made = kOpen(dev("new").c_str(), K_O_WRONLY | K_O_CREAT | K_O_EXCL, 0600);
    ASSERT_GE(made, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(made, "n", 1), 1);
    EXPECT_EQ(kClose(made), 0);
    EXPECT_EQ(onServer("new"), std::vector<char>{'n'});
    struct stat st {};
    ASSERT_EQ(::stat(host("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    const int cut = kOpen(dev("there").c_str(), K_O_WRONLY | K_O_TRUNC, 0);
    ASSERT_GE(cut, 0) << std::hex << errnoGet();
    EXPECT_TRUE(onServer("there").empty()) << "truncated at the open";
    ASSERT_EQ(kWrite(cut, "ab", 2), 2);
    EXPECT_EQ(kClose(cut), 0);

    const int log = kOpen(dev("there").c_str(), K_O_WRONLY | K_O_APPEND, 0);
    ASSERT_GE(log, 0);
    ASSERT_EQ(kLseek(log, 0, K_SEEK_SET), 0);
    ASSERT_EQ(kWrite(log, "c", 1), 1);
    EXPECT_EQ(kClose(log), 0);
    EXPECT_EQ(onServer("there"), (std::vector<char>{'a', 'b', 'c'}));
}

// Names: folders made and removed, files renamed and removed, a folder's names listed, each once.
TEST_F(Nfs4DriverLive, FoldersNamesAndListings)
{
    ASSERT_EQ(kMkdir(dev("sub").c_str(), 0755), 0) << std::hex << errnoGet();
    EXPECT_TRUE(std::filesystem::is_directory(host("sub")));
    std::set<std::string> names;
    for (int i = 0; i < 300; ++i) { // more than one READDIR reply's worth
        const std::string name = "entry-with-a-longish-name-" + std::to_string(i);
        putOnServer("sub/" + name, {'x'});
        names.insert(name);
    }
    KDIR *dir = kOpendir(dev("sub").c_str());
    ASSERT_NE(dir, nullptr) << std::hex << errnoGet();
    std::multiset<std::string> listed;
    for (struct kdirent *entry = kReaddir(dir); entry != nullptr; entry = kReaddir(dir))
        listed.insert(entry->d_name);
    EXPECT_EQ(kClosedir(dir), 0);
    EXPECT_EQ(listed, std::multiset<std::string>(names.begin(), names.end()));

    ASSERT_EQ(kRename(dev("sub/entry-with-a-longish-name-0").c_str(), dev("moved").c_str()), 0)
        << std::hex << errnoGet();
    EXPECT_EQ(onServer("moved"), std::vector<char>{'x'});
    EXPECT_FALSE(std::filesystem::exists(host("sub/entry-with-a-longish-name-0")));
    for (const std::string &name : names) {
        if (name != "entry-with-a-longish-name-0") {
            ASSERT_EQ(kRemove(dev("sub/" + name).c_str()), 0) << name << std::hex << errnoGet();
        }
    }
    EXPECT_EQ(kRmdir(dev("sub").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(std::filesystem::exists(host("sub")));
    EXPECT_EQ(kRemove(dev("moved").c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(host("moved")));
    EXPECT_EQ(kRemove(dev("moved").c_str()), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | 2) << "NFS4ERR_NOENT";
}

// A file removed while open stays readable through its descriptor until the close, and is gone
// on the server then; a symbolic link is not followed (NFS4ERR_SYMLINK), and removed itself.
TEST_F(Nfs4DriverLive, OpenFileOutlivesItsRemovalAndLinksAreNotFollowed)
{
    putOnServer("kept", {'k', 'e', 'p', 't'});
    const int fd = kOpen(dev("kept").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kRemove(dev("kept").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(std::filesystem::exists(host("kept")));
    EXPECT_EQ(readAll(fd, 2), (std::vector<char>{'k', 'e', 'p', 't'}));
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_TRUE(std::filesystem::is_empty(host(""))) << "the hidden name went with the close";

    putOnServer("target", {'t'});
    std::filesystem::create_symlink("target", host("link"));
    EXPECT_EQ(kOpen(dev("link").c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | 10029) << "NFS4ERR_SYMLINK";
    ASSERT_EQ(kRemove(dev("link").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(std::filesystem::is_symlink(host("link")));
    EXPECT_EQ(onServer("target"), std::vector<char>{'t'});
}

// A sync makes what the cache holds reach the server before the close; a size change goes
// through the cache; the status follows.
TEST_F(Nfs4DriverLive, SyncAndSizeChanges)
{
    const std::vector<char> bytes = randomBytes(100000, 2);
    const int fd = kOpen(dev("sized").c_str(), K_O_RDWR | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    writeAll(fd, bytes, 30000);
    ASSERT_GE(kIoctl(fd, K_FIOSYNC, 0), 0) << std::hex << errnoGet();
    EXPECT_TRUE(sameBytes(bytes, onServer("sized"))) << "synced before the close";
    ASSERT_EQ(kFtruncate(fd, 10), 0) << std::hex << errnoGet();
    EXPECT_EQ(onServer("sized"), std::vector<char>(bytes.begin(), bytes.begin() + 10));
    ASSERT_EQ(kFtruncate(fd, 5000), 0);
    std::vector<char> grown(bytes.begin(), bytes.begin() + 10);
    grown.resize(5000, '\0');
    EXPECT_EQ(onServer("sized"), grown);
    struct kstat st {};
    ASSERT_EQ(kFstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, 5000u);
    ASSERT_EQ(kLseek(fd, 0, K_SEEK_SET), 0);
    EXPECT_EQ(readAll(fd, 4096), grown);
    EXPECT_EQ(kClose(fd), 0);
    ASSERT_EQ(kStat(dev("sized").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 5000u);

    // The mode and the times, as the server keeps them.
    ASSERT_EQ(kChmod(dev("sized").c_str(), 0604), 0) << std::hex << errnoGet();
    const struct kutimbuf times {
        1000000000, 1200000000
    };
    ASSERT_EQ(kUtime(dev("sized").c_str(), &times), 0) << std::hex << errnoGet();
    struct stat onHost {};
    ASSERT_EQ(::stat(host("sized").c_str(), &onHost), 0);
    EXPECT_EQ(onHost.st_mode & 07777, 0604u);
    EXPECT_EQ(onHost.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(onHost.st_mtim.tv_sec, 1200000000);
}

// 32 MiB through the cache in the mount's 1 MiB transfers, read back byte-exact.
TEST_F(Nfs4DriverLive, ThirtyTwoMebibytesByteExact)
{
    const std::vector<char> bytes = randomBytes(32u << 20, 3);
    const int fd = kOpen(dev("big").c_str(), K_O_WRONLY | K_O_CREAT | K_O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    writeAll(fd, bytes, 1u << 20);
    EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
    EXPECT_TRUE(sameBytes(bytes, onServer("big")));
    EXPECT_TRUE(sameBytes(bytes, readBack("big", 1u << 20)));
}

// vers=4.0 asks for 4.0 alone: shown as such, and its file calls work the same.
TEST_F(Nfs4DriverLive, MountOptionAsksForVersion40)
{
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), "/v40", "vers=4.0"), 0)
        << std::hex << errnoGet();
    EXPECT_NE(captured(nfsDevShow).find(" 4.0\n"), std::string::npos);
    const std::string path = "/v40/" + folder_ + "/f";
    const int fd = kOpen(path.c_str(), K_O_RDWR | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(fd, "four-oh", 7), 7);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(onServer("f"), (std::vector<char>{'f', 'o', 'u', 'r', '-', 'o', 'h'}));
    EXPECT_EQ(readBack("f", 3), onServer("f"));
    EXPECT_EQ(nfsUnmount("/v40"), 0);
}

// One file opened twice (one task's two opens are one open at the server, two tasks' are two),
// bytes written through each writable descriptor, one closed while the other's bytes wait in
// the cache, the other still read and written, then closed: every byte as the server holds it,
// and one CLOSE for each open at the server, sent with the last of its descriptors.
TEST_F(Nfs4DriverLive, OneFileOpenedTwiceKeepsItsOpenUntilTheLastClose)
{
    struct Order {
        const char *name;
        int first;         // access mode of the first open
        int second;        // of the second
        bool elsewhere;    // the second opened by another task
        bool firstClosing; // the first closed first, else the second
        uint64_t closes;   // CLOSEs sent: one per open at the server
    };
    const Order orders[] = {
        {"read-write-read-closes", K_O_RDONLY, K_O_WRONLY, false, true, 1},
        {"read-write-write-closes", K_O_RDONLY, K_O_WRONLY, false, false, 1},
        {"write-read-write-closes", K_O_WRONLY, K_O_RDONLY, false, true, 1},
        {"both-both", K_O_RDWR, K_O_RDWR, false, false, 1},
        {"two-tasks", K_O_RDONLY, K_O_RDWR, true, true, 2},
    };
    unsigned seed = 40;
    for (const Order &order : orders) {
        SCOPED_TRACE(order.name);
        std::vector<char> expected = randomBytes(150000, ++seed);
        putOnServer(order.name, expected);
        const std::string path = dev(order.name);
        nfsStatZero();
        const int first = kOpen(path.c_str(), order.first, 0);
        int second = -1;
        inTask(order.elsewhere, [&] { second = kOpen(path.c_str(), order.second, 0); });
        ASSERT_GE(first, 0) << std::hex << errnoGet();
        ASSERT_GE(second, 0) << std::hex << errnoGet();
        // The bytes of each writable descriptor, at an offset of its own.
        const auto writeAt = [&](int fd, int mode, int at, unsigned from) {
            if (mode == K_O_RDONLY)
                return;
            const std::vector<char> bytes = randomBytes(20000, from);
            ASSERT_EQ(kLseek(fd, at, K_SEEK_SET), at);
            writeAll(fd, bytes, 7000);
            std::copy(bytes.begin(), bytes.end(), expected.begin() + at);
        };
        writeAt(first, order.first, 1000, ++seed);
        inTask(order.elsewhere, [&] { writeAt(second, order.second, 70000, ++seed); });
        const int closing = order.firstClosing ? first : second;
        const int kept = order.firstClosing ? second : first;
        const int keptMode = order.firstClosing ? order.second : order.first;
        EXPECT_EQ(kClose(closing), 0) << std::hex << errnoGet();
        inTask(order.elsewhere && order.firstClosing, [&] {
            writeAt(kept, keptMode, 120000, ++seed);
            if (keptMode != K_O_WRONLY) {
                ASSERT_EQ(kLseek(kept, 0, K_SEEK_SET), 0);
                EXPECT_TRUE(sameBytes(expected, readAll(kept, 33333)));
            }
            EXPECT_EQ(kClose(kept), 0) << std::hex << errnoGet();
        });
        EXPECT_TRUE(sameBytes(expected, onServer(order.name)));
        EXPECT_EQ(operationsSent("OPEN"), 2U);
        EXPECT_EQ(operationsSent("CLOSE"), order.closes);
    }
}

// The server killed and started again (the peers script's restart), with a grace period of
// SECONDS or none (0), the environment as it was after: its new pid, empty when it did not come.
std::string restartedWithGrace(int seconds)
{
    const char *before = std::getenv("RT_NFS_V4_GRACE");
    const std::string saved = before != nullptr ? before : "";
    if (seconds > 0)
        setenv("RT_NFS_V4_GRACE", std::to_string(seconds).c_str(), 1);
    else
        unsetenv("RT_NFS_V4_GRACE");
    std::string pid = live::serverRestarted();
    if (saved.empty())
        unsetenv("RT_NFS_V4_GRACE");
    else
        setenv("RT_NFS_V4_GRACE", saved.c_str(), 1);
    return pid;
}

// 32 MiB written in 64 KiB calls while the server is killed and restarted halfway with a grace
// period (lines sent UNSTABLE wait for their COMMIT, others are still dirty, a call may be under
// way), and a file open for reading across the restart, over 4.1 and 4.0: both opens are
// reclaimed, sync and close succeed, the written file is byte-exact in the exported folder and
// the rest of the other reads as the server holds it. A call that meets no server fails with a
// transport error and is made again, as a program would.
TEST_F(Nfs4DriverLive, AServerRestartInTheMiddleOfAWriteLosesNothing)
{
    constexpr std::size_t kSize = 32U << 20;
    constexpr std::size_t kPiece = 65536;
    const std::vector<char> bytes = randomBytes(kSize, 21);
    const std::vector<char> kept = randomBytes(4U << 20, 22);
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), "/v40r", "vers=4.0"), 0)
        << std::hex << errnoGet();
    for (const char *device : {kDev, "/v40r"}) {
        const std::string name = std::string("restart") + (device == kDev ? "41" : "40");
        SCOPED_TRACE(name);
        putOnServer(name + "-kept", kept);
        const std::string prefix = std::string(device) + "/" + folder_ + "/";
        const int reader = kOpen((prefix + name + "-kept").c_str(), K_O_RDONLY, 0);
        ASSERT_GE(reader, 0) << std::hex << errnoGet();
        std::vector<char> readBytes(kPiece);
        ASSERT_EQ(kRead(reader, readBytes.data(), static_cast<int>(kPiece)), static_cast<int>(kPiece));
        const int fd = kOpen((prefix + name).c_str(), K_O_RDWR | K_O_CREAT | K_O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        std::thread restarter;
        std::string newPid;
        int failedCalls = 0;
        for (std::size_t at = 0; at < kSize;) {
            if (at == kSize / 2 && !restarter.joinable())
                restarter = std::thread([&newPid] { newPid = restartedWithGrace(10); });
            const int written =
                kWrite(fd, bytes.data() + at, static_cast<int>(std::min<std::size_t>(kPiece, kSize - at)));
            if (written > 0) {
                at += static_cast<std::size_t>(written);
                continue;
            }
            // Only a call that met no server is made again (a test failure leaves the loop).
            const bool transport =
                (static_cast<uint32_t>(errnoGet()) & 0xffff0000U) == static_cast<uint32_t>(K_RPC_CLNT_ERRNO_BASE);
            EXPECT_TRUE(transport) << at << " " << std::hex << errnoGet();
            EXPECT_LT(++failedCalls, 400) << "the server did not come back";
            if (!transport || failedCalls >= 400)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (restarter.joinable())
            restarter.join();
        EXPECT_GT(std::atoi(newPid.c_str()), 0) << "the server did not come back";
        EXPECT_GE(kIoctl(fd, K_FIOSYNC, 0), 0) << std::hex << errnoGet();
        EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
        EXPECT_TRUE(sameBytes(bytes, onServer(name)));
        std::vector<char> all(readBytes);
        const std::vector<char> rest = readAll(reader, static_cast<int>(kPiece));
        all.insert(all.end(), rest.begin(), rest.end());
        EXPECT_TRUE(sameBytes(kept, all));
        EXPECT_EQ(kClose(reader), 0) << std::hex << errnoGet();
    }
    EXPECT_EQ(nfsUnmount("/v40r"), 0);
}

// A file opened for reading, then for writing (the open at the server raised to both), bytes
// written, the server restarted with a grace period, over 4.1 and 4.0: the one open at the
// server is reclaimed once, with both accesses, so that after the reader's close the writer's
// bytes, those in the cache from before the restart and those written after, reach the server.
TEST_F(Nfs4DriverLive, AnOpenSharedByTwoDescriptorsIsReclaimedOnceWithBothAccesses)
{
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), "/v40s", "vers=4.0"), 0)
        << std::hex << errnoGet();
    unsigned seed = 60;
    for (const char *device : {kDev, "/v40s"}) {
        const std::string name = std::string("shared") + (device == kDev ? "41" : "40");
        SCOPED_TRACE(name);
        std::vector<char> expected = randomBytes(200000, ++seed);
        putOnServer(name, expected);
        const std::string path = std::string(device) + "/" + folder_ + "/" + name;
        const int reader = kOpen(path.c_str(), K_O_RDONLY, 0);
        const int writer = kOpen(path.c_str(), K_O_WRONLY, 0);
        ASSERT_GE(reader, 0) << std::hex << errnoGet();
        ASSERT_GE(writer, 0) << std::hex << errnoGet();
        std::vector<char> head(5000);
        ASSERT_EQ(kRead(reader, head.data(), 5000), 5000);
        EXPECT_TRUE(sameBytes(std::vector<char>(expected.begin(), expected.begin() + 5000), head));
        const std::vector<char> before = randomBytes(30000, ++seed);
        writeAll(writer, before, 10000);
        std::copy(before.begin(), before.end(), expected.begin());
        nfsStatZero(); // a lease renewal may meet the new server first, and start the reclaim
        ASSERT_GT(std::atoi(restartedWithGrace(10).c_str()), 0) << "the server did not come back";
        EXPECT_EQ(kClose(reader), 0) << std::hex << errnoGet();
        const std::vector<char> after = randomBytes(40000, ++seed);
        ASSERT_EQ(kLseek(writer, 150000, K_SEEK_SET), 150000);
        writeAll(writer, after, 10000);
        std::copy(after.begin(), after.end(), expected.begin() + 150000);
        EXPECT_GE(kIoctl(writer, K_FIOSYNC, 0), 0) << std::hex << errnoGet();
        EXPECT_EQ(kClose(writer), 0) << std::hex << errnoGet();
        EXPECT_TRUE(sameBytes(expected, onServer(name)));
        EXPECT_EQ(operationsSent("OPEN"), 1U) << "one reclaim for the one open at the server";
        EXPECT_EQ(operationsSent("CLOSE"), 1U);
    }
    EXPECT_EQ(nfsUnmount("/v40s"), 0);
}

// A server restarted without a grace period refuses to give the opens back: the next call on
// such a file fails with the refusal's number (never a silent success), its unwritten bytes fail
// the sync, and its close gives the record back. A file opened after the restart works.
TEST_F(Nfs4DriverLive, AnOpenTheRestartedServerWillNotGiveBackFailsWithItsError)
{
    const std::vector<char> bytes = randomBytes(100000, 23);
    putOnServer("unread", bytes);
    const int reader = kOpen(dev("unread").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(reader, 0) << std::hex << errnoGet();
    const int fd = kOpen(dev("lost").c_str(), K_O_RDWR | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(fd, bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    ASSERT_GT(std::atoi(restartedWithGrace(0).c_str()), 0) << "the server did not come back";
    char buffer[16];
    EXPECT_EQ(kRead(reader, buffer, sizeof buffer), -1);
    const int refusal = errnoGet();
    EXPECT_TRUE(refusal == (NFS_ERRNO_BASE | NFS4ERR_NO_GRACE) || refusal == (NFS_ERRNO_BASE | NFS4ERR_RECLAIM_BAD))
        << std::hex << refusal;
    EXPECT_EQ(kIoctl(fd, K_FIOSYNC, 0), -1);
    EXPECT_EQ(errnoGet(), refusal) << std::hex << errnoGet();
    EXPECT_EQ(kClose(fd), -1);
    EXPECT_EQ(errnoGet(), refusal) << std::hex << errnoGet();
    EXPECT_EQ(kClose(reader), 0) << std::hex << errnoGet();
    const int again = kOpen(dev("after").c_str(), K_O_RDWR | K_O_CREAT, 0644);
    ASSERT_GE(again, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(again, bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    EXPECT_EQ(kClose(again), 0) << std::hex << errnoGet();
    EXPECT_TRUE(sameBytes(bytes, onServer("after")));
}

} // namespace
