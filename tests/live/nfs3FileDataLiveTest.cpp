// File data through the kernel layer's file calls on a version 3 device of the real server:
// 32 MiB in assorted request sizes in write-back and write-through mode, two descriptors on
// one file, two files interleaved, truncation and creation of existing files; every byte
// checked in the exported folder and read back.
#include "live/nfs3FileLive.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>

#include <algorithm>

namespace {

using filelive::FileLive;
using filelive::randomBytes;

constexpr std::size_t kBig = 32u << 20;

// Writes all of data in requests of 1 byte to 100 KiB.
bool writeInPieces(int fd, const std::vector<char> &data, std::mt19937 &random)
{
    std::uniform_int_distribution<std::size_t> length(1, 100 * 1024);
    for (std::size_t at = 0; at < data.size();) {
        const std::size_t n = std::min(length(random), data.size() - at);
        if (kWrite(fd, data.data() + at, static_cast<int>(n)) != static_cast<int>(n)) {
            ADD_FAILURE() << "write at " << at << std::hex << " error " << errnoGet();
            return false;
        }
        at += n;
    }
    return true;
}

std::vector<char> readInPieces(int fd, std::size_t expected, std::mt19937 &random)
{
    std::vector<char> all(expected + 1);
    std::uniform_int_distribution<int> length(1, 100 * 1024);
    std::size_t at = 0;
    for (;;) {
        const int n = static_cast<int>(
            std::min<std::size_t>(static_cast<std::size_t>(length(random)), all.size() - at));
        const int got = kRead(fd, all.data() + at, n);
        if (got <= 0) {
            EXPECT_EQ(got, 0) << std::hex << errnoGet();
            break;
        }
        at += static_cast<std::size_t>(got);
        if (at == all.size())
            break;
    }
    all.resize(at);
    return all;
}

class FileDataLive : public FileLive {
protected:
    void roundTrip(uint32_t seed, std::size_t size = kBig)
    {
        std::mt19937 random(seed);
        const std::vector<char> model = randomBytes(size, random);
        const int fd = kOpen(dev("big").c_str(), K_O_RDWR | K_O_CREAT, 0644);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        ASSERT_TRUE(writeInPieces(fd, model, random));
        ASSERT_EQ(kClose(fd), 0) << std::hex << errnoGet();
        EXPECT_TRUE(onServer("big") == model) << "the server's copy differs";

        const int again = kOpen(dev("big").c_str(), K_O_RDONLY, 0);
        ASSERT_GE(again, 0);
        EXPECT_TRUE(readInPieces(again, size, random) == model) << "read back differs";
        EXPECT_EQ(kClose(again), 0);
    }
};

class FileDataWriteThroughLive : public FileDataLive {
protected:
    int options() const override { return NFS_CACHE_WRITE_THROUGH; }
};

// Raised transfer words: lines of 64 KiB fill and write back in 32 KiB READs and WRITEs.
class FileDataLargeTransferLive : public FileDataLive {
protected:
    void SetUp() override
    {
        nfs3MaxMsgLen = 32768;
        FileDataLive::SetUp();
    }
    void TearDown() override
    {
        FileDataLive::TearDown();
        nfs3MaxMsgLen = savedMsgLen_;
    }
    int lineBytes() const override { return 65536; }

private:
    uint32_t savedMsgLen_ = nfs3MaxMsgLen;
};

TEST_F(FileDataLargeTransferLive, ThirtyTwoKibibyteTransfersRoundTripByteExact)
{
    ASSERT_EQ(nfs3MaxMsgLen, 32768u) << "the server's FSINFO allows 32 KiB";
    roundTrip(20240903, (4u << 20) + 12345);
    EXPECT_GE(nfsRpcClientCurrent()->bufferSize, 32768u);
}

// Over TCP a call carries up to 1 MiB: lines of 2 MiB fill and write back in 1 MiB READs and
// WRITEs, whichever transports the server offers.
class FileDataMebibyteTransferLive : public FileDataLive {
protected:
    void SetUp() override
    {
        nfs3MaxMsgLen = NFS_TCP_MAX_TRANSFER;
        nfsTransport = NFS_TRANSPORT_TCP;
        FileDataLive::SetUp();
    }
    void TearDown() override
    {
        FileDataLive::TearDown();
        nfs3MaxMsgLen = savedMsgLen_;
        nfsTransport = NFS_TRANSPORT_UDP_WHERE_OFFERED;
    }
    int lineBytes() const override { return 2 << 20; }

private:
    uint32_t savedMsgLen_ = nfs3MaxMsgLen;
};

TEST_F(FileDataMebibyteTransferLive, MebibyteTransfersOverTcpRoundTripByteExact)
{
    ASSERT_EQ(nfs3MaxMsgLen, NFS_TCP_MAX_TRANSFER) << "the server's FSINFO allows 1 MiB";
    roundTrip(20261209, (9u << 20) + 4321);
    EXPECT_EQ(nfsRpcClientCurrent()->transport, IPPROTO_TCP);
    EXPECT_GE(nfsRpcClientCurrent()->bufferSize, NFS_TCP_MAX_TRANSFER);
}

TEST_F(FileDataLive, ThirtyTwoMebibytesInAssortedPiecesRoundTripByteExact)
{
    roundTrip(20240901);
}

TEST_F(FileDataWriteThroughLive, ThirtyTwoMebibytesInAssortedPiecesRoundTripByteExact)
{
    roundTrip(20240902);
}

TEST_F(FileDataLive, TwoDescriptorsOnOneFileAndTwoFilesInterleave)
{
    std::mt19937 random(7);
    const std::vector<char> first = randomBytes(300000, random);
    const std::vector<char> second = randomBytes(200000, random);
    const int a = kOpen(dev("one").c_str(), K_O_RDWR | K_O_CREAT, 0644);
    const int b = kOpen(dev("one").c_str(), K_O_RDWR, 0);
    const int c = kOpen(dev("two").c_str(), K_O_WRONLY | K_O_CREAT, 0644);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_GE(c, 0);
    // a writes the first half of "one", b the second half from its own position, c "two".
    const std::size_t half = first.size() / 2;
    ASSERT_EQ(kLseek(b, static_cast<int64_t>(half), K_SEEK_SET), static_cast<int64_t>(half));
    std::uniform_int_distribution<std::size_t> length(1, 40000);
    std::size_t atA = 0;
    std::size_t atB = half;
    std::size_t atC = 0;
    while (atA < half || atB < first.size() || atC < second.size()) {
        const std::size_t nA = std::min(length(random), half - atA);
        const std::size_t nB = std::min(length(random), first.size() - atB);
        const std::size_t nC = std::min(length(random), second.size() - atC);
        ASSERT_EQ(kWrite(a, first.data() + atA, static_cast<int>(nA)), static_cast<int>(nA));
        ASSERT_EQ(kWrite(b, first.data() + atB, static_cast<int>(nB)), static_cast<int>(nB));
        ASSERT_EQ(kWrite(c, second.data() + atC, static_cast<int>(nC)), static_cast<int>(nC));
        atA += nA;
        atB += nB;
        atC += nC;
    }
    // Each descriptor sees the other's bytes through the shared cache.
    ASSERT_EQ(kLseek(a, 0, K_SEEK_SET), 0);
    EXPECT_TRUE(readAll(a, 70000) == first);
    EXPECT_EQ(kClose(a), 0);
    EXPECT_EQ(kClose(b), 0);
    EXPECT_EQ(kClose(c), 0);
    EXPECT_TRUE(onServer("one") == first);
    EXPECT_TRUE(onServer("two") == second);
}

TEST_F(FileDataLive, ReadsStopAtTheEndAndCrossLineBoundaries)
{
    std::mt19937 random(11);
    const std::vector<char> model = randomBytes(40000, random);
    putOnServer("given", model);
    const int fd = kOpen(dev("given").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    std::vector<char> buf(100000);
    ASSERT_EQ(kLseek(fd, 16380, K_SEEK_SET), 16380);
    ASSERT_EQ(kRead(fd, buf.data(), 10), 10);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 10, model.begin() + 16380));
    EXPECT_EQ(kRead(fd, buf.data(), 100000), 40000 - 16390) << "up to the end";
    EXPECT_EQ(kRead(fd, buf.data(), 100), 0);
    EXPECT_EQ(kLseek(fd, 0, K_SEEK_CUR), 40000);
    EXPECT_EQ(kLseek(fd, -5, K_SEEK_END), 39995);
    ASSERT_EQ(kRead(fd, buf.data(), 100), 5);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 5, model.end() - 5));
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(FileDataLive, TruncateAndCreateOnExistingFiles)
{
    putOnServer("old", std::vector<char>(5000, 'o'));
    // O_CREAT on an existing file opens it with its content.
    int fd = kOpen(dev("old").c_str(), K_O_RDWR | K_O_CREAT, 0600);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    EXPECT_TRUE(readAll(fd, 1000) == std::vector<char>(5000, 'o'));
    EXPECT_EQ(kClose(fd), 0);

    // O_TRUNC empties it: the old bytes are neither on the server nor in the cache.
    fd = kOpen(dev("old").c_str(), K_O_RDWR | K_O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    EXPECT_TRUE(onServer("old").empty());
    std::vector<char> buf(100);
    EXPECT_EQ(kRead(fd, buf.data(), 100), 0);
    ASSERT_EQ(kWrite(fd, "new", 3), 3);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(onServer("old"), (std::vector<char>{'n', 'e', 'w'}));
    EXPECT_EQ(std::filesystem::status(host("old")).permissions(), std::filesystem::perms(0666))
        << "the file's own mode, not the open's";
}

TEST_F(FileDataLive, SyncPutsDirtyLinesOnTheServer)
{
    const int fd = kOpen(dev("synced").c_str(), K_O_WRONLY | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kWrite(fd, "0123456789", 10), 10);
    EXPECT_TRUE(onServer("synced").empty()) << "still in a dirty line";
    EXPECT_EQ(kIoctl(fd, K_FIOSYNC, 0), 10);
    EXPECT_EQ(onServer("synced"), (std::vector<char>{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
    EXPECT_EQ(kIoctl(fd, K_FIOSYNC, 0), 0) << "nothing dirty is left";
    EXPECT_EQ(kClose(fd), 0);
}

} // namespace
