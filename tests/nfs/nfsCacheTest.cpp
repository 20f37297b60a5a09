// The data cache against fake read and write slots: geometry, line choice, hits and misses,
// write-back and write-through, two files sharing a line, flushes and their failures, and
// caches that are not there.
#include "nfs/allocationCount.h"
#include "nfs/nfsCacheFake.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <thread>
#include <utility>

namespace {

using cachefake::CacheFixture;

constexpr int kLine = 16384;

bool allZero(const char *bytes, std::size_t n)
{
    return std::all_of(bytes, bytes + n, [](char c) { return c == 0; });
}

TEST(CacheGeometry, LineSizeRoundsUpToAPowerOfTwoAndLinesStartEmpty)
{
    NfsDataCache cache{};
    ASSERT_EQ(nfsCacheAlloc(&cache, 16, 10000, NFS_CACHE_WRITE_THROUGH), 0);
    EXPECT_EQ(cache.lineSize, 16384u);
    EXPECT_EQ(cache.lineShift, 14u);
    EXPECT_EQ(cache.nLines, 16u);
    EXPECT_EQ(cache.options, static_cast<uint32_t>(NFS_CACHE_WRITE_THROUGH));
    EXPECT_TRUE(allZero(cache.pBuffer, 262144));
    for (uint32_t i = 0; i < cache.nLines; ++i) {
        const NfsCacheLine &line = cache.pLines[i];
        EXPECT_EQ(line.pData, cache.pBuffer + i * 16384);
        EXPECT_EQ(line.nBytes, 0u);
        EXPECT_EQ(line.fileId, NFS_CACHE_NO_FILE);
        EXPECT_EQ(line.pOwner, nullptr);
        EXPECT_EQ(line.flags, 0u);
    }
    EXPECT_EQ(nfsCacheFree(&cache), 0);
}

TEST(CacheGeometry, RefusedRequestsLeaveTheBlockZeroAndFreeZeroesIt)
{
    const auto isZero = [](const NfsDataCache &c) {
        return c.pLines == nullptr && c.pBuffer == nullptr && c.semId == nullptr && c.options == 0 &&
               c.nLines == 0 && c.lineShift == 0 && c.lineSize == 0;
    };
    NfsDataCache cache{};
    std::memset(&cache, 0x5a, sizeof cache);
    EXPECT_EQ(nfsCacheAlloc(&cache, 0, 16384, 1), -1);
    EXPECT_TRUE(isZero(cache));
    EXPECT_EQ(nfsCacheAlloc(&cache, 16, 0, 1), -1);
    EXPECT_TRUE(isZero(cache));
    EXPECT_EQ(nfsCacheAlloc(&cache, -1, 16384, 0), -1);
    // Where size_t is 32 bits, line count x line size or x line record can wrap: refused.
    if constexpr (sizeof(std::size_t) == 4) {
        for (const auto &[count, bytes] :
             {std::pair{4, 1 << 30}, std::pair{1 << 22, 1024}, std::pair{1 << 30, 1}}) {
            EXPECT_EQ(nfsCacheAlloc(&cache, count, bytes, 0), -1) << count << " x " << bytes;
            EXPECT_TRUE(isZero(cache));
        }
    }
    EXPECT_EQ(nfsCacheAlloc(&cache, 1, 1, 0), 0);
    EXPECT_EQ(cache.lineSize, 1u);
    EXPECT_EQ(nfsCacheFree(&cache), 0);
    EXPECT_TRUE(isZero(cache));
    EXPECT_EQ(nfsCacheFree(&cache), -1) << "no mutex to take";
}

TEST(CacheGeometry, LineChoiceMixesBlockAndFileWithAMultiplierUnlikeTheLineCount)
{
    NfsDataCache cache{};
    ASSERT_EQ(nfsCacheAlloc(&cache, 127, 16384, 0), 0);
    EXPECT_EQ(nfsWhichCacheLine(&cache, 1, 0), 131u % 127u);
    EXPECT_EQ(nfsWhichCacheLine(&cache, 0, 5 * 16384 + 77), 5u);
    nfsCacheFree(&cache);
    ASSERT_EQ(nfsCacheAlloc(&cache, 16, 16384, 0), 0);
    EXPECT_EQ(nfsWhichCacheLine(&cache, 1, 0), 15u);
    EXPECT_EQ(nfsWhichCacheLine(&cache, 1, 16383), 15u);
    EXPECT_EQ(nfsWhichCacheLine(&cache, 1, 16384), 0u);
    // Block number and file-id product are each cut to 32 bits and summed with wrapping.
    const uint64_t fileId = 0x1234567890ULL;
    const uint64_t offset = (0x1'0000'0003ULL) << 14;
    const uint32_t expected =
        (static_cast<uint32_t>(offset >> 14) + static_cast<uint32_t>(fileId * 127)) % 16;
    EXPECT_EQ(nfsWhichCacheLine(&cache, fileId, offset), expected);
    nfsCacheFree(&cache);
}

class CacheRead : public CacheFixture {};

TEST_F(CacheRead, AShortFileFillsPartOfALineAndReadsPastItsEndAskTheServerAgain)
{
    allocate(16, kLine);
    NfsOpenFile *file = open(1);
    serverHolds(1, std::string(100, 'a'));
    std::array<char, 200> buf{};
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 200, 3), 100);
    EXPECT_EQ(std::string(buf.data(), 100), std::string(100, 'a'));
    NfsCacheLine &line = lineOf(1, 0);
    EXPECT_EQ(line.nBytes, 100u);
    EXPECT_TRUE(allZero(line.pData + 100, kLine - 100));
    EXPECT_EQ(line.pOwner, file);
    ASSERT_EQ(server_.calls.size(), 1u);
    EXPECT_EQ(server_.calls[0].offset, 0u);
    EXPECT_EQ(server_.calls[0].count, static_cast<unsigned>(kLine)) << "one call for the whole line";

    EXPECT_EQ(nfsCacheLineRead(file, 100, buf.data(), 10, 3), 0);
    EXPECT_EQ(nfsCacheLineRead(file, 150, buf.data(), 10, 3), -1);
    EXPECT_EQ(server_.count(false), 3u) << "a short line never counts as a hit";

    // The file grew on the server: the next read at the old end sees it.
    serverHolds(1, std::string(100, 'a') + "tail");
    EXPECT_EQ(nfsCacheLineRead(file, 100, buf.data(), 10, 3), 4);
    EXPECT_EQ(std::string(buf.data(), 4), "tail");
}

