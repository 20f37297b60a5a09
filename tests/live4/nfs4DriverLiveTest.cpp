// The file calls of the kernel layer on a version 4 device of a server of version 4 alone (no
// portmapper, no MOUNT service), mounted by plain nfsMount: every byte written checked in the
// exported folder, every byte read against it, through the device's data cache.
#include "live/liveServer.h"
#include "live/lockLiveCases.h"

#include <brisnel/nfs3Drv.h>
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
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
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
        std::replace(folder_.begin(), folder_.end(), '/', '-'); // a parametrised case's name
        std::filesystem::remove_all(host(""));
        std::filesystem::create_directory(host(""));
        std::filesystem::permissions(host(""), std::filesystem::perms::all);
        ASSERT_EQ(::chown(host("").c_str(), 2001, 100), 0);
        // Against a server of versions 3 and 4 the run asks for 4 by the version word.
        savedVersion_ = nfsVersion;
        if (std::getenv("RT_NFS_TEST_VERSION") != nullptr)
            nfsVersion = std::atoi(std::getenv("RT_NFS_TEST_VERSION"));
        ASSERT_EQ(nfsMount(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), kDev), 0)
            << std::hex << errnoGet();
    }
    void TearDown() override
    {
        nfsVersion = savedVersion_;
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

    // The text of FILE read through the device DEVICE of this export.
    std::vector<char> readThrough(const std::string &device, const std::string &file) const
    {
        const int fd = kOpen((device + "/" + folder_ + "/" + file).c_str(), K_O_RDONLY, 0);
        EXPECT_GE(fd, 0) << device << " " << std::hex << errnoGet();
        if (fd < 0)
            return {};
        std::vector<char> all = readAll(fd, 4096);
        EXPECT_EQ(kClose(fd), 0);
        return all;
    }

    std::string folder_;
    int32_t savedVersion_ = 0;
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
    struct stat st {};
    // The server may keep the create's verifier in the times: none is left there once opened.
    ASSERT_EQ(::stat(host("new").c_str(), &st), 0) << "times that a 32-bit stat can show";
    for (const std::time_t seconds : {st.st_atim.tv_sec, st.st_mtim.tv_sec})
        EXPECT_LT(std::abs(static_cast<double>(seconds - ::time(nullptr))), 600.0) << "a verifier for a time";
    ASSERT_EQ(kWrite(made, "n", 1), 1);
    EXPECT_EQ(kClose(made), 0);
    EXPECT_EQ(onServer("new"), std::vector<char>{'n'});
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
// on the server then; a symbolic link is followed by an open, and removed itself.
TEST_F(Nfs4DriverLive, OpenFileOutlivesItsRemovalAndLinksAreFollowed)
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
    EXPECT_EQ(readBack("link", 8), std::vector<char>{'t'});
    ASSERT_EQ(kRemove(dev("link").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(std::filesystem::is_symlink(host("link")));
    EXPECT_EQ(onServer("target"), std::vector<char>{'t'});
}

// A further name reads and writes the same bytes as the first (one inode on the server, two
// links); a symbolic link holds its text as given, which reads back whole or cut at the
// buffer, without a terminator; a link opened itself shows as a link. Names taken are refused
// with version 3's numbers (NFS4ERR_EXIST is 17 as NFS3ERR_EXIST is).
TEST_F(Nfs4DriverLive, HardAndSymbolicLinksAndTheirText)
{
    putOnServer("f", {'f', 'i', 'l', 'e'});
    ASSERT_EQ(kLink(dev("f").c_str(), dev("hard").c_str()), 0) << std::hex << errnoGet();
    struct stat first {};
    struct stat second {};
    ASSERT_EQ(::lstat(host("f").c_str(), &first), 0);
    ASSERT_EQ(::lstat(host("hard").c_str(), &second), 0);
    EXPECT_EQ(first.st_ino, second.st_ino);
    EXPECT_EQ(first.st_nlink, 2u);
    EXPECT_EQ(readBack("hard", 3), (std::vector<char>{'f', 'i', 'l', 'e'}));
    const int writer = kOpen(dev("hard").c_str(), K_O_WRONLY, 0);
    ASSERT_GE(writer, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(writer, "F", 1), 1);
    EXPECT_EQ(kClose(writer), 0);
    EXPECT_EQ(onServer("f"), (std::vector<char>{'F', 'i', 'l', 'e'})) << "written through the other name";
    EXPECT_EQ(readBack("f", 4), (std::vector<char>{'F', 'i', 'l', 'e'}));
    struct kstat st {};
    ASSERT_EQ(kStat(dev("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u);

    ASSERT_EQ(kSymlink("f", dev("soft").c_str()), 0) << std::hex << errnoGet();
    ASSERT_EQ(kSymlink("../nowhere/at/all", dev("dangling").c_str()), 0) << std::hex << errnoGet();
    const std::string longText = "a/" + std::string(900, 'x');
    ASSERT_EQ(kSymlink(longText.c_str(), dev("long").c_str()), 0) << std::hex << errnoGet();
    ASSERT_EQ(kMkdir(dev("sub").c_str(), 0755), 0);
    ASSERT_EQ(kSymlink("../f", dev("sub/up").c_str()), 0) << std::hex << errnoGet();

    const struct {
        const char *name;
        std::size_t size;
        std::string expected;
    } reads[] = {{"soft", 64, "f"},
                 {"dangling", 64, "../nowhere/at/all"},
                 {"dangling", 5, "../no"},
                 {"long", 1024, longText},
                 {"sub/up", 64, "../f"}};
    for (const auto &r : reads) {
        std::array<char, 1100> onHost{};
        const ssize_t held = ::readlink(host(r.name).c_str(), onHost.data(), onHost.size());
        ASSERT_GT(held, 0) << r.name;
        EXPECT_EQ(std::string(onHost.data(), static_cast<std::size_t>(held)).substr(0, r.size), r.expected)
            << r.name << ": the text as the server holds it";
        std::array<char, 1100> buf{};
        buf.fill('#');
        const int n = kReadlink(dev(r.name).c_str(), buf.data(), r.size);
        ASSERT_EQ(n, static_cast<int>(r.expected.size())) << r.name << std::hex << " " << errnoGet();
        EXPECT_EQ(std::string(buf.data(), r.expected.size()), r.expected) << r.name;
        EXPECT_EQ(buf[r.expected.size()], '#') << r.name << ": no terminator";
    }

    const int link = kOpen(dev("soft").c_str(), K_O_PATH | K_O_NOFOLLOW, 0);
    ASSERT_GE(link, 0) << std::hex << errnoGet();
    ASSERT_EQ(kFstat(link, &st), 0);
    EXPECT_EQ(st.st_mode & K_S_IFMT, static_cast<uint32_t>(K_S_IFLNK));
    EXPECT_EQ(kClose(link), 0);

    std::array<char, 8> buf{};
    const struct {
        const char *what;
        std::function<int()> call;
        int error; // 0: any
    } refused[] = {
        {"a name taken, as a link", [&] { return kLink(dev("f").c_str(), dev("hard").c_str()); },
         NFS_ERRNO_BASE | 17}, // NFS4ERR_EXIST, NFS3ERR_EXIST's number
        {"a name taken, as a symbolic link", [&] { return kSymlink("g", dev("soft").c_str()); },
         NFS_ERRNO_BASE | 17},
        {"a link in a missing folder", [&] { return kSymlink("g", dev("none/soft").c_str()); },
         NFS_ERRNO_BASE | 2},
        {"the text of a file", [&] { return kReadlink(dev("f").c_str(), buf.data(), buf.size()); }, 0},
    };
    for (const auto &r : refused) {
        EXPECT_EQ(r.call(), -1) << r.what;
        if (r.error != 0) {
            EXPECT_EQ(errnoGet(), r.error) << r.what << std::hex << " " << errnoGet();
        }
    }
    std::array<char, 8> text{};
    EXPECT_EQ(::readlink(host("soft").c_str(), text.data(), text.size()), 1);
    EXPECT_EQ(std::string(text.data()), "f") << "left as it was";
    EXPECT_EQ(onServer("f"), (std::vector<char>{'F', 'i', 'l', 'e'}));
}

// Paths through symbolic links made on the server: a folder's link, a link relative to its
// folder, one from the mount's root, a link to a link; a cycle ends with K_ELOOP and a link to
// nothing with NFS4ERR_NOENT. Creation, removal, links and renames through a folder's link
// land in the folder, the link left as it is.
TEST_F(Nfs4DriverLive, PathsThroughSymbolicLinks)
{
    std::filesystem::create_directory(host("d"));
    std::filesystem::permissions(host("d"), std::filesystem::perms::all);
    putOnServer("d/in", {'i', 'n'});
    putOnServer("f", {'f'});
    std::filesystem::create_directory_symlink("d", host("dl"));
    std::filesystem::create_symlink("../f", host("d/up"));
    std::filesystem::create_symlink("/" + folder_ + "/d/in", host("abs"));
    std::filesystem::create_symlink("loop2", host("loop1"));
    std::filesystem::create_symlink("loop1", host("loop2"));
    std::filesystem::create_symlink("nowhere", host("dangling"));

    const struct {
        const char *path;
        std::vector<char> bytes; // empty: refused with error
        int error;
    } reads[] = {
        {"dl/in", {'i', 'n'}, 0},
        {"d/up", {'f'}, 0},
        {"abs", {'i', 'n'}, 0},
        {"dl/up", {'f'}, 0},
        {"dl/../f", {'f'}, 0},
        {"loop1", {}, K_ELOOP},
        {"dangling", {}, NFS_ERRNO_BASE | 2},
        {"loop1/x", {}, K_ELOOP},
    };
    for (const auto &r : reads) {
        const int fd = kOpen(dev(r.path).c_str(), K_O_RDONLY, 0);
        if (r.bytes.empty()) {
            EXPECT_EQ(fd, -1) << r.path;
            EXPECT_EQ(errnoGet(), r.error) << r.path << std::hex << " " << errnoGet();
            if (fd >= 0)
                kClose(fd);
            continue;
        }
        ASSERT_GE(fd, 0) << r.path << std::hex << " " << errnoGet();
        EXPECT_EQ(readAll(fd, 16), r.bytes) << r.path;
        EXPECT_EQ(kClose(fd), 0);
    }

    const int made = kOpen(dev("dl/new").c_str(), K_O_WRONLY | K_O_CREAT, 0644);
    ASSERT_GE(made, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(made, "new", 3), 3);
    EXPECT_EQ(kClose(made), 0);
    EXPECT_EQ(onServer("d/new"), (std::vector<char>{'n', 'e', 'w'}));
    ASSERT_EQ(kSymlink("in", dev("dl/soft").c_str()), 0) << std::hex << errnoGet();
    EXPECT_TRUE(std::filesystem::is_symlink(host("d/soft")));
    ASSERT_EQ(kLink(dev("f").c_str(), dev("dl/hard").c_str()), 0) << std::hex << errnoGet();
    EXPECT_TRUE(std::filesystem::equivalent(host("f"), host("d/hard")));
    ASSERT_EQ(kRename(dev("d/new").c_str(), dev("dl/renamed").c_str()), 0) << std::hex << errnoGet();
    EXPECT_EQ(onServer("d/renamed"), (std::vector<char>{'n', 'e', 'w'}));
    ASSERT_EQ(kRemove(dev("dl/in").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(std::filesystem::exists(host("d/in")));
    ASSERT_EQ(kRemove(dev("abs").c_str()), 0) << "the link itself";
    EXPECT_FALSE(std::filesystem::is_symlink(host("abs")));
    EXPECT_TRUE(std::filesystem::is_symlink(host("dl"))) << "left as it was";
}

// The file system's figures as the kernel's status record and path configuration show them,
// against what the exported folder's own file system says.
TEST_F(Nfs4DriverLive, FileSystemFiguresAndPathConfiguration)
{
    putOnServer("st", std::vector<char>(1234, 's'));
    struct kstatfs fs {};
    ASSERT_EQ(kStatfs(dev("st").c_str(), &fs), 0) << std::hex << errnoGet();
    struct statvfs onHost {};
    ASSERT_EQ(::statvfs(host("").c_str(), &onHost), 0);
    const auto kib = [&onHost](fsblkcnt_t blocks) {
        return static_cast<double>(blocks) * static_cast<double>(onHost.f_frsize) / 1024.0;
    };
    // Free space moves while other suites run: within 2% or 64 MiB of what the host says.
    const auto near = [](double expected, uint32_t shown) {
        return std::abs(expected - shown) <= std::max(expected * 0.02, 65536.0);
    };
    EXPECT_EQ(fs.f_bsize, 1024);
    EXPECT_GT(fs.f_blocks, 0u);
    EXPECT_TRUE(near(kib(onHost.f_blocks), fs.f_blocks)) << kib(onHost.f_blocks) << " " << fs.f_blocks;
    EXPECT_TRUE(near(kib(onHost.f_bfree), fs.f_bfree)) << kib(onHost.f_bfree) << " " << fs.f_bfree;
    EXPECT_TRUE(near(kib(onHost.f_bavail), fs.f_bavail)) << kib(onHost.f_bavail) << " " << fs.f_bavail;
    EXPECT_LE(fs.f_bavail, fs.f_bfree);
    EXPECT_LE(fs.f_bfree, fs.f_blocks);
    EXPECT_LE(fs.f_ffree, fs.f_files);
    if (onHost.f_files != 0) {
        EXPECT_TRUE(near(static_cast<double>(onHost.f_files), fs.f_files))
            << onHost.f_files << " " << fs.f_files;
    }

    const int fd = kOpen(dev("st").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    // The server's limits need not be the host's: its maxname is at least what the folder's
    // file system allows, its maxlink at least the two links a file has after a link.
    const struct {
        int selector;
        long value;
        bool atLeast; // the value is the least the answer may be
    } answers[] = {
        {9, static_cast<long>(onHost.f_namemax), true},
        {6, 2, true},
        {5, 64, false},
        {11, 1024, false},
        {3, 1, false},
    };
    for (const auto &a : answers) {
        int value = a.selector;
        ASSERT_EQ(kIoctl(fd, K_FIOPATHCONF, reinterpret_cast<intptr_t>(&value)), 0)
            << a.selector << std::hex << " " << errnoGet();
        if (a.atLeast) {
            EXPECT_GE(value, a.value) << a.selector;
        } else {
            EXPECT_EQ(value, a.value) << a.selector;
        }
    }
    for (int refused : {14, 2, 21}) {
        int value = refused;
        EXPECT_EQ(kIoctl(fd, K_FIOPATHCONF, reinterpret_cast<intptr_t>(&value)), -1) << refused;
        EXPECT_EQ(errnoGet(), K_EINVAL);
        EXPECT_EQ(value, refused) << "left alone";
    }
    EXPECT_EQ(kClose(fd), 0);
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

// Files written and read back through devices whose lines hold 16 transfers of 64 KiB, with
// windows of 1, 4 and 16 over 4.1 and 4.0 (each device the server's only one, so that a 4.1
// session has as many slots as its window): every byte as the server holds it, one WRITE per
// transfer whatever the window, and as many READs as a window of 1 sends: a wider window sends
// nothing past the end of the file as last seen before the answer of the READ that reaches it.
TEST_F(Nfs4DriverLive, WindowsOfReadsAndWritesMoveEveryByte)
{
    constexpr unsigned kTransfer = 64u << 10;
    constexpr unsigned kSize = (6u << 20) + 12345; // the last line and transfer short
    constexpr uint64_t kTransfers = (kSize + kTransfer - 1) / kTransfer;
    constexpr const char *kWindowDev = "/v4w";
    const struct {
        const char *vers;
        int window;
    } cases[] = {{"4.1", 1}, {"4.1", 4}, {"4.1", 16}, {"4.0", 1}, {"4.0", 4}, {"4.0", 16}};
    ASSERT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
    const std::vector<char> bytes = randomBytes(kSize, 29);
    std::map<std::string, uint64_t> aloneReads; // by version, with a window of 1
    for (const auto &c : cases) {
        const std::string options = std::string("vers=") + c.vers + ",rsize=65536,wsize=65536,linesize=1048576" +
                                    ",window=" + std::to_string(c.window);
        SCOPED_TRACE(options);
        ASSERT_EQ(nfsMountOpt(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), kWindowDev,
                              options.c_str()),
                  0)
            << std::hex << errnoGet();
        const std::string name = std::string("w") + c.vers + "-" + std::to_string(c.window);
        const std::string path = std::string(kWindowDev) + "/" + folder_ + "/" + name;
        nfsStatZero();
        const int fd = kOpen(path.c_str(), K_O_WRONLY | K_O_CREAT | K_O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        writeAll(fd, bytes, 300000);
        EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
        EXPECT_TRUE(sameBytes(bytes, onServer(name)));
        EXPECT_EQ(kTransfers, operationsSent("WRITE"));

        nfsStatZero();
        const int reader = kOpen(path.c_str(), K_O_RDONLY, 0);
        ASSERT_GE(reader, 0) << std::hex << errnoGet();
        EXPECT_TRUE(sameBytes(bytes, readAll(reader, 200000)));
        EXPECT_EQ(kClose(reader), 0);
        const uint64_t reads = operationsSent("READ");
        EXPECT_GE(reads, kTransfers);
        if (c.window == 1)
            aloneReads[c.vers] = reads;
        EXPECT_EQ(aloneReads[c.vers], reads);
        EXPECT_EQ(nfsUnmount(kWindowDev), 0) << std::hex << errnoGet();
    }
    ASSERT_EQ(nfsMount(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), kDev), 0)
        << std::hex << errnoGet();
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

// A server of versions 3 and 4 with its portmapper and MOUNT service: the automatic choice is
// version 3, the version word (this run's device) and vers= ask for 4; one file through all.
TEST_F(Nfs4DriverLive, ServerOfThreeAndFourGivesTheVersionAskedFor)
{
    if (std::getenv("RT_NFS_TEST_VERSION") == nullptr)
        GTEST_SKIP() << "needs a server of versions 3 and 4 (ctest nfs4LiveMixed)";
    const std::string exportPath = live::env("RT_NFS_V4_EXPORT");
    ASSERT_EQ(nfs3Drv(), 0);
    nfsVersion = 0;
    ASSERT_EQ(nfsMount(live::host().c_str(), live::exportPath().c_str(), "/mx3"), 0) << std::hex << errnoGet();
    nfsVersion = NFS_VERSION_4;
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), exportPath.c_str(), "/mx40", "vers=4.0"), 0) << std::hex << errnoGet();
    const std::string listing = captured(nfsDevShow);
    const struct {
        const char *device;
        const char *version;
    } devices[] = {{kDev, "4.1"}, {"/mx3", "3"}, {"/mx40", "4.0"}};
    for (const auto &device : devices) {
        const std::size_t row = listing.find(std::string(device.device) + " ");
        ASSERT_NE(row, std::string::npos) << listing;
        const std::string line = listing.substr(row, listing.find('\n', row) - row);
        EXPECT_EQ(line.substr(line.rfind(' ') + 1), device.version) << line;
    }
    // Each device writes a file of its own; every device reads every file as the server holds it.
    for (std::size_t i = 0; i < std::size(devices); ++i) {
        const std::vector<char> bytes = randomBytes(150000 + i * 777, static_cast<unsigned>(10 + i));
        const std::string name = "from" + std::to_string(i);
        const int fd = kOpen((std::string(devices[i].device) + "/" + folder_ + "/" + name).c_str(),
                             K_O_WRONLY | K_O_CREAT, 0644);
        ASSERT_GE(fd, 0) << devices[i].device << " " << std::hex << errnoGet();
        writeAll(fd, bytes, 20000);
        ASSERT_EQ(kClose(fd), 0) << std::hex << errnoGet();
        EXPECT_TRUE(sameBytes(bytes, onServer(name))) << devices[i].device;
    }
    for (const auto &reader : devices) {
        for (std::size_t i = 0; i < std::size(devices); ++i) {
            const std::string name = "from" + std::to_string(i);
            EXPECT_TRUE(sameBytes(onServer(name), readThrough(reader.device, name))) << reader.device << " " << name;
        }
    }
    EXPECT_EQ(nfsUnmount("/mx3"), 0);
    EXPECT_EQ(nfsUnmount("/mx40"), 0);
}

// A server of version 4.1 alone: the plain mount is 4.1 and works; vers=4.0 is refused with
// the server's own status, not taken as another failure.
TEST_F(Nfs4DriverLive, ServerOf41AloneRefusesVersion40ByName)
{
    if (std::getenv("RT_NFS_V4_MINORS") == nullptr)
        GTEST_SKIP() << "needs a server of version 4.1 alone (ctest nfs4Live41)";
    EXPECT_NE(captured(nfsDevShow).find(" 4.1\n"), std::string::npos);
    EXPECT_EQ(nfsMountOpt(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), "/m40", "vers=4.0"), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFS4ERR_MINOR_VERS_MISMATCH) << std::hex << errnoGet();
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), "/m4", "vers=4"), 0)
        << std::hex << errnoGet();
    EXPECT_NE(captured(nfsDevShow).find("/m4 "), std::string::npos);
    const std::vector<char> bytes = randomBytes(300000, 41);
    const int fd = kOpen(("/m4/" + folder_ + "/f").c_str(), K_O_WRONLY | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    writeAll(fd, bytes, 65536);
    ASSERT_EQ(kClose(fd), 0) << std::hex << errnoGet();
    EXPECT_TRUE(sameBytes(bytes, onServer("f")));
    EXPECT_TRUE(sameBytes(bytes, readThrough(kDev, "f")));
    EXPECT_EQ(nfsUnmount("/m4"), 0);
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
// SECONDS or none (0) and the lease the run has (a slow run, without one, gets the server's
// longer default), the environment as it was after: its new pid, empty when it did not come.
std::string restartedWithGrace(int seconds)
{
    return live::serverRestartedWithGrace(seconds, false);
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

// Record locks through kFcntl on the version 4 device, a task of this program the owner: the
// cases every version runs (live/lockLiveCases.h) on a file of 4096 'o's, and what version 4
// does of its own.
class Nfs4DriverLockLive : public Nfs4DriverLive {
protected:
    void SetUp() override
    {
        Nfs4DriverLive::SetUp();
        putOnServer("f", std::vector<char>(4096, 'o'));
    }
    int openOn(TestTask &task, const std::string &path) const
    {
        return task.run([path] { return kOpen(path.c_str(), K_O_RDWR, 0); }).get();
    }
    int openOn(TestTask &task) const { return openOn(task, dev("f")); }
    static int closeOn(TestTask &task, int fd)
    {
        return task.run([fd] { return kClose(fd); }).get();
    }
    lockcases::ServerBytes serverBytes() const
    {
        return [this](std::size_t at, std::size_t count) {
            const std::vector<char> all = onServer("f");
            return at >= all.size() ? std::string()
                                    : std::string(all.data() + at, std::min(count, all.size() - at));
        };
    }
};

using lockcases::fcntlOn;
using lockcases::lockOn;

// The tasks' cases over 4.1 (the device of plain nfsMount) and over 4.0 (a device mounted with
// vers=4.0 beside it), whose lock-owners carry sequence ids and are given back when idle.
class Nfs4DriverLockMinors : public Nfs4DriverLockLive, public testing::WithParamInterface<const char *> {
protected:
    void SetUp() override
    {
        Nfs4DriverLockLive::SetUp();
        if (GetParam() != nullptr) {
            ASSERT_EQ(nfsMountOpt(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), kMinorDev,
                                  GetParam()),
                      0)
                << std::hex << errnoGet();
        }
    }
    void TearDown() override
    {
        if (GetParam() != nullptr) {
            EXPECT_EQ(nfsUnmount(kMinorDev), 0) << std::hex << errnoGet();
        }
        Nfs4DriverLockLive::TearDown();
    }
    int openOn(TestTask &task) const
    {
        const std::string path = GetParam() != nullptr ? std::string(kMinorDev) + "/" + folder_ + "/f" : dev("f");
        return Nfs4DriverLockLive::openOn(task, path);
    }
    static constexpr const char *kMinorDev = "/v4m";
};

INSTANTIATE_TEST_SUITE_P(Minors, Nfs4DriverLockMinors, testing::Values(nullptr, "vers=4.0"),
                         [](const testing::TestParamInfo<const char *> &minor) {
                             return minor.param == nullptr ? "V41" : "V40";
                         });

TEST_P(Nfs4DriverLockMinors, ReadLocksShareWriteLocksExclude)
{
    TestTask a;
    TestTask b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_GE(fdA, 0);
    ASSERT_GE(fdB, 0);
    lockcases::readSharedWriteExclusive(a, fdA, b, fdB);
    EXPECT_EQ(closeOn(a, fdA), 0);
    EXPECT_EQ(closeOn(b, fdB), 0);
}

TEST_P(Nfs4DriverLockMinors, WaitGrantedOnUnlockOrInterrupted)
{
    TestTask a;
    TestTask b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_GE(fdA, 0);
    ASSERT_GE(fdB, 0);
    lockcases::waitGrantedOrInterrupted(a, fdA, b, fdB, serverBytes());
    EXPECT_EQ(closeOn(b, fdB), 0);
    EXPECT_EQ(closeOn(a, fdA), 0);
}

// Ranges counted from the descriptor's position and from the file's end, and a negative length
// covering the bytes before the start, reach the server as absolute ranges: the other task's
// K_F_GETLK sees them so. One that would begin before 0 is refused.
TEST_P(Nfs4DriverLockMinors, RangesFromPositionEndAndBefore)
{
    TestTask a;
    TestTask b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_GE(fdA, 0);
    ASSERT_GE(fdB, 0);
    ASSERT_EQ(a.run([fdA] { return kLseek(fdA, 1000, K_SEEK_SET); }).get(), 1000);
    struct Case {
        int64_t start;
        int64_t length;
        int64_t heldStart; // as b's probe at heldStart finds it
        int64_t heldLength;
        int whence;
        int expected;
    };
    const Case cases[] = {
        {10, 20, 1010, 20, K_SEEK_CUR, 0},
        {-96, 0, 4000, 0, K_SEEK_END, 0},
        {600, -100, 500, 100, K_SEEK_SET, 0},
        {50, -100, 0, 0, K_SEEK_SET, K_EINVAL},
        {-1001, 1, 0, 0, K_SEEK_CUR, K_EINVAL},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_WRLCK, c.start, c.length, nullptr, c.whence), c.expected)
            << c.whence << " " << c.start;
        if (c.expected != 0)
            continue;
        kflock seen{};
        ASSERT_EQ(lockOn(b, fdB, K_F_GETLK, K_F_RDLCK, c.heldStart, 1, &seen), 0);
        EXPECT_EQ(seen.l_type, K_F_WRLCK) << c.heldStart;
        EXPECT_EQ(seen.l_start, c.heldStart);
        EXPECT_EQ(seen.l_len, c.heldLength);
    }
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 500), 0); // nothing of a's before 500
    EXPECT_EQ(closeOn(a, fdA), 0);
    EXPECT_EQ(closeOn(b, fdB), 0);
}

