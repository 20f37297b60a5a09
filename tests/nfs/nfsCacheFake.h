// Test support for the data cache: a device and open files built by hand, and fake version 3
// read and write slots over in-memory files, recording every call and failing on demand.
#ifndef TESTS_NFS_NFSCACHEFAKE_H
#define TESTS_NFS_NFSCACHEFAKE_H

#include "core/nfsDispatch.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/errnoLib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cachefake {

struct SlotCall {
    bool write;
    uint64_t fileId;
    uint64_t offset;
    unsigned count;
};

// The server side: one byte vector per file id, or per handle for files that have one.
struct FakeServer {
    std::map<uint64_t, std::vector<char>> files;
    std::map<std::string, std::vector<char>> byHandle;
    std::vector<SlotCall> calls;
    int failReads = 0;                 // the next n reads fail
    int failWrites = 0;                // the next n writes fail
    unsigned bytesBeforeFailure = 0;   // a failing read first lands this many of the file's bytes
    uint64_t failReadAt = UINT64_MAX;  // every read at this offset fails
    uint64_t failWriteAt = UINT64_MAX; // every write at this offset fails
    int failErrno = 0;                 // the error number a failing write sets (0: none)

    std::size_t count(bool write) const
    {
        return static_cast<std::size_t>(std::count_if(
            calls.begin(), calls.end(), [write](const SlotCall &c) { return c.write == write; }));
    }
    // The offsets of the reads or writes, in the order they were made.
    std::vector<uint64_t> offsets(bool write) const
    {
        std::vector<uint64_t> seen;
        for (const SlotCall &c : calls)
            if (c.write == write)
                seen.push_back(c.offset);
        return seen;
    }
};

inline FakeServer *server = nullptr;

inline std::vector<char> &fileOf(const nfs_fh3 *fh, const fattr3 *attr)
{
    if (fh->data.data_len == 0)
        return server->files[attr->fileid];
    return server->byHandle[std::string(fh->data.data_val, fh->data.data_len)];
}

inline int fakeRead(const char *, nfs_fh3 *fh, uint64_t offset, unsigned count, char *buf, fattr3 *attr)
{
    server->calls.push_back({false, attr->fileid, offset, count});
    const std::vector<char> &data = fileOf(fh, attr);
    if (offset >= data.size())
        offset = data.size(); // past the end: nothing to read, and the offset fits a size_t
    const auto at = static_cast<std::size_t>(offset);
    if (server->failReads > 0 || offset == server->failReadAt) {
        server->failReads -= server->failReads > 0 ? 1 : 0;
        // A transfer cut off part-way: some bytes are already in the buffer.
        if (at < data.size())
            std::memcpy(buf, data.data() + at,
                        std::min<std::size_t>({server->bytesBeforeFailure, count, data.size() - at}));
        return -1;
    }
    if (at >= data.size())
        return 0;
    const std::size_t n = std::min<std::size_t>(count, data.size() - at);
    std::memcpy(buf, data.data() + at, n);
    return static_cast<int>(n);
}

inline NfsWriteResult fakeWrite(const char *, nfs_fh3 *fh, uint64_t offset, unsigned count, const char *buf,
                                fattr3 *attr)
{
    server->calls.push_back({true, attr->fileid, offset, count});
    if (server->failWrites > 0 || offset == server->failWriteAt) {
        server->failWrites -= server->failWrites > 0 ? 1 : 0;
        if (server->failErrno != 0)
            errnoSet(server->failErrno);
        return {-1, {}};
    }
    std::vector<char> &data = fileOf(fh, attr);
    const auto at = static_cast<std::size_t>(offset); // the tests keep files small
    if (data.size() < at + count)
        data.resize(at + count);
    std::memcpy(data.data() + at, buf, count);
    return {static_cast<int>(count), {}};
}

// The ranges slots over the single-range fakes, one call per range in order.
inline void fakeReadRanges(const char *host, nfs_fh3 *fh, NfsReadRange *ranges, unsigned n, fattr3 *attr)
{
    for (unsigned i = 0; i < n; ++i) {
        ranges[i].received = fakeRead(host, fh, ranges[i].offset, ranges[i].count, ranges[i].buf, attr);
        ranges[i].error = ranges[i].received < 0 ? 5 : 0;
    }
}

inline void fakeWriteRanges(const char *host, nfs_fh3 *fh, NfsWriteRange *ranges, unsigned n, fattr3 *attr)
{
    for (unsigned i = 0; i < n; ++i) {
        ranges[i].result = fakeWrite(host, fh, ranges[i].offset, ranges[i].count, ranges[i].buf, attr);
        ranges[i].error = ranges[i].result.written < 0 ? 5 : 0;
    }
}

// A device with a cache of the given geometry and the fake slots installed; restores the
// slots it replaced.
class CacheFixture : public testing::Test {
protected:
    void SetUp() override
    {
        savedRead_ = pFuncNfs3FileRead;
        savedWrite_ = pFuncNfs3FileWriteRun;
        savedReadRanges_ = pFuncNfs3FileReadRanges;
        savedWriteRanges_ = pFuncNfs3FileWriteRanges;
        pFuncNfs3FileRead = fakeRead;
        pFuncNfs3FileWriteRun = fakeWrite;
        pFuncNfs3FileReadRanges = fakeReadRanges;
        pFuncNfs3FileWriteRanges = fakeWriteRanges;
        server = &server_;
        device_ = std::make_unique<NfsDevice>();
        std::strcpy(device_->host, "fake");
    }
    void TearDown() override
    {
        if (device_->cache.semId != nullptr)
            nfsCacheFree(&device_->cache);
        pFuncNfs3FileRead = savedRead_;
        pFuncNfs3FileWriteRun = savedWrite_;
        pFuncNfs3FileReadRanges = savedReadRanges_;
        pFuncNfs3FileWriteRanges = savedWriteRanges_;
        server = nullptr;
    }

    void allocate(int lines, int bytes, int options = 0)
    {
        ASSERT_EQ(nfsCacheAlloc(&device_->cache, lines, bytes, options), 0);
    }

    NfsOpenFile *open(uint64_t fileId)
    {
        auto file = std::make_unique<NfsOpenFile>();
        file->pDev = device_.get();
        file->pCache = &device_->cache;
        file->attr.fileid = fileId;
        files_.push_back(std::move(file));
        return files_.back().get();
    }

    NfsDataCache &cache() { return device_->cache; }
    NfsCacheLine &lineOf(uint64_t fileId, uint64_t offset)
    {
        return cache().pLines[nfsWhichCacheLine(&cache(), fileId, offset)];
    }
    void serverHolds(uint64_t fileId, const std::string &text)
    {
        server_.files[fileId].assign(text.begin(), text.end());
    }
    std::string serverFile(uint64_t fileId) const
    {
        const auto found = server_.files.find(fileId);
        return found == server_.files.end() ? std::string()
                                            : std::string(found->second.begin(), found->second.end());
    }

    FakeServer server_;

private:
    std::unique_ptr<NfsDevice> device_;
    std::vector<std::unique_ptr<NfsOpenFile>> files_;
    NfsFileRead3Fn savedRead_ = nullptr;
    NfsFileWriteRun3Fn savedWrite_ = nullptr;
    NfsFileReadRanges3Fn savedReadRanges_ = nullptr;
    NfsFileWriteRanges3Fn savedWriteRanges_ = nullptr;
};

} // namespace cachefake

#endif