TEST_F(CacheRead, AHitCopiesFromTheLineWithoutAServerCall)
{
    allocate(4, 1024);
    NfsOpenFile *file = open(9);
    std::string content(3000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>('A' + i % 26);
    serverHolds(9, content);
    std::array<char, 1024> buf{};
    ASSERT_EQ(nfsCacheLineRead(file, 1024 + 10, buf.data(), 100, 3), 100);
    EXPECT_EQ(std::string(buf.data(), 100), content.substr(1034, 100));
    ASSERT_EQ(nfsCacheLineRead(file, 1024 + 500, buf.data(), 524, 3), 524);
    EXPECT_EQ(std::string(buf.data(), 524), content.substr(1524, 524));
    EXPECT_EQ(server_.count(false), 1u);
    EXPECT_EQ(server_.calls[0].offset, 1024u);
}

TEST_F(CacheRead, AFailedFillForgetsTheLineAndLeavesTheSlotsErrorNumber)
{
    allocate(4, 1024);
    NfsOpenFile *file = open(3);
    serverHolds(3, std::string(2000, 'x'));
    std::array<char, 16> buf{};
    ASSERT_EQ(nfsCacheLineRead(file, 0, buf.data(), 16, 3), 16);
    // Invalidate so the next read misses, then make the fill fail.
    nfsCacheFileInvalidate(&cache(), 3);
    server_.failReads = 1;
    errnoSet(0x1234);
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 16, 3), -1);
    EXPECT_EQ(errnoGet(), 0x1234);
    EXPECT_EQ(lineOf(3, 0).nBytes, 0u);
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 16, 3), 16);
}

TEST_F(CacheRead, CountsThatCrossTheLineAreRefusedBeforeAnythingMoves)
{
    allocate(4, 1024);
    NfsOpenFile *file = open(3);
    std::array<char, 2048> buf{};
    EXPECT_EQ(nfsCacheLineRead(file, 1000, buf.data(), 25, 3), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(nfsCacheLineWrite(file, 1000, buf.data(), 25, 3), -1);
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), -1, 3), -1);
    EXPECT_TRUE(server_.calls.empty());
}

// A server may give two files one file id (an export spanning file systems, ids reused): the
// lines are the handle's, so neither file reads or writes the other's bytes.
TEST_F(CacheRead, TwoHandlesWithOneFileIdEachReadTheirOwnBytes)
{
    allocate(16, kLine);
    std::array<char, 8> handleA{'h', 'a'};
    std::array<char, 8> handleB{'h', 'b'};
    NfsOpenFile *a = open(7);
    NfsOpenFile *b = open(7);
    a->fh.data = {8, handleA.data()};
    b->fh.data = {8, handleB.data()};
    server_.byHandle[std::string(handleA.data(), 8)] = std::vector<char>(2 * kLine, 'a');
    server_.byHandle[std::string(handleB.data(), 8)] = std::vector<char>(2 * kLine, 'b');
    std::array<char, 100> buf{};
    for (const uint64_t at : {uint64_t{0}, uint64_t{kLine + 5}, uint64_t{0}}) {
        ASSERT_EQ(nfsCacheLineRead(a, at, buf.data(), 100, 3), 100);
        EXPECT_EQ(std::string(buf.data(), 100), std::string(100, 'a')) << at;
        ASSERT_EQ(nfsCacheLineRead(b, at, buf.data(), 100, 3), 100);
        EXPECT_EQ(std::string(buf.data(), 100), std::string(100, 'b')) << at;
    }
    ASSERT_EQ(nfsCacheLineWrite(a, 10, "xyz", 3, 3), 3);
    ASSERT_EQ(nfsCacheLineRead(b, 10, buf.data(), 3, 3), 3);
    EXPECT_EQ(std::string(buf.data(), 3), "bbb");
    EXPECT_GE(nfsCacheFileFlush(a, 0, 3), 0);
    EXPECT_EQ(std::string(server_.byHandle[std::string(handleA.data(), 8)].data() + 9, 5), "axyza");
    EXPECT_EQ(server_.byHandle[std::string(handleB.data(), 8)], std::vector<char>(2 * kLine, 'b'));
}

class CacheWrite : public CacheFixture {};

TEST_F(CacheWrite, ASmallWriteStaysInADirtyLineUntilTheFileIsFlushed)
{
    allocate(16, kLine);
    NfsOpenFile *file = open(1);
    EXPECT_EQ(nfsCacheLineWrite(file, 0, "0123456789", 10, 3), 10);
    NfsCacheLine &line = lineOf(1, 0);
    EXPECT_EQ(line.nBytes, 10u);
    EXPECT_EQ(line.flags, static_cast<uint32_t>(NFS_CACHE_DIRTY));
    EXPECT_EQ(server_.count(true), 0u);
    EXPECT_EQ(server_.count(false), 1u) << "a partial write fills the line first";

    EXPECT_EQ(nfsCacheFileFlush(file, 1, 3), 10);
    EXPECT_EQ(serverFile(1), "0123456789");
    ASSERT_EQ(server_.count(true), 1u);
    EXPECT_EQ(server_.calls.back().offset, 0u);
    EXPECT_EQ(line.flags, 0u);
    EXPECT_EQ(line.pOwner, nullptr) << "released";
    EXPECT_EQ(nfsCacheFileFlush(file, 1, 3), 0);
}