// A close releases the closing task's locks on the file, through whichever of its descriptors
// they were taken, and every lock through the closed descriptor's open (the server refuses the
// CLOSE while one stands, and a lock cannot outlive its open); a task's end releases all of its.
TEST_P(Nfs4DriverLockMinors, CloseAndTaskEndRelease)
{
    TestTask a;
    TestTask b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_GE(fdA, 0);
    ASSERT_GE(fdB, 0);
    ASSERT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    ASSERT_EQ(a.run([fdA] { return kWrite(fdA, "closing", 7); }).get(), 7);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_RDLCK, 0, 1), K_EAGAIN);
    EXPECT_EQ(closeOn(a, fdA), 0);
    EXPECT_EQ(serverBytes()(0, 7), "closing");
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_UNLCK, 0, 0), 0);

    // On b's descriptor, which stays open: a's lock lasts until a ends.
    ASSERT_EQ(lockOn(a, fdB, K_F_SETLK, K_F_WRLCK, 5, 5), 0);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), K_EAGAIN);
    a.end();
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_UNLCK, 0, 0), 0);

    // c's lock through b's descriptor goes when c closes its own.
    TestTask c;
    int fdC = openOn(c);
    ASSERT_GE(fdC, 0);
    ASSERT_EQ(lockOn(c, fdB, K_F_SETLK, K_F_RDLCK, 0, 10), 0);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 1), K_EAGAIN);
    EXPECT_EQ(closeOn(c, fdC), 0);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 1), 0);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_UNLCK, 0, 0), 0);

    // c's lock through b's descriptor goes with b's close of it, b's through c's with c's.
    fdC = openOn(c);
    ASSERT_GE(fdC, 0);
    ASSERT_EQ(lockOn(c, fdB, K_F_SETLK, K_F_WRLCK, 100, 10), 0);
    EXPECT_EQ(lockOn(b, fdC, K_F_SETLK, K_F_WRLCK, 100, 1), K_EAGAIN);
    EXPECT_EQ(closeOn(b, fdB), 0);
    EXPECT_EQ(lockOn(b, fdC, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    EXPECT_EQ(closeOn(c, fdC), 0);
    const int fdD = openOn(c);
    ASSERT_GE(fdD, 0);
    EXPECT_EQ(lockOn(c, fdD, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    EXPECT_EQ(closeOn(c, fdD), 0);
}

// A lock held through three idle lease periods (the suite's lease is 5 s) still excludes
// another client: a 4.0 device of this program, whose state is another client to the server,
// which K_F_GETLK reports with no task. The other client's wait is granted once it goes.
TEST_F(Nfs4DriverLockLive, LockKeptAcrossThreeIdleLeases)
{
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), "/v40", "vers=4.0"), 0)
        << std::hex << errnoGet();
    const int mine = kOpen(dev("f").c_str(), K_O_RDWR, 0);
    const int other = kOpen(("/v40/" + folder_ + "/f").c_str(), K_O_RDWR, 0);
    ASSERT_GE(mine, 0);
    ASSERT_GE(other, 0);
    ASSERT_EQ(fcntlOn(mine, K_F_SETLK, K_F_WRLCK, 0, 100), 0);
    std::this_thread::sleep_for(std::chrono::seconds(3 * 5 + 1));
    EXPECT_EQ(fcntlOn(other, K_F_SETLK, K_F_RDLCK, 50, 1), K_EAGAIN);
    kflock seen{};
    ASSERT_EQ(fcntlOn(other, K_F_GETLK, K_F_WRLCK, 0, 0, &seen), 0);
    EXPECT_EQ(seen.l_type, K_F_WRLCK);
    EXPECT_EQ(seen.l_start, 0);
    EXPECT_EQ(seen.l_len, 100);
    EXPECT_EQ(seen.l_pid, 0) << "another client's owner";
    std::future<int> waited =
        std::async(std::launch::async, [other] { return fcntlOn(other, K_F_SETLKW, K_F_WRLCK, 0, 0); });
    EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    EXPECT_EQ(kClose(mine), 0);
    ASSERT_EQ(waited.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waited.get(), 0);
    EXPECT_EQ(kClose(other), 0);
    EXPECT_EQ(nfsUnmount("/v40"), 0);
}

