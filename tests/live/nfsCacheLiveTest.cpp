// The data cache against nfs-ganesha: 16 MiB of random data written through the cache at
// assorted offsets and lengths land byte-exact in the exported folder and read back
// byte-exact, in write-back and in write-through mode.
#include "live/nfs3DataLive.h"

#include "rpc/nfsRpcStats.h"

#include <kernel/errnoLib.h>

#include <brisnel/nfsConfigLib.h>

#include <algorithm>
#include <numeric>
#include <utility>

namespace {

constexpr std::size_t kFileSize = 16u << 20;
constexpr int kLines = 16;
constexpr int kLineSize = 16384;

struct Segment {
    uint64_t offset;
    std::size_t length;
};

// Segments of 1 byte to 64 KiB covering the whole file once, in shuffled order.
std::vector<Segment> coveringSegments(std::mt19937 &random)
{
    std::vector<Segment> segments;
    std::uniform_int_distribution<std::size_t> length(1, 64 * 1024);
    for (uint64_t at = 0; at < kFileSize;) {
        const std::size_t n = std::min<std::size_t>(length(random), static_cast<std::size_t>(kFileSize - at));
        segments.push_back({at, n});
        at += n;
    }
    std::shuffle(segments.begin(), segments.end(), random);
    return segments;
}

class CacheLive : public datalive::DataLive {
protected:
    // Writes and reads through the cache the way the driver's entries do: never across a
    // line boundary.
    static bool writeThrough(NfsOpenFile *file, uint64_t offset, const char *data, std::size_t n)
    {
        while (n > 0) {
            const std::size_t room = kLineSize - (offset & (kLineSize - 1));
            const int piece = static_cast<int>(std::min(n, room));
            if (nfsCacheLineWrite(file, offset, data, piece, 3) != piece)
                return false;
            offset += static_cast<uint64_t>(piece);
            data += piece;
            n -= static_cast<std::size_t>(piece);
        }
        return true;
    }

    static std::vector<char> readAll(NfsOpenFile *file, std::mt19937 &random)
    {
        std::vector<char> bytes(kFileSize + kLineSize);
        std::uniform_int_distribution<int> length(1, kLineSize);
        uint64_t at = 0;
        for (;;) {
            const int room = kLineSize - static_cast<int>(at & (kLineSize - 1));
            const int got = nfsCacheLineRead(file, at, bytes.data() + at, std::min(length(random), room), 3);
            if (got <= 0) {
                EXPECT_EQ(got, 0) << "at " << at;
                break;
            }
            at += static_cast<uint64_t>(got);
        }
        bytes.resize(static_cast<std::size_t>(at));
        return bytes;
    }