TEST_F(CacheWrite, APartialWriteKeepsTheServersBytesAroundIt)
{
    allocate(4, 1024);
    NfsOpenFile *file = open(5);
    serverHolds(5, std::string(1500, 'o'));
    ASSERT_EQ(nfsCacheLineWrite(file, 1024 + 10, "NEW", 3, 3), 3);
    ASSERT_EQ(nfsCacheLineWrite(file, 1024 + 600, "END", 3, 3), 3);
    EXPECT_EQ(lineOf(5, 1024).nBytes, 603u);
    ASSERT_EQ(nfsCacheFileFlush(file, 0, 3), 603);
    std::string expected = std::string(1500, 'o') + std::string(1627 - 1500, '\0');
    expected.replace(1034, 3, "NEW");
    expected.replace(1624, 3, "END");
    EXPECT_EQ(serverFile(5), expected);
}

TEST_F(CacheWrite, AWholeLineSkipsTheFillAndGoesOutAtOnce)
{
    allocate(16, kLine);
    NfsOpenFile *file = open(1);
    const std::string data(kLine, 'w');
    EXPECT_EQ(nfsCacheLineWrite(file, kLine, data.data(), kLine, 3), kLine);
    EXPECT_EQ(server_.count(false), 0u);
    ASSERT_EQ(server_.count(true), 1u);
    EXPECT_EQ(server_.calls[0].offset, static_cast<uint64_t>(kLine));
    EXPECT_EQ(server_.calls[0].count, static_cast<unsigned>(kLine));
    EXPECT_EQ(lineOf(1, kLine).flags, 0u);
    EXPECT_EQ(serverFile(1).substr(kLine), data);

    server_.failWrites = 1;
    EXPECT_EQ(nfsCacheLineWrite(file, 3 * kLine, data.data(), kLine, 3), -1);
    EXPECT_EQ(lineOf(1, 3 * kLine).flags, static_cast<uint32_t>(NFS_CACHE_DIRTY))
        << "kept for a later write-back";
}

TEST_F(CacheWrite, WriteThroughSendsEachWriteAndLeavesTheLineCleanAndReadable)
{
    allocate(16, kLine, NFS_CACHE_WRITE_THROUGH);
    NfsOpenFile *file = open(2);
    serverHolds(2, "abcdefgh");
    EXPECT_EQ(nfsCacheLineWrite(file, 2, "XY", 2, 3), 2);
    EXPECT_EQ(nfsCacheLineWrite(file, 8, "tail", 4, 3), 4);
    EXPECT_EQ(serverFile(2), "abXYefghtail");
    ASSERT_EQ(server_.count(true), 2u);
    EXPECT_EQ(server_.calls.back().offset, 8u);
    EXPECT_EQ(server_.calls.back().count, 4u);
    EXPECT_EQ(lineOf(2, 0).flags, 0u);
    std::array<char, 12> buf{};
    const std::size_t readsBefore = server_.count(false);
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 12, 3), 12);
    EXPECT_EQ(std::string(buf.data(), 12), "abXYefghtail");
    EXPECT_EQ(server_.count(false), readsBefore) << "served from the line";

    server_.failWrites = 1;
    EXPECT_EQ(nfsCacheLineWrite(file, 0, "z", 1, 3), -1);
    EXPECT_EQ(lineOf(2, 0).flags, static_cast<uint32_t>(NFS_CACHE_DIRTY)) << "not sent: stays dirty";
    EXPECT_EQ(nfsCacheFileFlush(file, 0, 3), 12);
    EXPECT_EQ(serverFile(2), "zbXYefghtail");
}

TEST_F(CacheWrite, AZeroByteWriteClaimsNoLine)
{
    allocate(4, 1024);
    NfsOpenFile *file = open(1);
    EXPECT_EQ(nfsCacheLineWrite(file, 0, "", 0, 3), 0);
    EXPECT_EQ(lineOf(1, 0).fileId, NFS_CACHE_NO_FILE);
    EXPECT_EQ(lineOf(1, 0).flags, 0u);
    EXPECT_TRUE(server_.calls.empty());
}

class CacheSharedLine : public CacheFixture {
protected:
    // With 16 lines, files 1 and 17 both put block 0 in line 15.
    void SetUp() override
    {
        CacheFixture::SetUp();
        allocate(16, kLine);
        first = open(1);
        second = open(17);
        ASSERT_EQ(&lineOf(1, 0), &lineOf(17, 0));
        serverHolds(17, "second file");
    }
    NfsOpenFile *first = nullptr;
    NfsOpenFile *second = nullptr;
};

TEST_F(CacheSharedLine, TheOtherFilesDirtyLineIsWrittenBackBeforeTheRead)
{
    ASSERT_EQ(nfsCacheLineWrite(first, 0, "first", 5, 3), 5);
    server_.calls.clear();
    std::array<char, 11> buf{};
    ASSERT_EQ(nfsCacheLineRead(second, 0, buf.data(), 11, 3), 11);
    EXPECT_EQ(std::string(buf.data(), 11), "second file");
    ASSERT_EQ(server_.calls.size(), 2u);
    EXPECT_TRUE(server_.calls[0].write);
    EXPECT_EQ(server_.calls[0].fileId, 1u);
    EXPECT_FALSE(server_.calls[1].write);
    EXPECT_EQ(server_.calls[1].fileId, 17u);
    EXPECT_EQ(serverFile(1), "first");
    NfsCacheLine &line = lineOf(17, 0);
    EXPECT_EQ(line.fileId, 17u);
    EXPECT_EQ(line.pOwner, second);
    EXPECT_TRUE(allZero(line.pData + 11, kLine - 11)) << "nothing of the first file is left";
}