// CALL (a lock call's error number) made again while the server is in its grace period, which
// refuses new locks from other clients until it ends; at most 40 s.
int pastGrace(const std::function<int()> &call)
{
    int result = call();
    for (int tries = 0; result == (NFS_ERRNO_BASE | NFS4ERR_GRACE) && tries < 400; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        result = call();
    }
    return result;
}

// Locks held over 4.1 and over 4.0 (a write lock split by an unlock into two ranges, and a read
// lock to the end), the server restarted with a grace period: every range is reclaimed, and
// still excludes another client (a device of the other minor version, another client to the
// server): K_F_GETLK there names each range with no task, its K_F_SETLK over them is refused,
// over the gap the unlock left it is granted. Bytes written under the lock after the restart
// reach the server; the close releases the locks.
TEST_F(Nfs4DriverLockLive, LocksReclaimedAfterARestartStillExcludeAnotherClient)
{
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), "/v40l", "vers=4.0"), 0)
        << std::hex << errnoGet();
    const std::string on41 = dev("f");
    const std::string on40 = "/v40l/" + folder_ + "/f";
    for (const bool mineOn41 : {true, false}) {
        SCOPED_TRACE(mineOn41 ? "held over 4.1" : "held over 4.0");
        const int mine = kOpen((mineOn41 ? on41 : on40).c_str(), K_O_RDWR, 0);
        const int other = kOpen((mineOn41 ? on40 : on41).c_str(), K_O_RDWR, 0);
        ASSERT_GE(mine, 0) << std::hex << errnoGet();
        ASSERT_GE(other, 0) << std::hex << errnoGet();
        ASSERT_EQ(fcntlOn(mine, K_F_SETLK, K_F_WRLCK, 0, 300), 0);
        ASSERT_EQ(fcntlOn(mine, K_F_SETLK, K_F_UNLCK, 100, 100), 0);
        ASSERT_EQ(fcntlOn(mine, K_F_SETLK, K_F_RDLCK, 1000, 0), 0);
        nfsStatZero();
        ASSERT_GT(std::atoi(restartedWithGrace(10).c_str()), 0) << "the server did not come back";
        // Written under the lock: the call meets the new server and the reclaim runs, if the
        // lease renewal has not started it already.
        ASSERT_EQ(kLseek(mine, 10, K_SEEK_SET), 10);
        ASSERT_EQ(kWrite(mine, "reclaimed", 9), 9) << std::hex << errnoGet();
        ASSERT_GE(kIoctl(mine, K_FIOSYNC, 0), 0) << std::hex << errnoGet();
        EXPECT_EQ(serverBytes()(10, 9), "reclaimed");
        // The other client's open reclaimed within the grace period too: with a long lease
        // its renewal would meet the restart only after it, and the open would be lost.
        char byte = 0;
        ASSERT_EQ(kLseek(other, 3000, K_SEEK_SET), 3000);
        ASSERT_EQ(kRead(other, &byte, 1), 1) << std::hex << errnoGet();
        EXPECT_EQ(byte, 'o');
        EXPECT_GE(operationsSent("LOCK"), 3U) << "each range reclaimed";
        struct Probe {
            int type;
            int64_t start;
            kflock held; // as K_F_GETLK reports it; l_type K_F_UNLCK: nothing in the way
        };
        const Probe probes[] = {
            {K_F_RDLCK, 50, {K_F_WRLCK, K_SEEK_SET, 0, 100, 0}},
            {K_F_RDLCK, 250, {K_F_WRLCK, K_SEEK_SET, 200, 100, 0}},
            {K_F_WRLCK, 150, {K_F_UNLCK, K_SEEK_SET, 0, 0, 0}},
            {K_F_RDLCK, 5000, {K_F_UNLCK, K_SEEK_SET, 0, 0, 0}},
            {K_F_WRLCK, 5000, {K_F_RDLCK, K_SEEK_SET, 1000, 0, 0}},
        };
        for (const Probe &probe : probes) {
            kflock seen{};
            ASSERT_EQ(pastGrace([&] { return fcntlOn(other, K_F_GETLK, probe.type, probe.start, 1, &seen); }), 0)
                << probe.start;
            EXPECT_EQ(seen.l_type, probe.held.l_type) << probe.start;
            if (probe.held.l_type == K_F_UNLCK) {
                EXPECT_EQ(pastGrace([&] { return fcntlOn(other, K_F_SETLK, probe.type, probe.start, 1); }), 0);
                EXPECT_EQ(fcntlOn(other, K_F_SETLK, K_F_UNLCK, probe.start, 1), 0);
                continue;
            }
            EXPECT_EQ(seen.l_start, probe.held.l_start) << probe.start;
            EXPECT_EQ(seen.l_len, probe.held.l_len) << probe.start;
            EXPECT_EQ(seen.l_pid, 0) << "another client's owner";
            EXPECT_EQ(pastGrace([&] { return fcntlOn(other, K_F_SETLK, probe.type, probe.start, 1); }), K_EAGAIN)
                << probe.start;
        }
        EXPECT_EQ(kClose(mine), 0) << std::hex << errnoGet();
        EXPECT_EQ(fcntlOn(other, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
        EXPECT_EQ(kClose(other), 0) << std::hex << errnoGet();
    }
    EXPECT_EQ(nfsUnmount("/v40l"), 0);
}

// A lock held, the server restarted without a grace period: the open and its lock cannot come
// back. The descriptor's next call fails with K_ENOLCK (34), once; then with the open's
// refusal. A descriptor of the program that held no lock fails with the refusal alone. Another
// client takes the range at once.
TEST_F(Nfs4DriverLockLive, ALockTheRestartedServerWillNotGiveBackIsReported)
{
    putOnServer("g", std::vector<char>(100, 'g'));
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), "/v40n", "vers=4.0"), 0)
        << std::hex << errnoGet();
    const int mine = kOpen(dev("f").c_str(), K_O_RDWR, 0);
    const int unlocked = kOpen(dev("g").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(mine, 0) << std::hex << errnoGet();
    ASSERT_GE(unlocked, 0) << std::hex << errnoGet();
    ASSERT_EQ(fcntlOn(mine, K_F_SETLK, K_F_WRLCK, 0, 100), 0);
    ASSERT_GT(std::atoi(restartedWithGrace(0).c_str()), 0) << "the server did not come back";
    char buffer[16];
    EXPECT_EQ(kRead(mine, buffer, sizeof buffer), -1);
    EXPECT_EQ(errnoGet(), K_ENOLCK) << std::hex << errnoGet();
    EXPECT_EQ(kRead(mine, buffer, sizeof buffer), -1);
    const int refusal = errnoGet();
    EXPECT_TRUE(refusal == (NFS_ERRNO_BASE | NFS4ERR_NO_GRACE) || refusal == (NFS_ERRNO_BASE | NFS4ERR_RECLAIM_BAD))
        << std::hex << refusal;
    EXPECT_EQ(kRead(unlocked, buffer, sizeof buffer), -1);
    EXPECT_EQ(errnoGet(), refusal) << std::hex << errnoGet();
    const int other = kOpen(("/v40n/" + folder_ + "/f").c_str(), K_O_RDWR, 0);
    ASSERT_GE(other, 0) << std::hex << errnoGet();
    EXPECT_EQ(fcntlOn(other, K_F_SETLK, K_F_WRLCK, 0, 100), 0);
    EXPECT_EQ(kClose(other), 0) << std::hex << errnoGet();
    EXPECT_EQ(kClose(mine), 0) << std::hex << errnoGet();
    EXPECT_EQ(kClose(unlocked), 0) << std::hex << errnoGet();
    EXPECT_EQ(nfsUnmount("/v40n"), 0);
}

// Another program of this host: a second client of the server.
TEST_F(Nfs4DriverLockLive, SecondClientContends)
{
    const int fd = kOpen(dev("f").c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    lockcases::secondClientContends(fd, "Nfs4LockSecondClient.DISABLED_HoldsUntilTold", folder_ + "/f",
                                    serverBytes());
    EXPECT_EQ(kClose(fd), 0);
}

// The second client: mounts the export, locks the whole file, writes under the lock and lets
// go when told (live/lockLiveCases.h). Run by the test above, never alone.
TEST(Nfs4LockSecondClient, DISABLED_HoldsUntilTold)
{
    const char *path = lockcases::secondClientFile();
    ASSERT_NE(path, nullptr);
    nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
    ASSERT_EQ(nfs4Drv(), 0);
    nfs3CacheParamsSet(16, 16384, 0); // a fresh program has no cache until told its size
    ASSERT_EQ(nfsMount(live::host().c_str(), live::env("RT_NFS_V4_EXPORT").c_str(), "/v4lk"), 0)
        << std::hex << errnoGet();
    const int fd = kOpen((std::string("/v4lk/") + path).c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    lockcases::secondClientHolds(fd);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(nfsUnmount("/v4lk"), 0);
    nfsClientClose();
}

} // namespace