    void roundTrip(int options, const std::string &name)
    {
        ASSERT_TRUE(device_.allocateCache(kLines, kLineSize, options));
        NfsOpenFile *file = device_.create(&root_, name);
        ASSERT_NE(file, nullptr);
        std::mt19937 random(options == 0 ? 20240601 : 20240602);

        std::vector<char> model = randomBytes(kFileSize, random);
        for (const Segment &s : coveringSegments(random))
            ASSERT_TRUE(writeThrough(file, s.offset, model.data() + s.offset, s.length))
                << s.offset << " " << std::hex << errnoGet();
        // Rewrites over what is there, some in lines already sent, some in lines still dirty.
        std::uniform_int_distribution<uint64_t> where(0, kFileSize - 1);
        std::uniform_int_distribution<std::size_t> length(1, 3 * kLineSize);
        for (int i = 0; i < 300; ++i) {
            const uint64_t at = where(random);
            const std::size_t n =
                std::min<std::size_t>(length(random), static_cast<std::size_t>(kFileSize - at));
            const std::vector<char> fresh = randomBytes(n, random);
            std::copy(fresh.begin(), fresh.end(), model.begin() + static_cast<std::ptrdiff_t>(at));
            ASSERT_TRUE(writeThrough(file, at, fresh.data(), n)) << at;
        }
        ASSERT_GE(nfsCacheFileFlush(file, 1, 3), 0);
        nfsCacheFileInvalidate(&device_.device()->cache, file->attr.fileid);

        const std::vector<char> hosted = onServer(name);
        ASSERT_EQ(hosted.size(), model.size());
        EXPECT_TRUE(hosted == model) << "the exported file differs from what was written";

        // Read back through the cache, from the server (the lines were invalidated).
        const std::vector<char> readBack = readAll(file, random);
        ASSERT_EQ(readBack.size(), model.size());
        EXPECT_TRUE(readBack == model) << "what the cache read differs from the server's file";
    }
};

TEST_F(CacheLive, SixteenMebibytesRoundTripInWriteBackMode)
{
    roundTrip(0, "cache-write-back");
}

TEST_F(CacheLive, SixteenMebibytesRoundTripInWriteThroughMode)
{
    roundTrip(NFS_CACHE_WRITE_THROUGH, "cache-write-through");
}

TEST_F(CacheLive, AFileChangedOnTheServerIsSeenAfterInvalidationAndItsGrowthAtOnce)
{
    ASSERT_TRUE(device_.allocateCache(4, 4096, 0));
    NfsOpenFile *file = device_.create(&root_, "cache-grows");
    ASSERT_NE(file, nullptr);
    putOnServer("cache-grows", std::vector<char>(100, 'a'));
    std::array<char, 4096> buf{};
    ASSERT_EQ(nfsCacheLineRead(file, 0, buf.data(), 200, 3), 100);
    EXPECT_EQ(std::string(buf.data(), 100), std::string(100, 'a'));
    EXPECT_EQ(nfsCacheLineRead(file, 100, buf.data(), 10, 3), 0);

    std::vector<char> grown(100, 'a');
    grown.insert(grown.end(), 50, 'b');
    putOnServer("cache-grows", grown);
    ASSERT_EQ(nfsCacheLineRead(file, 100, buf.data(), 100, 3), 50) << "a short line is asked again";
    EXPECT_EQ(std::string(buf.data(), 50), std::string(50, 'b'));
}

// Read-ahead sends no READ that one call at a time would not send (each line is asked for once,
// none past the file's end), sequential or random, and the bytes are the server's; with the
// window a sequential read finds the line after the one it fills already there. Full lines
// written behind land byte-exact.
TEST_F(CacheLive, ReadAheadAndWriteBehindMoveTheSameBytesWithTheSameCalls)
{
    const int32_t savedWindow = nfsMaxInFlight;
    ASSERT_TRUE(device_.allocateCache(kLines, kLineSize, 0));
    NfsDataCache *cache = &device_.device()->cache;
    std::mt19937 random(77);
    const std::size_t size = 40 * kLineSize + 5000;
    const std::vector<char> model = randomBytes(size, random);
    const auto callsOf = [](uint32_t proc) { // over either transport
        return nfsStatSlot(IPPROTO_UDP, NFS_PROGRAM, NFS_V3, proc).calls.value() +
               nfsStatSlot(IPPROTO_TCP, NFS_PROGRAM, NFS_V3, proc).calls.value();
    };
    const auto readCalls = [&callsOf] { return callsOf(NFSPROC3_READ); };
    const int randomLines[] = {17, 3, 30, 9, 22, 0, 38, 12, 26, 6};
    uint64_t calls[2][3] = {};
    for (int w = 0; w < 2; ++w) {
        nfsMaxInFlight = w == 0 ? 1 : 4;
        SCOPED_TRACE(nfsMaxInFlight);
        const std::string name = "ahead-" + std::to_string(w);
        NfsOpenFile *file = device_.create(&root_, name);
        ASSERT_NE(file, nullptr);
        const uint64_t writes = callsOf(NFSPROC3_WRITE);
        for (std::size_t at = 0; at < size; at += 4096) // written behind, line after line
            ASSERT_TRUE(writeThrough(file, at, model.data() + at, std::min<std::size_t>(4096, size - at)));
        ASSERT_GE(nfsCacheFileFlush(file, 0, 3), 0);
        calls[w][2] = callsOf(NFSPROC3_WRITE) - writes;
        EXPECT_TRUE(onServer(name) == model) << "written behind";
        nfsCacheFileInvalidate(cache, file->attr.fileid);

        uint64_t before = readCalls();
        std::vector<char> bytes(kLineSize);
        for (uint64_t at = 0; at < size; at += kLineSize) {
            const int got = nfsCacheLineRead(file, at, bytes.data(), kLineSize, 3);
            ASSERT_EQ(got, static_cast<int>(std::min<uint64_t>(kLineSize, size - at))) << at;
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + got,
                                   model.begin() + static_cast<std::ptrdiff_t>(at)));
            if (w == 1 && at == kLineSize) {
                const NfsCacheLine &next =
                    cache->pLines[nfsWhichCacheLine(cache, file->attr.fileid, 2 * kLineSize)];
                EXPECT_TRUE(next.offset == 2 * kLineSize && next.nBytes == kLineSize) << "read ahead";
            }
        }
        calls[w][0] = readCalls() - before;
        nfsCacheFileInvalidate(cache, file->attr.fileid);