// A write-back of the other file that the server refuses is a loss noted in that file, and the
// line serves the read. One the server leaves unanswered may yet go through: the line keeps the
// other file's bytes for its next write-back, and the read fails as that call did.
TEST_F(CacheSharedLine, AFailedWriteBackOfTheOtherFileIsRecordedInItOrKeptWhenUnanswered)
{
    const struct {
        int failure;
        bool kept;
    } cases[] = {
        {NFS_ERRNO_BASE | NFS3ERR_NOSPC, false},
        {K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT, true},
        {K_RPC_CLNT_ERRNO_BASE | RPC_CANTRECV, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.failure);
        serverHolds(1, "");
        ASSERT_EQ(nfsCacheLineWrite(first, 0, "first", 5, 3), 5);
        server_.failWrites = 1;
        server_.failErrno = c.failure;
        std::array<char, 11> buf{};
        errnoSet(0);
        EXPECT_EQ(nfsCacheLineRead(second, 0, buf.data(), 11, 3), c.kept ? -1 : 11);
        EXPECT_EQ(errnoGet(), c.kept ? c.failure : 0);
        EXPECT_EQ(lineOf(17, 0).fileId, c.kept ? 1u : 17u);
        EXPECT_EQ(lineOf(17, 0).flags, c.kept ? static_cast<uint32_t>(NFS_CACHE_DIRTY) : 0u);
        EXPECT_EQ(first->lostErrno, c.kept ? 0 : c.failure) << "a loss waits for the first file's sync";
        EXPECT_EQ(nfsCacheFileFlush(first, 1, 3), c.kept ? 5 : 0);
        EXPECT_EQ(serverFile(1), c.kept ? "first" : "");
        EXPECT_EQ(second->lostErrno, 0);
        first->lostErrno = 0;
        ASSERT_EQ(nfsCacheLineRead(second, 0, buf.data(), 11, 3), 11);
        EXPECT_EQ(std::string(buf.data(), 11), "second file");
    }
}

// Every way a file's own dirty line is written back: a failure leaves the line dirty with all
// its bytes, those acknowledged before included, and the next write-back sends them.
enum class WriteBackBy { lineFull, readMiss, writeMiss, readPastTheWrittenBytes, lineFlush };

class CacheOwnWriteBack : public CacheFixture, public testing::WithParamInterface<WriteBackBy> {};

TEST_P(CacheOwnWriteBack, AFailureKeepsTheLineDirtyWithItsBytesUntilTheNextWriteBack)
{
    allocate(16, kLine);
    NfsOpenFile *file = open(1);
    serverHolds(1, std::string(100, 'a'));
    ASSERT_EQ(nfsCacheLineWrite(file, 0, "acked", 5, 3), 5);
    server_.failWrites = 1;
    const uint64_t sameLine = 16 * static_cast<uint64_t>(kLine); // block 16 maps to block 0's line
    const std::string rest(kLine - 5, 'r');
    std::array<char, 200> buf{};
    switch (GetParam()) {
    case WriteBackBy::lineFull: EXPECT_EQ(nfsCacheLineWrite(file, 5, rest.data(), kLine - 5, 3), -1); break;
    case WriteBackBy::readMiss: EXPECT_EQ(nfsCacheLineRead(file, sameLine, buf.data(), 10, 3), -1); break;
    case WriteBackBy::writeMiss: EXPECT_EQ(nfsCacheLineWrite(file, sameLine, "x", 1, 3), -1); break;
    case WriteBackBy::readPastTheWrittenBytes:
        EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 200, 3), -1);
        break;
    case WriteBackBy::lineFlush: EXPECT_EQ(nfsCacheLineFlush(&lineOf(1, 0), 3), -1); break;
    }
    NfsCacheLine &line = lineOf(1, 0);
    EXPECT_EQ(line.flags, static_cast<uint32_t>(NFS_CACHE_DIRTY));
    EXPECT_EQ(line.fileId, 1u);
    EXPECT_EQ(line.offset, 0u);
    EXPECT_EQ(line.pOwner, file);
    EXPECT_EQ(file->lostErrno, 0) << "nothing lost yet";

    const bool full = GetParam() == WriteBackBy::lineFull;
    EXPECT_EQ(nfsCacheFileFlush(file, 0, 3), full ? kLine : 100);
    EXPECT_EQ(serverFile(1).substr(0, 5), "acked");
    EXPECT_EQ(serverFile(1).size(), full ? static_cast<std::size_t>(kLine) : 100u);
    EXPECT_EQ(line.flags, 0u);
}

INSTANTIATE_TEST_SUITE_P(Paths, CacheOwnWriteBack,
                         testing::Values(WriteBackBy::lineFull, WriteBackBy::readMiss, WriteBackBy::writeMiss,
                                         WriteBackBy::readPastTheWrittenBytes, WriteBackBy::lineFlush));

TEST_F(CacheSharedLine, AFillThatFailsPartWayLeavesNothingForTheLinesFormerFile)
{
    // The second file's failed fill lands some of its bytes in the line that still held the
    // first file's block; a later partial write of that block must not take them as its own.
    serverHolds(1, std::string(100, 'a'));
    serverHolds(17, std::string(100, 'b'));
    std::array<char, 10> buf{};
    ASSERT_EQ(nfsCacheLineRead(first, 0, buf.data(), 10, 3), 10);
    server_.failReads = 1;
    server_.bytesBeforeFailure = 60;
    ASSERT_EQ(nfsCacheLineRead(second, 0, buf.data(), 10, 3), -1);

    ASSERT_EQ(nfsCacheLineWrite(first, 50, "X", 1, 3), 1);
    ASSERT_EQ(nfsCacheFileFlush(first, 1, 3), 100);
    EXPECT_EQ(serverFile(1), std::string(50, 'a') + "X" + std::string(49, 'a'));
    EXPECT_EQ(serverFile(17), std::string(100, 'b'));
}

TEST_F(CacheSharedLine, AFailedOwnWriteBackKeepsTheBytesThatTheNextWriteBuildsOn)
{
    serverHolds(1, std::string(100, 'a'));
    ASSERT_EQ(nfsCacheLineWrite(first, 0, "kept", 4, 3), 4);
    server_.failWrites = 1;
    std::array<char, 200> buf{};
    ASSERT_EQ(nfsCacheLineRead(first, 0, buf.data(), 200, 3), -1);

    ASSERT_EQ(nfsCacheLineWrite(first, 90, "Z", 1, 3), 1);
    ASSERT_EQ(nfsCacheFileFlush(first, 1, 3), 100);
    EXPECT_EQ(serverFile(1), "kept" + std::string(86, 'a') + "Z" + std::string(9, 'a'));
}

