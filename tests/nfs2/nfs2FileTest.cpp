// NFS version 2 end to end: the file calls on a device of the folder-backed version 2 server,
// every byte checked in the folder. One data round trip, one listing, one namespace sequence,
// one table of refusals, the 4 GiB limit and the server faults that could run forever; the
// calls that change sizes, modes, times and links, and the listing of duplicate entries.
#include "server/nfs2FolderServer.h"

#include "core/nfsConfig.h"
#include "lock/nlmXdr.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs2Ops.h>
#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/ioLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <array>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char *kDev = "/v2";
constexpr uint32_t kNfs = 100003;

std::string dev(const std::string &name)
{
    return std::string(kDev) + "/" + name;
}

std::vector<char> contentOf(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Nfs2File : public testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/nfs2FolderXXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        std::string error;
        server_ = scripted::ScriptedServer::start({"127.0.0.72", 0, 111}, &error);
        ASSERT_NE(server_, nullptr) << error;
        files_ = std::make_unique<scripted::Nfs2FolderServer>(*server_, folder_, "/v2export");
        ASSERT_EQ(hostAdd("v2server72", "127.0.0.72"), 0);
        // The server runs as this process's user, who owns what it creates.
        nfsAuthUnixSet("tester", static_cast<int>(geteuid()), static_cast<int>(getegid()), 0, nullptr);
        ASSERT_EQ(nfs2Drv(), 0);
        ASSERT_EQ(nfs3Drv(), 0);
        nfs2CacheParamsSet(16, 16384, 0);
        // MOUNT version 1 is all the server offers: the version 2 driver is chosen.
        ASSERT_EQ(nfsMount("v2server72", "/v2export", kDev), 0) << std::hex << errnoGet();
        const char *tail = nullptr;
        ASSERT_EQ(iosDevFind(kDev, &tail)->drvNum, nfs2DrvNum);
    }
    void TearDown() override
    {
        EXPECT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
        nfsClientClose();
        fs::remove_all(folder_);
    }
    fs::path inFolder(const std::string &name) const { return fs::path(folder_) / name; }

    std::string folder_;
    std::unique_ptr<scripted::ScriptedServer> server_;
    std::unique_ptr<scripted::Nfs2FolderServer> files_;
};