        before = readCalls();
        for (const int line : randomLines) { // 4 KiB in lines never read in a row
            const uint64_t at = static_cast<uint64_t>(line) * kLineSize + 4096;
            ASSERT_EQ(nfsCacheLineRead(file, at, bytes.data(), 4096, 3), 4096);
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 4096,
                                   model.begin() + static_cast<std::ptrdiff_t>(at)));
        }
        calls[w][1] = readCalls() - before;
        EXPECT_GE(nfsCacheFileFlush(file, 1, 3), 0);
        nfsCacheFileInvalidate(cache, file->attr.fileid);
    }
    nfsMaxInFlight = savedWindow;
    EXPECT_EQ(calls[1][0], calls[0][0]) << "sequential: no READ past the end, none twice";
    EXPECT_EQ(calls[1][1], calls[0][1]) << "random: no READ ahead";
    EXPECT_EQ(calls[1][2], calls[0][2]) << "the same WRITEs, some sent behind";
    const uint64_t perLine = (kLineSize + nfs3MaxMsgLen - 1) / nfs3MaxMsgLen;
    EXPECT_EQ(calls[0][1], perLine * std::size(randomLines)) << "one line's READs each";
}

} // namespace

// A write into part of a line fills the line from the server first; what the server does not
// hold reads as zeros, also in lines whose buffers still hold another file's bytes, and a later
// write further into the line leaves zeros in the gap on the server. Each case: the server's
// file (bytes of 'a'), then two writes into its first line.
TEST_F(CacheLive, PartialWritesIntoUsedLinesLeaveZerosWhereTheServerHadNothing)
{
    struct Case {
        std::size_t onServer;
        uint64_t first;
        std::size_t firstLength;
        uint64_t second;
        std::size_t secondLength;
    } const cases[] = {
        {1000, 3000, 10, 3500, 20},  // both past the server's bytes
        {1000, 500, 10, 2000, 5},    // the first among them, the gap past them
        {1000, 900, 300, 4000, 96},  // the first across their end, the second at the line's end
        {0, 100, 1, 4095, 1},        // an empty file
        {4096, 10, 10, 4000, 50},    // a full line: no gap of zeros
    };
    constexpr int kSmallLine = 4096;
    ASSERT_TRUE(device_.allocateCache(4, kSmallLine, 0));
    NfsDataCache *cache = &device_.device()->cache;
    int index = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(index);
        const std::string name = "partial-" + std::to_string(index++);
        NfsOpenFile *file = device_.create(&root_, name);
        ASSERT_NE(file, nullptr);
        putOnServer(name, std::vector<char>(c.onServer, 'a'));
        // Every line's buffer holds bytes of another file, written whole (no fill) and sent.
        NfsOpenFile *other = device_.create(&root_, name + "-other");
        ASSERT_NE(other, nullptr);
        const std::vector<char> ones(4 * kSmallLine, '\xff');
        for (int at = 0; at < 4 * kSmallLine; at += kSmallLine)
            ASSERT_EQ(nfsCacheLineWrite(other, static_cast<uint64_t>(at), ones.data(), kSmallLine, 3), kSmallLine);
        ASSERT_GE(nfsCacheFileFlush(other, 1, 3), 0);
        nfsCacheFileInvalidate(cache, other->attr.fileid);

        std::vector<char> model(c.onServer, 'a');
        const auto write = [&](uint64_t at, std::size_t n, char fill) {
            const std::vector<char> bytes(n, fill);
            model.resize(std::max<std::size_t>(model.size(), static_cast<std::size_t>(at) + n), '\0');
            std::fill_n(model.begin() + static_cast<std::ptrdiff_t>(at), n, fill);
            return nfsCacheLineWrite(file, at, bytes.data(), static_cast<int>(n), 3) == static_cast<int>(n);
        };
        ASSERT_TRUE(write(c.first, c.firstLength, 'b'));
        ASSERT_TRUE(write(c.second, c.secondLength, 'c'));
        ASSERT_GE(nfsCacheFileFlush(file, 1, 3), 0);
        nfsCacheFileInvalidate(cache, file->attr.fileid);
        EXPECT_TRUE(onServer(name) == model) << "the exported file differs from what was written";
    }
}