TEST_F(CacheSharedLine, AFileWhoseIdIsAllOnesNeverTakesAFreeLineAsItsOwn)
{
    // All ones marks a free line: a file the server gives that id must not find its blocks in
    // lines that hold nothing, or in lines another file left behind.
    constexpr uint64_t kAllOnes = NFS_CACHE_NO_FILE;
    NfsOpenFile *odd = open(kAllOnes);
    serverHolds(kAllOnes, std::string(100, 'a'));
    ASSERT_EQ(nfsCacheLineWrite(odd, 50, "X", 1, 3), 1);
    ASSERT_EQ(nfsCacheFileFlush(odd, 1, 3), 100);
    EXPECT_EQ(serverFile(kAllOnes), std::string(50, 'a') + "X" + std::string(49, 'a'));

    std::array<char, 8> buf{};
    const uint32_t lineIndex = nfsWhichCacheLine(&cache(), kAllOnes, 0);
    NfsCacheLine &line = cache().pLines[lineIndex];
    std::memcpy(line.pData, "another", 7);
    line.nBytes = 7;
    line.fileId = kAllOnes; // what invalidating another file's line leaves
    line.offset = 0;
    ASSERT_EQ(nfsCacheLineRead(odd, 0, buf.data(), 7, 3), 7);
    EXPECT_EQ(std::string(buf.data(), 7), "aaaaaaa");
}

class CacheFlush : public CacheFixture {};

TEST_F(CacheFlush, ALineWithoutOwnerIsLeftAlone)
{
    allocate(4, 1024);
    NfsCacheLine &line = cache().pLines[2];
    line.flags = NFS_CACHE_DIRTY;
    line.nBytes = 5;
    EXPECT_EQ(nfsCacheLineFlush(&line, 3), 0);
    EXPECT_EQ(line.flags, static_cast<uint32_t>(NFS_CACHE_DIRTY));
    EXPECT_TRUE(server_.calls.empty());
}

TEST_F(CacheFlush, OnlyTheFilesDirtyLinesGoInLineOrderAndTheirCountsAddUp)
{
    allocate(8, 1024);
    NfsOpenFile *file = open(4);
    NfsOpenFile *other = open(5);
    ASSERT_EQ(nfsCacheLineWrite(file, 3 * 1024, "ccc", 3, 3), 3);
    ASSERT_EQ(nfsCacheLineWrite(file, 0, "a", 1, 3), 1);
    ASSERT_EQ(nfsCacheLineWrite(other, 0, "other", 5, 3), 5);
    server_.calls.clear();
    EXPECT_EQ(nfsCacheFileFlush(file, 0, 3), 3 + 1);
    ASSERT_EQ(server_.calls.size(), 2u);
    EXPECT_EQ(server_.calls[0].offset, 0u) << "lines in index order";
    EXPECT_EQ(server_.calls[1].offset, 3u * 1024);
    EXPECT_EQ(lineOf(4, 0).pOwner, file) << "kept without the release flag";
    EXPECT_EQ(lineOf(5, 0).flags, static_cast<uint32_t>(NFS_CACHE_DIRTY));
}

TEST_F(CacheFlush, AFailureStopsTheFlushAndKeepsTheLineDirty)
{
    allocate(8, 1024);
    NfsOpenFile *file = open(4);
    ASSERT_EQ(nfsCacheLineWrite(file, 0, "a", 1, 3), 1);
    ASSERT_EQ(nfsCacheLineWrite(file, 1024, "b", 1, 3), 1);
    server_.calls.clear();
    server_.failWrites = 1;
    EXPECT_EQ(nfsCacheFileFlush(file, 0, 3), -1);
    EXPECT_EQ(server_.calls.size(), 1u) << "later lines are not visited";
    EXPECT_EQ(lineOf(4, 0).flags, static_cast<uint32_t>(NFS_CACHE_DIRTY));
    EXPECT_EQ(nfsCacheFileFlush(file, 0, 3), 2);
}

TEST_F(CacheFlush, AFailedReleasingFlushLeavesNoLinePointingAtTheFile)
{
    // After a releasing flush the file record goes away: no dirty line may keep it.
    allocate(8, 1024);
    NfsOpenFile *file = open(4);
    ASSERT_EQ(nfsCacheLineWrite(file, 0, "a", 1, 3), 1);
    ASSERT_EQ(nfsCacheLineWrite(file, 1024, "b", 1, 3), 1);
    server_.failWrites = 1;
    EXPECT_EQ(nfsCacheFileFlush(file, 1, 3), -1);
    for (uint32_t i = 0; i < cache().nLines; ++i)
        EXPECT_NE(cache().pLines[i].pOwner, file) << "line " << i;
}

TEST_F(CacheFlush, InvalidationFreesOnlyTheFilesLines)
{
    allocate(8, 1024);
    NfsOpenFile *file = open(4);
    NfsOpenFile *other = open(5);
    ASSERT_EQ(nfsCacheLineWrite(file, 0, "a", 1, 3), 1);
    ASSERT_EQ(nfsCacheLineWrite(other, 0, "b", 1, 3), 1);
    NfsCacheLine &mine = lineOf(4, 0);
    nfsCacheFileInvalidate(&cache(), 4);
    EXPECT_EQ(mine.fileId, NFS_CACHE_NO_FILE);
    EXPECT_EQ(mine.pOwner, file) << "owner, bytes and flags stay";
    EXPECT_EQ(mine.nBytes, 1u);
    EXPECT_EQ(lineOf(5, 0).fileId, 5u);
    nfsCacheFileInvalidate(&cache(), NFS_CACHE_NO_FILE);
    EXPECT_EQ(lineOf(5, 0).fileId, 5u);
}