// With the window the same READs and WRITEs go, several pieces of a line at once.
TEST_F(Nfs2File, DataRoundTripInAssortedSizes)
{
    std::mt19937 random(7);
    std::vector<char> data(8 << 20);
    std::uniform_int_distribution<int> byte(0, 255);
    for (char &c : data)
        c = static_cast<char>(byte(random));
    const std::vector<int> sizes = {1, 100, 4096, 8191, 16384, 70001, 333};
    const int32_t savedWindow = nfsMaxInFlight;
    uint64_t calls[2][2] = {};
    for (const int32_t window : {1, 4}) {
        SCOPED_TRACE(window);
        nfsMaxInFlight = window;
        server_->resetCounts();
        const std::string name = "data" + std::to_string(window) + ".bin";
        int fd = kOpen(dev(name).c_str(), K_O_RDWR | K_O_CREAT, 0644);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        for (std::size_t done = 0, i = 0; done < data.size(); ++i) {
            const int n = static_cast<int>(
                std::min<std::size_t>(static_cast<std::size_t>(sizes[i % sizes.size()]), data.size() - done));
            ASSERT_EQ(kWrite(fd, data.data() + done, n), n) << done;
            done += static_cast<std::size_t>(n);
        }
        ASSERT_EQ(kClose(fd), 0);
        EXPECT_EQ(contentOf(inFolder(name)), data);

        fd = kOpen(dev(name).c_str(), K_O_RDONLY, 0);
        ASSERT_GE(fd, 0);
        std::vector<char> back(data.size() + 10);
        std::size_t got = 0;
        for (std::size_t i = 0;; ++i) {
            const int n = kRead(fd, back.data() + got,
                                std::min(sizes[(i + 3) % sizes.size()], static_cast<int>(back.size() - got)));
            ASSERT_GE(n, 0);
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        back.resize(got);
        EXPECT_EQ(back, data);
        EXPECT_EQ(kClose(fd), 0);
        calls[window == 1 ? 0 : 1][0] = server_->callCount(kNfs, 2, 6);
        calls[window == 1 ? 0 : 1][1] = server_->callCount(kNfs, 2, 8);
    }
    // Two lines read in a row: the second fill brings the third line with it.
    const int fd = kOpen(dev("data4.bin").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    server_->resetCounts();
    std::vector<char> lines(2 * 16384);
    EXPECT_EQ(kRead(fd, lines.data(), 16384), 16384);
    EXPECT_EQ(kRead(fd, lines.data() + 16384, 16384), 16384);
    EXPECT_TRUE(std::equal(lines.begin(), lines.end(), data.begin()));
    EXPECT_EQ(server_->callCount(kNfs, 2, 6), 6u) << "two READs for each of three lines";
    EXPECT_EQ(kClose(fd), 0);
    nfsMaxInFlight = savedWindow;
    EXPECT_GT(calls[0][0], 1000u);
    EXPECT_EQ(calls[1][0], calls[0][0]) << "READs";
    EXPECT_EQ(calls[1][1], calls[0][1]) << "WRITEs";
}

TEST_F(Nfs2File, ListingOfAThousandEntriesInManyBatches)
{
    std::set<std::string> made;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "entry-with-a-longish-name-" + std::to_string(i);
        std::ofstream(inFolder(name)).put('x');
        made.insert(name);
    }
    server_->resetCounts();
    KDIR *dir = kOpendir(kDev);
    ASSERT_NE(dir, nullptr) << std::hex << errnoGet();
    std::set<std::string> listed;
    while (const kdirent *e = kReaddir(dir))
        EXPECT_TRUE(listed.insert(e->d_name).second) << e->d_name;
    EXPECT_EQ(kClosedir(dir), 0);
    EXPECT_EQ(listed, made);
    EXPECT_GT(server_->callCount(kNfs, 2, 16), 50u); // 512 bytes a batch

    // A server whose cookies repeat ends the listing with an error instead of looping.
    files_->faults().repeatedCookies = true;
    dir = kOpendir(kDev);
    ASSERT_NE(dir, nullptr);
    int entries = 0;
    while (kReaddir(dir) != nullptr && entries < 2000)
        ++entries;
    EXPECT_LT(entries, 2000);
    EXPECT_EQ(kClosedir(dir), 0);
}

TEST_F(Nfs2File, NamespaceSequence)
{
    ASSERT_EQ(kMkdir(dev("d").c_str(), 0755), 0) << std::hex << errnoGet();
    EXPECT_TRUE(fs::is_directory(inFolder("d")));
    int fd = kOpen(dev("d/f").c_str(), K_O_WRONLY | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kWrite(fd, "hello", 5), 5);
    ASSERT_EQ(kClose(fd), 0);
    ASSERT_EQ(kRename(dev("d/f").c_str(), dev("g").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(fs::exists(inFolder("d/f")));
    EXPECT_EQ(contentOf(inFolder("g")), std::vector<char>({'h', 'e', 'l', 'l', 'o'}));
    struct kstat st {};
    ASSERT_EQ(kStat(dev("g").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 5u);
    EXPECT_EQ(st.st_mode & K_S_IFMT, static_cast<uint32_t>(K_S_IFREG));

    // Links: relative and absolute targets are followed, a cycle ends with K_ELOOP.
    fs::create_symlink("g", inFolder("d/../rel"));
    fs::create_symlink("/d/../g", inFolder("abs"));
    fs::create_symlink("loop2", inFolder("loop1"));
    fs::create_symlink("loop1", inFolder("loop2"));
    for (const char *link : {"rel", "abs"}) {
        fd = kOpen(dev(link).c_str(), K_O_RDONLY, 0);
        ASSERT_GE(fd, 0) << link << std::hex << errnoGet();
        char text[8] = {};
        EXPECT_EQ(kRead(fd, text, sizeof text), 5) << link;
        EXPECT_STREQ(text, "hello");
        EXPECT_EQ(kClose(fd), 0);
    }
    errnoSet(0);
    EXPECT_EQ(kOpen(dev("loop1").c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ELOOP);

    ASSERT_EQ(kRemove(dev("rel").c_str()), 0);
    EXPECT_FALSE(fs::is_symlink(inFolder("rel")));
    EXPECT_TRUE(fs::exists(inFolder("g")));
    ASSERT_EQ(kRemove(dev("g").c_str()), 0);
    EXPECT_FALSE(fs::exists(inFolder("g")));
    ASSERT_EQ(kRemove(dev("d").c_str()), 0) << "RMDIR through the delete entry";
    EXPECT_FALSE(fs::exists(inFolder("d")));
}

TEST_F(Nfs2File, RefusedCodesStatusAndTheFourGigabyteLimit)
{
    std::ofstream(inFolder("small")) << "0123456789";
    const int fd = kOpen(dev("small").c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    uint64_t position = 0;
    int selector = 3;
    const struct {
        int code;
        intptr_t arg;
    } refused[] = {{K_FIORMDIR, reinterpret_cast<intptr_t>("x")},
                   {K_FIOSEEK64, reinterpret_cast<intptr_t>(&position)},
                   {K_FIOWHERE64, reinterpret_cast<intptr_t>(&position)},
                   {K_FIOPATHCONF, reinterpret_cast<intptr_t>(&selector)},
                   {K_FIOMKDIR, reinterpret_cast<intptr_t>("x")},
                   {65, 0}};
    for (const auto &r : refused) {
        errnoSet(0);
        EXPECT_EQ(kIoctl(fd, r.code, r.arg), -1) << r.code;
        EXPECT_EQ(errnoGet(), K_ENOSYS) << r.code;
    }
    // A negative seek is refused and leaves the position.
    EXPECT_EQ(kIoctl(fd, K_FIOSEEK, -1), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(kIoctl(fd, K_FIOWHERE, 0), 0);

    struct kstatfs sfs {};
    ASSERT_EQ(kIoctl(fd, K_FIOFSTATFSGET, reinterpret_cast<intptr_t>(&sfs)), 0);
    struct statvfs vfs {};
    ASSERT_EQ(statvfs(folder_.c_str(), &vfs), 0);
    EXPECT_EQ(sfs.f_bsize, static_cast<int32_t>(vfs.f_bsize));
    EXPECT_EQ(sfs.f_blocks, static_cast<uint32_t>(vfs.f_blocks));
    EXPECT_EQ(sfs.f_files, 0u);

    // At and across 4 GiB nothing is sent: the low 32 bits would land at the file's start.
    // The operations refuse such a range; so do the entries, where an int position reaches it.
    server_->resetCounts();
    const char *tail = nullptr;
    auto *device = reinterpret_cast<Nfs2Device *>(iosDevFind(kDev, &tail));
    char bytes[32] = {};
    fattr attr{};
    for (const uint64_t at : {uint64_t{1} << 32, (uint64_t{1} << 32) - 16}) {
        errnoSet(0);
        EXPECT_EQ(nfs2FileWrite(device->host, &device->mountFh, at, sizeof bytes, bytes, &attr), -1);
        EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFSERR_FBIG);
        EXPECT_EQ(nfs2FileRead(device->host, &device->mountFh, at, sizeof bytes, bytes, &attr), -1);
        if constexpr (sizeof(intptr_t) > 4) {
            ASSERT_EQ(kIoctl(fd, K_FIOSEEK, static_cast<intptr_t>(at)), 0);
            errnoSet(0);
            EXPECT_EQ(kWrite(fd, bytes, sizeof bytes), -1) << at;
            EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFSERR_FBIG);
            EXPECT_EQ(kRead(fd, bytes, sizeof bytes), -1) << at;
        }
    }
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(server_->callCount(kNfs, 2, 8), 0u);
    EXPECT_EQ(server_->callCount(kNfs, 2, 6), 0u);
    std::ifstream in(inFolder("small"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "0123456789");
}

TEST_F(Nfs2File, ReadsPastTheEndStopAtTheCountAsked)
{
    std::ofstream(inFolder("short")) << "abc";
    files_->faults().readPastEnd = true;
    const int fd = kOpen(dev("short").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    char bytes[100] = {};
    server_->resetCounts();
    EXPECT_EQ(kRead(fd, bytes, sizeof bytes), 100);
    EXPECT_EQ(std::string(bytes, 3), "abc");
    EXPECT_LE(server_->callCount(kNfs, 2, 6), 2u); // one cache line of 16384 bytes
    EXPECT_EQ(kClose(fd), 0);
}

// Link texts no server should send fail the open rather than pass for an answer: an empty
// one would name the mount's root, and one with a NUL byte cannot be told from its cut form.
TEST_F(Nfs2File, FaultyLinkTextsFailTheOpenInsteadOfPassingForAnswers)
{
    std::ofstream(inFolder("big"), std::ios::binary) << std::string(100000, 'b');
    fs::create_symlink("big", inFolder("link"));
    const struct {
        std::string text;
        int error;
    } links[] = {{"", K_ENOENT}, {std::string("big\0x", 5), K_EIO}};
    for (const auto &link : links) {
        files_->linkTextSet(link.text);
        errnoSet(0);
        EXPECT_EQ(kOpen(dev("link").c_str(), K_O_RDONLY, 0), -1) << link.error;
        EXPECT_EQ(errnoGet(), link.error);
    }
    files_->linkTextSet(std::nullopt);
}

// O_TRUNC is a SETATTR of the size alone: the file keeps its id and mode, and a descriptor
// opened before goes on writing into it.
TEST_F(Nfs2File, TruncationKeepsTheFileAndItsOtherDescriptors)
{
    std::ofstream(inFolder("t")) << "old-data";
    fs::permissions(inFolder("t"), fs::perms(0604));
    struct stat before {};
    ASSERT_EQ(::stat(inFolder("t").c_str(), &before), 0);
    const int earlier = kOpen(dev("t").c_str(), K_O_RDWR, 0);
    ASSERT_GE(earlier, 0);
    const int fd = kOpen(dev("t").c_str(), K_O_WRONLY | K_O_CREAT | K_O_TRUNC, 0666);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    struct stat after {};
    ASSERT_EQ(::stat(inFolder("t").c_str(), &after), 0);
    EXPECT_EQ(after.st_size, 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0604u);
    const std::array<uint32_t, 8> sizeOnly = {~0U, ~0U, ~0U, 0, ~0U, ~0U, ~0U, ~0U};
    ASSERT_FALSE(files_->setattrs().empty());
    EXPECT_EQ(files_->setattrs().back(), sizeOnly);
    ASSERT_EQ(kWrite(fd, "new", 3), 3);
    EXPECT_EQ(kClose(fd), 0);
    ASSERT_EQ(kLseek(earlier, 3, K_SEEK_SET), 3);
    ASSERT_EQ(kWrite(earlier, "+later", 6), 6);
    EXPECT_EQ(kClose(earlier), 0) << std::hex << errnoGet();
    std::ifstream in(inFolder("t"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new+later");
}

// Exclusive create, appended writes, size, mode and time changes, links and their text, each
// checked in the folder; sizes past what 32 bits carry are refused as positions past 4 GiB are.
TEST_F(Nfs2File, SizeModeTimesLinksAndExclusiveAndAppendedWrites)
{
    std::ofstream(inFolder("f")) << "0123456789";
    EXPECT_EQ(kOpen(dev("f").c_str(), K_O_WRONLY | K_O_CREAT | K_O_EXCL, 0644), -1);
    EXPECT_EQ(errnoGet(), K_EEXIST);
    int fd = kOpen(dev("new").c_str(), K_O_WRONLY | K_O_CREAT | K_O_EXCL, 0604);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(fs::status(inFolder("new")).permissions(), fs::perms(0604));

    fd = kOpen(dev("f").c_str(), K_O_RDWR | K_O_APPEND, 0);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(fd, "ab", 2), 2);
    ASSERT_EQ(kLseek(fd, 0, K_SEEK_SET), 0);
    ASSERT_EQ(kWrite(fd, "c", 1), 1);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(contentOf(inFolder("f")),
              std::vector<char>({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c'}));

    fd = kOpen(dev("f").c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kWrite(fd, "XY", 2), 2); // in the cache: written back before the size changes
    ASSERT_EQ(kFtruncate(fd, 4), 0) << std::hex << errnoGet();
    EXPECT_EQ(contentOf(inFolder("f")), std::vector<char>({'X', 'Y', '2', '3'}));
    const uint64_t past = uint64_t{1} << 32;
    EXPECT_EQ(kIoctl(fd, K_FIOTRUNC64, reinterpret_cast<intptr_t>(&past)), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFSERR_FBIG);
    EXPECT_EQ(kFtruncate(fd, 20000), 0);
    EXPECT_EQ(fs::file_size(inFolder("f")), 20000u);
    EXPECT_EQ(kClose(fd), 0);

    ASSERT_EQ(kChmod(dev("f").c_str(), 0640), 0) << std::hex << errnoGet();
    EXPECT_EQ(fs::status(inFolder("f")).permissions(), fs::perms(0640));
    const kutimbuf times{1000000000, 1200000000};
    ASSERT_EQ(kUtime(dev("f").c_str(), &times), 0);
    struct stat st {};
    ASSERT_EQ(::stat(inFolder("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    // No server-time flag in version 2: the client's clock, sent as seconds.
    const auto before = static_cast<uint32_t>(std::time(nullptr));
    ASSERT_EQ(kUtime(dev("f").c_str(), nullptr), 0);
    const std::array<uint32_t, 8> sent = files_->setattrs().back();
    EXPECT_GE(sent[4], before);
    EXPECT_EQ(sent[4], sent[6]);
    EXPECT_EQ(sent[3], ~0U) << "the size stays";

    ASSERT_EQ(kLink(dev("f").c_str(), dev("hard").c_str()), 0) << std::hex << errnoGet();
    struct stat hard {};
    ASSERT_EQ(::stat(inFolder("hard").c_str(), &hard), 0);
    EXPECT_EQ(hard.st_ino, st.st_ino);
    ASSERT_EQ(kSymlink("f", dev("soft").c_str()), 0) << std::hex << errnoGet();
    EXPECT_EQ(fs::read_symlink(inFolder("soft")), fs::path("f"));
    std::array<char, 8> text{};
    text.fill('#');
    ASSERT_EQ(kReadlink(dev("soft").c_str(), text.data(), text.size()), 1);
    EXPECT_EQ(text[0], 'f');
    EXPECT_EQ(text[1], '#') << "no terminator";
}

// A server that sends each entry twice, gives two entries one cookie, or sends its first batch
// for every cookie: each name comes once, and the listing ends.
TEST_F(Nfs2File, DuplicateEntriesAreListedOnceAndTheListingEnds)
{
    std::set<std::string> made;
    for (int i = 0; i < 60; ++i) {
        const std::string name = "entry-" + std::to_string(i);
        std::ofstream(inFolder(name)).put('x');
        made.insert(name);
    }
    const struct {
        std::atomic<bool> *fault;
        bool whole; // every name listed, then the end
    } cases[] = {{&files_->faults().doubledEntries, true},
                 {&files_->faults().pairedCookies, true},
                 {&files_->faults().firstBatchAlways, false}};
    for (const auto &c : cases) {
        *c.fault = true;
        KDIR *dir = kOpendir(kDev);
        ASSERT_NE(dir, nullptr);
        std::set<std::string> listed;
        int entries = 0;
        while (const kdirent *e = kReaddir(dir)) {
            EXPECT_TRUE(listed.insert(e->d_name).second) << e->d_name;
            if (++entries > 200)
                break;
        }
        EXPECT_LE(entries, 60);
        if (c.whole) {
            EXPECT_EQ(listed, made);
        } else {
            EXPECT_FALSE(listed.empty());
            EXPECT_EQ(errnoGet(), K_EIO);
        }
        EXPECT_EQ(kClosedir(dir), 0);
        *c.fault = false;
    }
}

// A file removed, or renamed over, while open keeps working through its descriptors: it goes to
// a hidden name, which its last close removes.
TEST_F(Nfs2File, AnOpenFileRemovedOrRenamedOverLivesUntilItsLastClose)
{
    const auto hidden = [this] {
        std::vector<fs::path> found;
        for (const auto &e : fs::directory_iterator(folder_)) {
            if (e.path().filename().string().rfind(".brisnel-open-", 0) == 0)
                found.push_back(e.path());
        }
        return found;
    };
    std::ofstream(inFolder("u")) << "open";
    const int fd = kOpen(dev("u").c_str(), K_O_RDWR, 0);
    const int second = kOpen(dev("u").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    ASSERT_GE(second, 0);
    ASSERT_EQ(kRemove(dev("u").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(fs::exists(inFolder("u")));
    ASSERT_EQ(hidden().size(), 1u);
    ASSERT_EQ(kLseek(fd, 4, K_SEEK_SET), 4);
    ASSERT_EQ(kWrite(fd, "+more", 5), 5);
    EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
    EXPECT_EQ(contentOf(hidden().at(0)), std::vector<char>({'o', 'p', 'e', 'n', '+', 'm', 'o', 'r', 'e'}));
    std::array<char, 16> back{};
    EXPECT_EQ(kRead(second, back.data(), static_cast<int>(back.size())), 9);
    EXPECT_EQ(std::string(back.data()), "open+more");
    EXPECT_EQ(kClose(second), 0);
    EXPECT_TRUE(hidden().empty()) << "removed at the last close";

    std::ofstream(inFolder("target")) << "old";
    std::ofstream(inFolder("source")) << "new";
    const int onTarget = kOpen(dev("target").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(onTarget, 0);
    ASSERT_EQ(kRename(dev("source").c_str(), dev("target").c_str()), 0) << std::hex << errnoGet();
    EXPECT_EQ(contentOf(inFolder("target")), std::vector<char>({'n', 'e', 'w'}));
    EXPECT_EQ(hidden().size(), 1u);
    back.fill('\0');
    EXPECT_EQ(kRead(onTarget, back.data(), static_cast<int>(back.size())), 3);
    EXPECT_EQ(std::string(back.data()), "old");
    EXPECT_EQ(kClose(onTarget), 0);
    EXPECT_TRUE(hidden().empty());
    ASSERT_EQ(kRemove(dev("target").c_str()), 0) << "a file no longer open is removed";
    EXPECT_FALSE(fs::exists(inFolder("target")));
    EXPECT_TRUE(hidden().empty());
}

// An exit handler that unmounts, as programs clean up: by then exit has destroyed the thread's
// own objects, and the remote call must not send from or receive into them (AddressSanitizer
// would end the child with an error). The handler ends the child itself once the unmount
// succeeded.
void unmountAtExit()
{
    _exit(nfsUnmount(kDev) == 0 ? 0 : 3);
}

// A version 2 mount with options of its own beside the plain one: its sizes stay within a
// version 2 message (rsize=65536 gives 8192), its WRITEs carry its wsize, its cache has its
// geometry, and the bytes reach the server whole; the plain device keeps the words.
TEST_F(Nfs2File, AMountWithOptionsKeepsItsOwnSizesWithinVersionTwo)
{
    constexpr const char *kOpt = "/v2opt";
    ASSERT_EQ(
        nfsMountOpt("v2server72", "/v2export", kOpt, "vers=2,rsize=65536,wsize=2048,lines=2,linesize=8192"),
        0)
        << std::hex << errnoGet();
    const char *tail = nullptr;
    std::array<char, 256> shown{};
    ASSERT_EQ(nfsDevOptGet(iosDevFind(kOpt, &tail), shown.data(), static_cast<int>(shown.size())), 0);
    EXPECT_STREQ(shown.data(),
                 "vers=2,proto=udp,rsize=8192,wsize=2048,timeo=50,retrans=4,lines=2,linesize=8192,"
                 "window=4,sec=sys");
    ASSERT_EQ(nfsDevOptGet(iosDevFind(kDev, &tail), shown.data(), static_cast<int>(shown.size())), 0);
    EXPECT_STREQ(shown.data(),
                 "vers=2,proto=udp,rsize=8192,wsize=8192,timeo=50,retrans=4,lines=16,linesize=16384,"
                 "window=4,sec=sys");

    std::vector<char> data(64 * 1024);
    std::mt19937 random(72);
    for (char &c : data)
        c = static_cast<char>(random());
    server_->resetCounts();
    const int fd = kOpen("/v2opt/opt.bin", K_O_CREAT | K_O_RDWR | K_O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    EXPECT_EQ(kWrite(fd, data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(server_->callCount(kNfs, 2, 8), data.size() / 2048) << "WRITEs of 2048 bytes";
    EXPECT_TRUE(contentOf(inFolder("opt.bin")) == data);
    EXPECT_EQ(nfs2MaxMsgLen, 8192u);
    EXPECT_EQ(nfsUnmount(kOpt), 0);
}

TEST_F(Nfs2File, AnExitHandlerUnmounts)
{
    const int fd = kOpen(dev("before-exit").c_str(), K_O_WRONLY | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kWrite(fd, "x", 1), 1);
    ASSERT_EQ(kClose(fd), 0);
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            std::atexit(unmountAtExit);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(contentOf(inFolder("before-exit")), std::vector<char>{'x'});
}

// Record locks on a version 2 device ask version 1 of the lock manager: the file's handle,
// 32-bit offsets (a range past 4 GiB is refused unsent), the holder as TEST names it, and the
// close unlocking what the closing task held; a LOCK unanswered is cancelled.
TEST_F(Nfs2File, LocksAskVersionOneOfTheManager)
{
    std::vector<NlmLock> locks; // the LOCK calls' records, handle and owner bytes left out
    server_->handle(NLM_PROGRAM, NLM_V1, NLMPROC_LOCK, [&locks](const scripted::RpcCall &, XDR *args) {
        NlmLockArgs got{};
        got.narrow = true;
        if (xdrNlmLockArgs(args, &got) != 0 && got.alock.fh.n_len == NFS_FHSIZE)
            locks.push_back(NlmLock{nullptr, {}, {}, got.alock.svid, got.alock.l_offset, got.alock.l_len});
        xdr_free(reinterpret_cast<xdrproc_t>(xdrNlmLockArgs), reinterpret_cast<char *>(&got));
        return scripted::Reply::ok(xdrNlmRes, NlmRes{{0, nullptr}, NLM4_GRANTED});
    });
    server_->handle(NLM_PROGRAM, NLM_V1, NLMPROC_TEST, [](const scripted::RpcCall &, XDR *) {
        NlmTestRes denied{true, {0, nullptr}, NLM4_DENIED, {FALSE, 77, {0, nullptr}, 5, 6}};
        return scripted::Reply::ok(xdrNlmTestRes, denied);
    });
    server_->handle(NLM_PROGRAM, NLM_V1, NLMPROC_UNLOCK, [](const scripted::RpcCall &, XDR *) {
        return scripted::Reply::ok(xdrNlmRes, NlmRes{{0, nullptr}, NLM4_GRANTED});
    });
    const int fd = kOpen(dev("locked").c_str(), K_O_RDWR | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    kflock lock{K_F_WRLCK, K_SEEK_SET, 10, 20, 0};
    ASSERT_EQ(kFcntl(fd, K_F_SETLK, &lock), 0) << std::hex << errnoGet();
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_EQ(locks[0].l_offset, 10u);
    EXPECT_EQ(locks[0].l_len, 20u);
    lock.l_start = int64_t{1} << 32;
    EXPECT_EQ(kFcntl(fd, K_F_SETLK, &lock), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(locks.size(), 1u);
    kflock probe{K_F_WRLCK, K_SEEK_SET, 0, 0, 0};
    ASSERT_EQ(kFcntl(fd, K_F_GETLK, &probe), 0);
    EXPECT_EQ(probe.l_type, K_F_RDLCK);
    EXPECT_EQ(probe.l_start, 5);
    EXPECT_EQ(probe.l_len, 6);
    EXPECT_EQ(probe.l_pid, 77);
    // A LOCK whose answer never comes fails with the time-out and is withdrawn.
    const int32_t savedTimeout = nfsTimeoutSec;
    nfsTimeoutSec = 1;
    server_->setProgramBehaviour(NLM_PROGRAM, scripted::Behaviour::silent());
    lock.l_start = 0;
    EXPECT_EQ(kFcntl(fd, K_F_SETLK, &lock), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT);
    EXPECT_EQ(server_->callCount(NLM_PROGRAM, NLM_V1, NLMPROC_CANCEL), 1u);
    server_->setProgramBehaviour(NLM_PROGRAM, scripted::Behaviour::answer());
    nfsTimeoutSec = savedTimeout;
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(server_->callCount(NLM_PROGRAM, NLM_V1, NLMPROC_UNLOCK), 1u);
}

} // namespace
