// The pass-through device "host:": every byte moved through it is checked with the host's
// own calls on a temporary folder.
#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class HostFsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = (fs::temp_directory_path() / "hostFsTest.XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string host(const std::string &name) const { return (dir_ / name).string(); }
    std::string dev(const std::string &name) const { return "host:" + host(name); }

    static std::string hostRead(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void hostWrite(const std::string &path, const std::string &data)
    {
        std::ofstream(path, std::ios::binary) << data;
    }

private:
    fs::path dir_;
};

std::string pattern(std::size_t size)
{
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
    }
    return data;
}

TEST_F(HostFsTest, DeviceIsInstalledAtLoad)
{
    const char *tail = nullptr;
    const DEV_HDR *pDev = iosDevFind("host:/tmp/x", &tail);
    ASSERT_NE(pDev, nullptr);
    EXPECT_STREQ(pDev->name, "host:");
    EXPECT_STREQ(tail, "/tmp/x");
}

TEST_F(HostFsTest, BytesWrittenAndReadMatchTheHostFile)
{
    const std::string data = pattern(70000);
    int fd = kCreat(dev("data").c_str(), 0644);
    ASSERT_GE(fd, 3);
    EXPECT_EQ(kWrite(fd, data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(hostRead(host("data")), data);
    struct stat st {};
    ASSERT_EQ(::stat(host("data").c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0644U & ~mask);

    const std::string other = pattern(5000).substr(17);
    hostWrite(host("other"), other);
    fd = kOpen(dev("other").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(fd, 3);
    std::string got(8000, '\0');
    const int n = kRead(fd, got.data(), static_cast<int>(got.size()));
    ASSERT_EQ(n, static_cast<int>(other.size()));
    got.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(got, other);
    EXPECT_EQ(kRead(fd, got.data(), 10), 0);
    int flags = -1;
    EXPECT_EQ(kIoctl(fd, K_FIOGETFL, reinterpret_cast<intptr_t>(&flags)), 0);
    EXPECT_EQ(flags, K_O_RDONLY);
    EXPECT_EQ(kWrite(fd, "x", 1), -1); // opened read-only
    EXPECT_EQ(errnoGet(), K_EBADF);
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(HostFsTest, OpenFlagsAreTranslated)
{
    hostWrite(host("t"), "old contents");
    int fd = kOpen(dev("t").c_str(), K_O_WRONLY | K_O_TRUNC, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kWrite(fd, "new", 3), 3);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(hostRead(host("t")), "new");

    fd = kOpen(dev("rw").c_str(), K_O_RDWR | K_O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kWrite(fd, "abcdef", 6), 6);
    EXPECT_EQ(kLseek(fd, 2, K_SEEK_SET), 2);
    std::array<char, 4> got{};
    EXPECT_EQ(kRead(fd, got.data(), 3), 3);
    EXPECT_STREQ(got.data(), "cde");
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(hostRead(host("rw")), "abcdef");

    EXPECT_EQ(kOpen(dev("missing").c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENOENT);
    EXPECT_EQ(kOpen(dev("t").c_str(), 3, 0), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
}

TEST_F(HostFsTest, SeekingAndPositionsBeyondFourGigabytes)
{
    hostWrite(host("pos"), std::string(100, 'p'));
    const int fd = kOpen(dev("pos").c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kIoctl(fd, K_FIOSEEK, 30), 0);
    EXPECT_EQ(kIoctl(fd, K_FIOWHERE, 0), 30);
    int unread = 0;
    EXPECT_EQ(kIoctl(fd, K_FIONREAD, reinterpret_cast<intptr_t>(&unread)), 0);
    EXPECT_EQ(unread, 70);
    EXPECT_EQ(kLseek(fd, -10, K_SEEK_END), 90);
    EXPECT_EQ(kLseek(fd, 4, K_SEEK_CUR), 94);

    const int64_t far = (int64_t{1} << 32) + 5;
    ASSERT_EQ(kLseek(fd, far, K_SEEK_SET), far);
    EXPECT_EQ(kWrite(fd, "Z", 1), 1);
    uint64_t where = 0;
    EXPECT_EQ(kIoctl(fd, K_FIOWHERE64, reinterpret_cast<intptr_t>(&where)), 0);
    EXPECT_EQ(where, static_cast<uint64_t>(far) + 1);
    EXPECT_EQ(kIoctl(fd, K_FIOWHERE, 0), -1); // does not fit an int
    kstat st{};
    EXPECT_EQ(kFstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, static_cast<uint64_t>(far) + 1);
    EXPECT_EQ(kIoctl(fd, K_FIOSYNC, 0), 0);
    EXPECT_EQ(kClose(fd), 0);

    const int hostFd = ::open(host("pos").c_str(), O_RDONLY);
    ASSERT_GE(hostFd, 0);
    char byte = 0;
    EXPECT_EQ(::pread(hostFd, &byte, 1, far), 1);
    EXPECT_EQ(byte, 'Z');
    ::close(hostFd);
}

TEST_F(HostFsTest, StatReportsTheHostsView)
{
    hostWrite(host("s"), std::string(1234, 's'));
    ASSERT_EQ(::chmod(host("s").c_str(), 0640), 0);
    struct stat hostSt {};
    ASSERT_EQ(::stat(host("s").c_str(), &hostSt), 0);
    kstat st{};
    ASSERT_EQ(kStat(dev("s").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1234U);
    EXPECT_EQ(st.st_mode, static_cast<uint32_t>(K_S_IFREG | 0640));
    EXPECT_EQ(st.st_ino, static_cast<uint32_t>(hostSt.st_ino));
    EXPECT_EQ(st.st_mtime, static_cast<uint32_t>(hostSt.st_mtim.tv_sec));
    EXPECT_EQ(st.st_nlink, 1U);

    ASSERT_EQ(kStat(dev("").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & K_S_IFMT, static_cast<uint32_t>(K_S_IFDIR));
    kstatfs sfs{};
    ASSERT_EQ(kStatfs(dev("s").c_str(), &sfs), 0);
    EXPECT_GT(sfs.f_bsize, 0);
    EXPECT_GT(sfs.f_blocks, 0U);
}

TEST_F(HostFsTest, MkdirRmdirRenameAndRemove)
{
    ASSERT_EQ(kMkdir(dev("d").c_str(), 0750), 0);
    struct stat st {};
    ASSERT_EQ(::stat(host("d").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(kMkdir(dev("d").c_str(), 0750), -1);
    EXPECT_EQ(errnoGet(), K_EEXIST);

    hostWrite(host("d/inside"), "in");
    EXPECT_EQ(kRmdir(dev("d").c_str()), -1);
    EXPECT_EQ(errnoGet(), K_ENOTEMPTY);

    ASSERT_EQ(kRename(dev("d/inside").c_str(), dev("moved").c_str()), 0);
    EXPECT_FALSE(fs::exists(host("d/inside")));
    EXPECT_EQ(hostRead(host("moved")), "in");
    ASSERT_EQ(kRmdir(dev("d").c_str()), 0);
    EXPECT_FALSE(fs::exists(host("d")));
    EXPECT_EQ(kRmdir(dev("d").c_str()), -1);
    EXPECT_EQ(errnoGet(), K_ENOENT);

    EXPECT_EQ(kRename(dev("moved").c_str(), "/elsewhere/moved"), -1);
    EXPECT_EQ(errnoGet(), K_IOS_NO_DEVICE);

    // rmdir takes directories only; rename takes a link itself, even a dangling one.
    EXPECT_EQ(kRmdir(dev("moved").c_str()), -1);
    EXPECT_EQ(errnoGet(), K_ENOTDIR);
    fs::create_symlink("nowhere", host("dangling"));
    ASSERT_EQ(kRename(dev("dangling").c_str(), dev("dangling2").c_str()), 0);
    EXPECT_EQ(fs::read_symlink(host("dangling2")), "nowhere");
    EXPECT_EQ(hostRead(host("moved")), "in");

    ASSERT_EQ(kRemove(dev("moved").c_str()), 0);
    EXPECT_FALSE(fs::exists(host("moved")));
    EXPECT_EQ(kRemove(dev("moved").c_str()), -1);
    EXPECT_EQ(errnoGet(), K_ENOENT);
    fs::create_directory(host("emptyDir"));
    EXPECT_EQ(kRemove(dev("emptyDir").c_str()), 0); // the delete entry removes empty folders
    EXPECT_FALSE(fs::exists(host("emptyDir")));
}

TEST_F(HostFsTest, CreateWithDirectoryModeMakesAFolder)
{
    const int fd = kOpen(dev("made").c_str(), K_O_RDONLY | K_O_CREAT, K_S_IFDIR | 0700);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kIoctl(fd, K_FIOMKDIR, reinterpret_cast<intptr_t>(host("made/sub").c_str())), 0);
    EXPECT_TRUE(fs::is_directory(host("made/sub")));
    EXPECT_EQ(kIoctl(fd, K_FIORMDIR, reinterpret_cast<intptr_t>(host("made/sub").c_str())), 0);
    EXPECT_FALSE(fs::exists(host("made/sub")));
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_TRUE(fs::is_directory(host("made")));
}

TEST_F(HostFsTest, ReaddirListsEveryEntryAndRewinds)
{
    const std::vector<std::string> made{"alpha", "beta", "gamma"};
    for (const std::string &name : made) {
        hostWrite(host(name), name);
    }
    KDIR *pDir = kOpendir(dev("").c_str());
    ASSERT_NE(pDir, nullptr);
    std::vector<std::string> names;
    while (const kdirent *entry = kReaddir(pDir)) {
        names.emplace_back(entry->d_name);
        ASSERT_LE(names.size(), 10U);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "alpha", "beta", "gamma"}));

    kRewinddir(pDir);
    std::size_t again = 0;
    while (kReaddir(pDir) != nullptr) {
        ++again;
        ASSERT_LE(again, 10U);
    }
    EXPECT_EQ(again, names.size());
    EXPECT_EQ(kClosedir(pDir), 0);
}

TEST_F(HostFsTest, ErrorsAreTheKernelsNumbers)
{
    const std::string longName(300, 'n');
    EXPECT_EQ(kOpen(dev(longName).c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    hostWrite(host("f"), "");
    EXPECT_EQ(kOpen(dev("f/under").c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENOTDIR);
    const int fd = kOpen(dev("f").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    for (const int code : {2, 38, K_FIOPATHCONF, 65, -1}) {
        EXPECT_EQ(kIoctl(fd, code, 0), -1) << code;
        EXPECT_EQ(errnoGet(), K_ENOSYS) << code;
    }
    EXPECT_EQ(kIoctl(fd, K_FIOSEEK64, 0), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(HostFsTest, SizeModeAndTimesAreWhatTheHostStatShows)
{
    hostWrite(host("a"), "0123456789");
    fs::create_symlink("a", host("toA"));
    const int fd = kOpen(dev("a").c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kFtruncate(fd, 4), 0);
    ASSERT_EQ(kFtruncate(fd, 6), 0); // extended with zero bytes
    EXPECT_EQ(hostRead(host("a")), std::string("0123\0\0", 6));
    ASSERT_EQ(kFtruncate(fd, (int64_t{1} << 32) + 3), 0);
    EXPECT_EQ(fs::file_size(host("a")), (uint64_t{1} << 32) + 3);
    ASSERT_EQ(kFtruncate(fd, 2), 0);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(hostRead(host("a")), "01");

    struct stat st {};
    for (const int mode : {0600, 04710, K_S_IFREG | 0640, 0}) {
        ASSERT_EQ(kChmod(dev("toA").c_str(), mode), 0) << mode; // through the link
        ASSERT_EQ(::stat(host("a").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(mode & 07777)) << mode;
    }
    // Times past 2106 and before 1970 pass whole.
    const kutimbuf times{(int64_t{1} << 32) + 17, -86400};
    ASSERT_EQ(kUtime(dev("a").c_str(), &times), 0);
    ASSERT_EQ(::stat(host("a").c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, times.actime);
    EXPECT_EQ(st.st_mtim.tv_sec, times.modtime);
    const time_t before = ::time(nullptr);
    ASSERT_EQ(kUtime(dev("a").c_str(), nullptr), 0);
    ASSERT_EQ(::stat(host("a").c_str(), &st), 0);
    EXPECT_GE(st.st_mtim.tv_sec, before);
    EXPECT_LE(st.st_mtim.tv_sec, ::time(nullptr));
}

TEST_F(HostFsTest, ExclusiveCreateAndAppendingWrites)
{
    hostWrite(host("e"), "kept");
    fs::create_symlink("nowhere", host("dangling"));
    fs::create_directory(host("dir"));
    for (const char *name : {"e", "dangling", "dir"}) {
        const int mode = std::string(name) == "dir" ? K_S_IFDIR | 0700 : 0600;
        EXPECT_EQ(kOpen(dev(name).c_str(), K_O_RDONLY | K_O_CREAT | K_O_EXCL, mode), -1) << name;
        EXPECT_EQ(errnoGet(), K_EEXIST) << name;
    }
    EXPECT_FALSE(fs::exists(host("nowhere")));
    EXPECT_EQ(kClose(kOpen(dev("fresh").c_str(), K_O_RDWR | K_O_CREAT | K_O_EXCL, 0600)), 0);
    EXPECT_TRUE(fs::is_regular_file(host("fresh")));

    const int fd = kOpen(dev("e").c_str(), K_O_RDWR | K_O_APPEND, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kLseek(fd, 1, K_SEEK_SET), 1);
    EXPECT_EQ(kWrite(fd, "+1", 2), 2);
    EXPECT_EQ(hostRead(host("e")), "kept+1");
    hostWrite(host("e"), "grown by the host"); // another writer: the end moves
    EXPECT_EQ(kLseek(fd, 0, K_SEEK_SET), 0);
    EXPECT_EQ(kWrite(fd, "+2", 2), 2);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(hostRead(host("e")), "grown by the host+2");
}

TEST_F(HostFsTest, LinksSymlinksAndReadlinkRoundTrip)
{
    hostWrite(host("f"), "linked");
    ASSERT_EQ(kLink(dev("f").c_str(), dev("hard").c_str()), 0);
    struct stat st {};
    struct stat hardSt {};
    ASSERT_EQ(::stat(host("f").c_str(), &st), 0);
    ASSERT_EQ(::stat(host("hard").c_str(), &hardSt), 0);
    EXPECT_EQ(hardSt.st_ino, st.st_ino);
    EXPECT_EQ(st.st_nlink, 2U);
    kstat kst{};
    ASSERT_EQ(kStat(dev("hard").c_str(), &kst), 0);
    EXPECT_EQ(kst.st_nlink, 2U);
    EXPECT_EQ(hostRead(host("hard")), "linked");

    // Relative, absolute, dangling and long targets come back byte for byte.
    std::array<char, 512> text{};
    for (const std::string &target :
         {std::string("f"), host("f"), std::string("../no/such"), std::string(300, 'L')}) {
        const std::string link = "sym" + std::to_string(target.size());
        ASSERT_EQ(kSymlink(target.c_str(), dev(link).c_str()), 0) << target;
        EXPECT_EQ(fs::read_symlink(host(link)).string(), target);
        const int n = kReadlink(dev(link).c_str(), text.data(), text.size());
        ASSERT_GE(n, 0);
        EXPECT_EQ(std::string(text.data(), static_cast<std::size_t>(n)), target);
    }
    // A link is linked itself; an existing name is not made a link.
    ASSERT_EQ(kLink(dev("sym10").c_str(), dev("symHard").c_str()), 0);
    EXPECT_EQ(fs::read_symlink(host("symHard")), "../no/such");
    EXPECT_EQ(kSymlink("x", dev("f").c_str()), -1);
    EXPECT_EQ(errnoGet(), K_EEXIST);
    EXPECT_EQ(kReadlink(dev("f").c_str(), text.data(), text.size()), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(hostRead(host("f")), "linked");
}

TEST_F(HostFsTest, RelativeTailsAreRelativeToTheWorkingDirectory)
{
    std::string templ = "hostFsRel.XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    const int fd = kCreat(("host:" + templ + "/f").c_str(), 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kWrite(fd, "rel", 3), 3);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(hostRead((fs::current_path() / templ / "f").string()), "rel");
    fs::remove_all(templ);
}

} // namespace