TEST_F(CacheWrite, ReadsWritesAndFlushesAllocateNothing)
{
    if (!alloccount::available())
        GTEST_SKIP() << "needs the address sanitizer's allocator hooks";
    allocate(4, 1024);
    NfsOpenFile *file = open(1);
    NfsOpenFile *other = open(5); // shares lines with file 1 at other offsets
    server_.files[1].assign(8192, 'a');
    server_.files[5].assign(8192, 'b');
    server_.calls.reserve(1000);
    {
        const alloccount::Scope probe;
        const auto block = std::make_unique<std::array<char, 64>>();
        ASSERT_GE(probe.count(), 1u) << "the hook must see this thread's allocations";
    }
    std::array<char, 1024> buf{};
    std::size_t allocated = 0;
    {
        const alloccount::Scope scope;
        for (uint64_t at = 0; at < 8192; at += 700) {
            const int n = static_cast<int>(std::min<uint64_t>(300, 1024 - (at & 1023)));
            nfsCacheLineRead(file, at, buf.data(), n, 3);
            nfsCacheLineWrite(other, at, buf.data(), n, 3);
            nfsCacheLineWrite(file, at & ~1023ULL, buf.data(), 1024, 3);
        }
        nfsCacheFileFlush(other, 0, 3);
        nfsCacheFileFlush(file, 1, 3);
        allocated = scope.count();
    }
    EXPECT_EQ(allocated, 0u);
    EXPECT_GT(server_.calls.size(), 20u) << "the loop did reach the server";
}

// Lines of one transfer each and a window of four calls: a sequential read fills three lines
// ahead with its own, a sequential write sends four full lines together.
class CacheWindow : public CacheFixture {
protected:
    void SetUp() override
    {
        CacheFixture::SetUp();
        savedWindow_ = nfsMaxInFlight;
        savedTransfer_ = nfs3MaxMsgLen;
        nfsMaxInFlight = 4;
        nfs3MaxMsgLen = kLine;
        allocate(16, kLine);
    }
    void TearDown() override
    {
        nfsMaxInFlight = savedWindow_;
        nfs3MaxMsgLen = savedTransfer_;
        CacheFixture::TearDown();
    }
    // A file of `lines` lines whose every byte tells its place, as last seen by its open file.
    NfsOpenFile *patterned(uint64_t fileId, int lines)
    {
        std::vector<char> &data = server_.files[fileId];
        data.resize(static_cast<std::size_t>(lines) * kLine);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i * 7 / 3);
        NfsOpenFile *file = open(fileId);
        file->attr.size = data.size();
        return file;
    }
    // Reads the given lines of the file in order, each checked against the server's bytes.
    void readLines(NfsOpenFile *file, std::initializer_list<int> lines)
    {
        std::vector<char> buf(kLine);
        for (const int n : lines) {
            const uint64_t at = static_cast<uint64_t>(n) * kLine;
            ASSERT_EQ(nfsCacheLineRead(file, at, buf.data(), kLine, 3), kLine) << n;
            const std::vector<char> &data = server_.files[file->attr.fileid];
            EXPECT_TRUE(std::equal(buf.begin(), buf.end(), data.begin() + static_cast<std::ptrdiff_t>(at)))
                << n;
        }
    }
    static std::vector<uint64_t> atLines(std::initializer_list<int> lines)
    {
        std::vector<uint64_t> offsets;
        for (const int n : lines)
            offsets.push_back(static_cast<uint64_t>(n) * kLine);
        return offsets;
    }

private:
    int32_t savedWindow_ = 0;
    uint32_t savedTransfer_ = 0;
};

// Each line is asked for once: the second fill in a row reads three lines ahead, hits follow,
// and nothing is asked past the size. Reads out of order ask for their own lines only.
TEST_F(CacheWindow, ASequentialReadReadsAheadUpToTheSizeAndARandomOneNever)
{
    const struct {
        const char *name;
        std::initializer_list<int> reads;
        std::vector<uint64_t> asked;
    } cases[] = {
        {"sequential", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, atLines({0, 1, 2, 3, 4, 5, 6, 7, 8, 9})},
        {"random", {7, 2, 5, 0, 9, 3}, atLines({7, 2, 5, 0, 9, 3})},
        {"sequential, then a jump", {0, 1, 8, 9}, atLines({0, 1, 2, 3, 4, 8, 9})},
    };
    uint64_t fileId = 10;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        server_.calls.clear();
        readLines(patterned(++fileId, 10), c.reads);
        EXPECT_EQ(server_.offsets(false), c.asked);
    }
}

// A READ ahead that fails is told to no one: the read asked for returns its bytes, the line
// ahead holds nothing, and reading it later asks the server again.
TEST_F(CacheWindow, AFailingReadAheadIsReportedToNoOneAndItsLineLeftEmpty)
{
    NfsOpenFile *file = patterned(3, 8);
    server_.failReadAt = 3 * kLine;
    errnoSet(0);
    readLines(file, {0, 1, 2});
    EXPECT_EQ(errnoGet(), 0);
    EXPECT_EQ(lineOf(3, 3 * kLine).fileId, NFS_CACHE_NO_FILE);
    server_.failReadAt = UINT64_MAX;
    readLines(file, {3, 4});
    EXPECT_EQ(server_.offsets(false), atLines({0, 1, 2, 3, 4, 3}));
}

// A line holding another file's unsent bytes is never taken for reading ahead: the read-ahead
// stops before it and the bytes go out with their own file.
TEST_F(CacheWindow, ReadAheadLeavesADirtyLineAlone)
{
    NfsOpenFile *reader = patterned(6, 8);
    NfsOpenFile *writer = open(7);
    NfsCacheLine &ahead = lineOf(6, 3 * kLine);
    uint64_t offset = 0; // the other file's block that maps to the same line
    while (&lineOf(7, offset) != &ahead)
        offset += kLine;
    ASSERT_EQ(nfsCacheLineWrite(writer, offset, "dirty", 5, 3), 5);
    server_.calls.clear();
    readLines(reader, {0, 1, 2});
    EXPECT_EQ(server_.offsets(false), atLines({0, 1, 2})) << "line 2 read ahead, line 3 not";
    EXPECT_EQ(ahead.fileId, 7u);
    EXPECT_EQ(ahead.flags, static_cast<uint32_t>(NFS_CACHE_DIRTY));
    EXPECT_EQ(nfsCacheFileFlush(writer, 1, 3), 5);
    EXPECT_EQ(serverFile(7).substr(static_cast<std::size_t>(offset)), "dirty");
}

