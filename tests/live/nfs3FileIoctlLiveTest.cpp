// The ioctl function codes on a version 3 device of the real server, through kIoctl and the
// calls built on it: positions, unread bytes, flags, status, file-system status, path
// configuration, and unsupported codes.
#include "live/nfs3FileLive.h"

#include "drv/nfs3Driver.h"
#include "ops/nfs3Data.h"

#include <brisnel/nfsErrors.h>
#include <kernel/iosLib.h>

#include <array>
#include <thread>

namespace {

using filelive::FileLive;

class FileIoctlLive : public FileLive {
protected:
    int openGiven(const std::string &name, std::size_t size)
    {
        putOnServer(name, std::vector<char>(size, 'g'));
        return kOpen(dev(name).c_str(), K_O_RDWR, 0);
    }
};

TEST_F(FileIoctlLive, PositionsUnreadBytesAndFlags)
{
    const int fd = openGiven("f", 100);
    ASSERT_GE(fd, 0);
    std::array<char, 10> buf{};
    ASSERT_EQ(kRead(fd, buf.data(), 10), 10);
    EXPECT_EQ(kIoctl(fd, K_FIOWHERE, 0), 10);
    uint64_t where = 0;
    EXPECT_EQ(kIoctl(fd, K_FIOWHERE64, reinterpret_cast<intptr_t>(&where)), 0);
    EXPECT_EQ(where, 10u);
    ASSERT_EQ(kIoctl(fd, K_FIOSEEK, 30), 0);
    int unread = -1;
    EXPECT_EQ(kIoctl(fd, K_FIONREAD, reinterpret_cast<intptr_t>(&unread)), 0);
    EXPECT_EQ(unread, 70);
    uint64_t far = uint64_t{1} << 33;
    EXPECT_EQ(kIoctl(fd, K_FIOSEEK64, reinterpret_cast<intptr_t>(&far)), 0);
    EXPECT_EQ(kIoctl(fd, K_FIOWHERE64, reinterpret_cast<intptr_t>(&where)), 0);
    EXPECT_EQ(where, uint64_t{1} << 33);
    EXPECT_EQ(kIoctl(fd, K_FIONREAD, reinterpret_cast<intptr_t>(&unread)), 0);
    EXPECT_EQ(unread, 0) << "past the end";
    EXPECT_EQ(kIoctl(fd, K_FIOSEEK64, 0), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_INVAL);
    EXPECT_EQ(kIoctl(fd, K_FIOWHERE64, 0), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_INVAL);
    int flags = -1;
    EXPECT_EQ(kIoctl(fd, K_FIOGETFL, reinterpret_cast<intptr_t>(&flags)), 0);
    EXPECT_EQ(flags, K_O_RDWR);
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(FileIoctlLive, ASeekToAnotherLineWritesTheDirtyLineFirst)
{
    const int fd = kOpen(dev("s").c_str(), K_O_RDWR | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kWrite(fd, "0123456789", 10), 10);
    ASSERT_EQ(kIoctl(fd, K_FIOSEEK, 5000), 0);
    EXPECT_TRUE(onServer("s").empty()) << "the same line: nothing written";
    ASSERT_EQ(kIoctl(fd, K_FIOSEEK, 20000), 0);
    EXPECT_EQ(onServer("s").size(), 10u) << "leaving the line wrote it";
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(FileIoctlLive, StatusFileSystemStatusAndPathConfiguration)
{
    const int fd = openGiven("st", 1234);
    ASSERT_GE(fd, 0);
    struct kstat st {};
    ASSERT_EQ(kFstat(fd, &st), 0);
    const char *rest = nullptr;
    EXPECT_EQ(st.st_dev, reinterpret_cast<intptr_t>(iosDevFind(filelive::kDev, &rest)));
    EXPECT_EQ(st.st_size, 1234u);
    EXPECT_EQ(st.st_mode & K_S_IFMT, static_cast<uint32_t>(K_S_IFREG));
    struct stat hostSt {};
    ASSERT_EQ(::stat(host("st").c_str(), &hostSt), 0);
    EXPECT_EQ(st.st_ino, static_cast<uint32_t>(hostSt.st_ino));
    // The block fields programs size buffers and count space by: never 0 for a file with bytes.
    EXPECT_GE(st.st_blksize, 512u);
    EXPECT_EQ(st.st_blocks, static_cast<uint32_t>(hostSt.st_blocks))
        << "the server's bytes used, in 512-byte units";

    struct kstatfs fs {};
    ASSERT_EQ(kStatfs(dev("st").c_str(), &fs), 0) << std::hex << errnoGet();
    EXPECT_GT(fs.f_blocks, 0u);
    EXPECT_GT(fs.f_bsize, 0);

    int value = 11;
    ASSERT_EQ(kIoctl(fd, K_FIOPATHCONF, reinterpret_cast<intptr_t>(&value)), 0);
    EXPECT_EQ(value, 1024);
    live::RootHandle root;
    ASSERT_TRUE(live::mountRoot(&root));
    nfs_fh3 rootFh = root.fh();
    Nfs3PathconfInfo pc{};
    ASSERT_EQ(nfs3PathconfGet(live::host().c_str(), &rootFh, &pc), 0);
    value = 9;
    ASSERT_EQ(kIoctl(fd, K_FIOPATHCONF, reinterpret_cast<intptr_t>(&value)), 0);
    EXPECT_EQ(value, static_cast<int>(pc.name_max)) << "the server's name_max";
    value = 6;
    ASSERT_EQ(kIoctl(fd, K_FIOPATHCONF, reinterpret_cast<intptr_t>(&value)), 0);
    EXPECT_EQ(value, static_cast<int>(pc.linkmax));
    value = 5;
    ASSERT_EQ(kIoctl(fd, K_FIOPATHCONF, reinterpret_cast<intptr_t>(&value)), 0);
    EXPECT_EQ(value, 64);
    for (int refused : {14, 2, 21}) {
        value = refused;
        EXPECT_EQ(kIoctl(fd, K_FIOPATHCONF, reinterpret_cast<intptr_t>(&value)), -1) << refused;
        EXPECT_EQ(errnoGet(), K_EINVAL);
        EXPECT_EQ(value, refused) << "left alone";
    }
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(FileIoctlLive, UnsupportedCodesFailAndLeaveTheSemaphoreFree)
{
    putOnServer("u", {'u'});
    std::string path = tail("u");
    std::array<char, K_IOS_TAIL_ROOM> name{};
    path.copy(name.data(), path.size());
    const char *rest = nullptr;
    auto *device = reinterpret_cast<NfsDevice *>(iosDevFind(filelive::kDev, &rest));
    const intptr_t value = nfs3Open(device, name.data(), K_O_RDONLY, 0);
    ASSERT_NE(value, -1) << std::hex << errnoGet();
    auto *file = reinterpret_cast<NfsOpenFile *>(value);
    for (int code : {2, 38, 65, -1, 1000}) {
        errnoSet(0);
        EXPECT_EQ(nfs3Ioctl(file, code, 0), -1) << code;
        EXPECT_EQ(errnoGet(), K_ENOSYS) << code;
        int taken = -1;
        std::thread other([&] {
            taken = semTake(file->semId, K_NO_WAIT);
            if (taken == 0)
                semGive(file->semId);
        });
        other.join();
        EXPECT_EQ(taken, 0) << "code " << code << " left the semaphore held";
    }
    EXPECT_EQ(nfs3Close(file), 0);
}

} // namespace