// Two files read side by side, their blocks on the same lines: the second file's read-ahead
// passes over the first's lines read ahead and not read yet, so that each block is asked once;
// a file that stops reading frees its lines after a few passes.
TEST_F(CacheWindow, ReadAheadLeavesAnotherFilesUnreadLinesAlone)
{
    NfsOpenFile *first = patterned(5, 5);
    NfsOpenFile *second = patterned(5 + 16, 5); // block b of both on one line
    ASSERT_EQ(&lineOf(5, 2 * kLine), &lineOf(5 + 16, 2 * kLine));
    readLines(first, {0, 1});
    readLines(second, {0, 1});
    readLines(first, {2, 3, 4});
    readLines(second, {2, 3, 4});
    EXPECT_EQ(server_.offsets(false), atLines({0, 1, 2, 3, 4, 0, 1, 2, 3, 4}));

    NfsOpenFile *idle = patterned(6, 5);
    NfsOpenFile *reader = patterned(6 + 16, 5);
    readLines(idle, {0, 1}); // lines 2 to 4 read ahead, never read
    for (int pass = 0; pass < 5; ++pass) {
        nfsCacheFileInvalidate(&cache(), 6 + 16);
        readLines(reader, {0, 1}); // a sequential fill: read-ahead tried
    }
    server_.calls.clear();
    readLines(reader, {2});
    EXPECT_EQ(server_.count(false), 0u) << "the idle file's line was taken for reading ahead at last";
}

// A line another task is reading is left to it: this task's file, whose blocks share the
// lines, neither reads ahead into it nor takes it for its own block, which goes to the
// alternate line. A write of that block drops the copy there, so that no read finds old bytes
// once the block's own line goes to another file.
TEST_F(CacheWindow, ALineAnotherTaskIsReadingIsLeftToIt)
{
    NfsOpenFile *first = patterned(8, 5);
    NfsOpenFile *second = patterned(8 + 16, 5); // block b of both on one line
    const auto otherTaskReads = [&](uint32_t from, uint32_t to) { // the first file's line 2
        std::thread([&] {
            std::vector<char> buf(to - from);
            const uint64_t at = 2 * kLine + from;
            ASSERT_EQ(nfsCacheLineRead(first, at, buf.data(), static_cast<int>(buf.size()), 3),
                      static_cast<int>(buf.size()));
            EXPECT_TRUE(std::equal(buf.begin(), buf.end(), server_.files[8].begin() + static_cast<std::ptrdiff_t>(at)));
        }).join();
    };
    otherTaskReads(0, kLine / 2);
    readLines(second, {0, 1, 2});
    otherTaskReads(kLine / 2, kLine);
    EXPECT_EQ(server_.offsets(false), atLines({2, 0, 1, 2, 3, 4})) << "the first file's line 2 taken";
    const NfsCacheLine &alternate = cache().pLines[(&lineOf(24, 2 * kLine) - cache().pLines + 8) % 16];
    EXPECT_EQ(alternate.fileId, 24u);

    ASSERT_EQ(nfsCacheLineWrite(second, 2 * kLine + 5, "new", 3, 3), 3);
    EXPECT_NE(alternate.fileId, 24u);
    ASSERT_EQ(nfsCacheFileFlush(second, 0, 3), kLine);
    EXPECT_EQ(serverFile(24).substr(2 * kLine + 5, 3), "new");
    otherTaskReads(0, kLine); // the block's own line goes back to the first file
    readLines(second, {2});
}

// Full lines written in order go out four at a time, each once and in order; a read of the
// file sends those still waiting first, as does the flush.
TEST_F(CacheWindow, SequentialFullLinesGoOutBehindTogetherAndLeaveWithTheNextCall)
{
    NfsOpenFile *file = open(4);
    std::vector<char> bytes(8 * kLine);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i % 253);
    for (int n = 0; n < 8; ++n)
        ASSERT_EQ(
            nfsCacheLineWrite(file, static_cast<uint64_t>(n) * kLine, bytes.data() + n * kLine, kLine, 3),
            kLine);
    EXPECT_EQ(server_.offsets(true), atLines({0, 1, 2, 3, 4}));
    EXPECT_EQ(lineOf(4, 6 * kLine).flags, static_cast<uint32_t>(NFS_CACHE_DIRTY | NFS_CACHE_BEHIND));
    std::array<char, 10> buf{};
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 10, 3), 10);
    EXPECT_EQ(server_.offsets(true), atLines({0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(serverFile(4), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(nfsCacheFileFlush(file, 1, 3), 0);
}

// A line written behind that fails stays dirty and fails the write that sent it; the lines
// sent with it are clean, and the next write-back sends the failed one.
TEST_F(CacheWindow, AFailedWriteBehindKeepsItsLineDirtyAndIsReported)
{
    NfsOpenFile *file = open(5);
    const std::string line(kLine, 'b');
    server_.failWriteAt = 2 * kLine;
    for (int n = 0; n < 5; ++n)
        EXPECT_EQ(nfsCacheLineWrite(file, static_cast<uint64_t>(n) * kLine, line.data(), kLine, 3),
                  n < 4 ? kLine : -1)
            << n;
    EXPECT_EQ(errnoGet(), 5);
    EXPECT_EQ(lineOf(5, 2 * kLine).flags, static_cast<uint32_t>(NFS_CACHE_DIRTY));
    EXPECT_EQ(lineOf(5, 3 * kLine).flags, 0u);
    EXPECT_EQ(lineOf(5, 4 * kLine).flags, 0u);
    EXPECT_EQ(nfsCacheFileFlush(file, 0, 3), -1) << "still failing: reported again";
    server_.failWriteAt = UINT64_MAX;
    EXPECT_EQ(nfsCacheFileFlush(file, 1, 3), kLine);
    EXPECT_EQ(serverFile(5), line + line + line + line + line);
}

// Lines left waiting behind under a wide window still leave with the file's next call once the
// window has narrowed: a full line then sends only as many as the window holds, and the rest
// are not forgotten.
TEST_F(CacheWindow, LinesWaitingBehindLeaveWithTheNextCallAfterTheWindowNarrows)
{
    NfsOpenFile *file = open(6);
    std::vector<char> bytes(7 * kLine);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i % 251);
    const auto write = [&](int n) {
        return nfsCacheLineWrite(file, static_cast<uint64_t>(n) * kLine, bytes.data() + n * kLine, kLine, 3);
    };
    nfsMaxInFlight = 16;
    for (int n = 0; n < 6; ++n)
        ASSERT_EQ(write(n), kLine) << n;
    EXPECT_EQ(server_.offsets(true), atLines({0}));
    nfsMaxInFlight = 2;
    ASSERT_EQ(write(6), kLine);
    std::array<char, 10> buf{};
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 10, 3), 10);
    std::vector<uint64_t> sent = server_.offsets(true);
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, atLines({0, 1, 2, 3, 4, 5, 6})) << "each line once, all before the read returned";
    EXPECT_TRUE(serverFile(6) == std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(nfsCacheFileFlush(file, 1, 3), 0) << "nothing left to send at close";
}

class CacheAbsent : public CacheFixture {};

TEST_F(CacheAbsent, AZeroedCacheFailsEveryOperationCleanly)
{
    NfsOpenFile *file = open(1);
    std::array<char, 8> buf{};
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 8, 3), -1);
    EXPECT_EQ(nfsCacheLineWrite(file, 0, buf.data(), 8, 3), -1);
    EXPECT_EQ(nfsCacheFileFlush(file, 1, 3), -1);
    EXPECT_EQ(nfsWhichCacheLine(&cache(), 1, 0), 0u);
    nfsCacheFileInvalidate(&cache(), 1);
    EXPECT_EQ(nfsCacheFree(&cache()), -1);
    EXPECT_TRUE(server_.calls.empty());

    // Freed after use, as a failed unmount leaves it.
    allocate(4, 1024);
    ASSERT_EQ(nfsCacheLineWrite(file, 0, "a", 1, 3), 1);
    ASSERT_EQ(nfsCacheFree(&cache()), 0);
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 1, 3), -1);
    EXPECT_EQ(nfsCacheLineWrite(file, 0, buf.data(), 1, 3), -1);
    EXPECT_EQ(nfsCacheFileFlush(file, 0, 3), -1);
}

// Every exported cache routine refuses a null pointer argument with 0x300016 before using it.
TEST_F(CacheAbsent, NullPointerArgumentsAreRefusedWithTheInvalStatus)
{
    allocate(4, 1024);
    NfsOpenFile *file = open(1);
    std::array<char, 8> buf{};
    const struct {
        const char *call;
        std::function<int()> run;
        int result;
    } cases[] = {
        {"nfsCacheAlloc", [] { return nfsCacheAlloc(nullptr, 4, 1024, 0); }, -1},
        {"nfsCacheFree", [] { return nfsCacheFree(nullptr); }, -1},
        {"nfsWhichCacheLine", [] { return static_cast<int>(nfsWhichCacheLine(nullptr, 1, 0)); }, 0},
        {"nfsCacheFileInvalidate",
         [] {
             nfsCacheFileInvalidate(nullptr, 1);
             return 0;
         },
         0},
        {"nfsCacheLineRead file", [&] { return nfsCacheLineRead(nullptr, 0, buf.data(), 8, 3); }, -1},
        {"nfsCacheLineRead buffer", [&] { return nfsCacheLineRead(file, 0, nullptr, 8, 3); }, -1},
        {"nfsCacheLineWrite file", [&] { return nfsCacheLineWrite(nullptr, 0, buf.data(), 8, 3); }, -1},
        {"nfsCacheLineWrite buffer", [&] { return nfsCacheLineWrite(file, 0, nullptr, 0, 3); }, -1},
        {"nfsCacheLineFlush", [] { return nfsCacheLineFlush(nullptr, 3); }, -1},
        {"nfsCacheFileFlush", [] { return nfsCacheFileFlush(nullptr, 1, 3); }, -1},
    };
    for (const auto &c : cases) {
        errnoSet(0);
        EXPECT_EQ(c.run(), c.result) << c.call;
        EXPECT_EQ(errnoGet(), NFS_ERRNO_INVAL) << c.call;
    }
    EXPECT_TRUE(server_.calls.empty());
    EXPECT_EQ(nfsCacheLineWrite(file, 0, "a", 1, 3), 1) << "the cache is untouched";
}

TEST_F(CacheAbsent, VersionsWithoutUsableSlotsFail)
{
    allocate(4, 1024);
    NfsOpenFile *file = open(1);
    std::array<char, 8> buf{};
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 8, 5), -1) << "no version 5";
    EXPECT_EQ(errnoGet(), NFS_ERRNO_NOTSUPP);
    EXPECT_EQ(nfsCacheFileFlush(file, 0, 1), -1);
    Nfs2OpenFile asVersion2{}; // a version 2 call takes a version 2 record
    asVersion2.pCache = &cache();
    asVersion2.attr.fileid = 1;
    EXPECT_EQ(nfsCacheLineWrite(&asVersion2, 0, buf.data(), 8, 2), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_DISPATCH_SLOT_EMPTY);

    pFuncNfs3FileRead = nullptr;
    EXPECT_EQ(nfsCacheLineRead(file, 0, buf.data(), 8, 3), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_DISPATCH_SLOT_EMPTY);
    const std::string whole(1024, 'L');
    EXPECT_EQ(nfsCacheLineWrite(file, 1024, whole.data(), 1024, 3), 1024)
        << "a whole line needs no read slot";
    EXPECT_EQ(serverFile(1).substr(1024), whole);

    NfsCacheLine &line = lineOf(1, 1024);
    line.flags = NFS_CACHE_DIRTY;
    EXPECT_EQ(nfsCacheLineFlush(&line, 7), -1);
    EXPECT_EQ(line.flags, static_cast<uint32_t>(NFS_CACHE_DIRTY)) << "not sent: kept";
}

} // namespace
