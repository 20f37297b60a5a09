// A device's data cache: allocation, release and the choice of a block's line.
#include "core/nfsArgs.h"
#include "cache/nfsCacheFile.h"
#include "core/nfsHeapBlock.h"

#include <kernel/memLib.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr int kCacheSemOptions = SEM_Q_PRIORITY | SEM_INVERSION_SAFE;
// The largest line: keeps 2 x bytes - 1 and the line size inside 32 bits.
constexpr int kMaxLineBytes = 1 << 30;

// A line holding nothing, over its block of the cache's buffer.
NfsCacheLine freeLine(char *data)
{
    return NfsCacheLine{.pData = data,
                        .nBytes = 0,
                        .fileId = NFS_CACHE_NO_FILE,
                        .offset = 0,
                        .pOwner = nullptr,
                        .flags = 0,
                        .fsId = 0};
}

// The lines' own states, each with its mutex; null when memory or a mutex runs out.
void stateRelease(NfsCacheState *state, uint32_t count)
{
    if (state == nullptr)
        return;
    for (uint32_t i = 0; i < count && state->lines != nullptr; ++i)
        if (state->lines[i].semId != nullptr)
            semDelete(state->lines[i].semId);
    delete[] state->lines;
    delete state;
}

struct StateRelease {
    uint32_t count = 0;
    void operator()(NfsCacheState *state) const { stateRelease(state, count); }
};

NfsCacheState *stateNew(uint32_t count)
{
    auto *state = new (std::nothrow) NfsCacheState;
    if (state == nullptr)
        return nullptr;
    state->lines = new (std::nothrow) NfsCacheLineState[count];
    for (uint32_t i = 0; i < count && state->lines != nullptr; ++i) {
        state->lines[i].semId = semMCreate(kCacheSemOptions);
        if (state->lines[i].semId == nullptr) {
            stateRelease(state, count);
            return nullptr;
        }
    }
    if (state->lines == nullptr) {
        delete state;
        return nullptr;
    }
    return state;
}

void initialiseLines(NfsCacheLine *lines, uint32_t count, char *buffer, uint32_t lineShift)
{
    for (uint32_t i = 0; i < count; ++i)
        lines[i] = freeLine(buffer + (static_cast<std::size_t>(i) << lineShift));
}

} // namespace

namespace nfscache {

void fileLinesDrop(void *file, int version)
{
    FileView view{};
    if (!fileView(file, version, &view).ok() || !hasLines(view.cache))
        return;
    NfsDataCache *cache = view.cache;
    const CacheLock lock(cache);
    if (!lock.held())
        return;
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        // A line of the file that another task moves is waited for: its record is about to go.
        if (line.pOwner == file)
            static_cast<void>(nfscache::lineFree(cache, line, true));
        if (line.pOwner == file) {
            // Nothing of the file's is kept for sending: no line points at a record about to go.
            line = freeLine(line.pData);
        } else if (line.pOwner == nullptr && holdsFileOf(line, view)) {
            line.fileId = NFS_CACHE_NO_FILE;
        }
    }
}

} // namespace nfscache

extern "C" {

int nfsCacheAlloc(NfsDataCache *cache, int count, int bytes, int options)
{
    if (!nfsArgsGiven(cache))
        return -1;
    *cache = NfsDataCache{};
    if (count <= 0 || bytes <= 0 || bytes > kMaxLineBytes)
        return -1;
    const auto lineCount = static_cast<uint32_t>(count);
    const auto lineShift = static_cast<uint32_t>(ffsMsb(2U * static_cast<uint32_t>(bytes) - 1U) - 1);
    // Both products must fit a size_t (32 bits on the target) before anything is allocated.
    std::size_t bufferSize = 0;
    std::size_t linesSize = 0;
    if (__builtin_mul_overflow(std::size_t{lineCount}, std::size_t{1} << lineShift, &bufferSize) ||
        __builtin_mul_overflow(std::size_t{lineCount}, sizeof(NfsCacheLine), &linesSize))
        return -1;

    // Zeroed as it is allocated: where the heap hands out fresh pages already zero, nothing
    // touches the buffer's pages before lines are filled.
    HeapBlock<char> buffer(static_cast<char *>(std::calloc(bufferSize, 1)));
    if (!buffer)
        return -1;
    HeapBlock<NfsCacheLine> lines(static_cast<NfsCacheLine *>(std::malloc(linesSize)));
    if (!lines)
        return -1;
    std::unique_ptr<NfsCacheState, StateRelease> state(stateNew(lineCount), StateRelease{lineCount});
    if (!state)
        return -1;
    const SEM_ID semId = semMCreate(kCacheSemOptions);
    if (semId == nullptr)
        return -1;

    initialiseLines(lines.get(), lineCount, buffer.get(), lineShift);
    *cache = NfsDataCache{.pLines = lines.release(),
                          .pBuffer = buffer.release(),
                          .semId = semId,
                          .options = static_cast<uint32_t>(options),
                          .nLines = lineCount,
                          .lineShift = lineShift,
                          .lineSize = 1U << lineShift,
                          .pState = state.release()};
    return 0;
}

int nfsCacheFree(NfsDataCache *cache)
{
    if (!nfsArgsGiven(cache))
        return -1;
    const SEM_ID semId = cache->semId;
    if (semTake(semId, K_WAIT_FOREVER) != 0)
        return -1;
    std::free(cache->pLines);
    std::free(cache->pBuffer);
    stateRelease(cache->pState, cache->nLines);
    *cache = NfsDataCache{};
    // Deleting the mutex releases it too: waiters see their semTake fail.
    semDelete(semId);
    return 0;
}

uint32_t nfsWhichCacheLine(NfsDataCache *cache, uint64_t fileId, uint64_t offset)
{
    if (!nfsArgsGiven(cache))
        return 0;
    if (cache->nLines == 0)
        return 0; // no line to choose; the callers refuse such a cache before using the index
    const uint64_t block = offset >> cache->lineShift;
    // A multiplier never equal to the line count spreads files over the lines.
    const uint32_t multiplier = cache->nLines == 127 ? 131U : 127U;
    const uint32_t spread = static_cast<uint32_t>(block) + static_cast<uint32_t>(fileId * multiplier);
    return spread % cache->nLines;
}

// Under the cache's mutex, since other tasks may be using lines of the same cache.
void nfsCacheFileInvalidate(NfsDataCache *cache, uint64_t fileId)
{
    if (!nfsArgsGiven(cache))
        return;
    if (!nfscache::hasLines(cache))
        return;
    const nfscache::CacheLock lock(cache);
    if (!lock.held())
        return;
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        if (line.fileId == fileId && nfscache::lineFree(cache, line).ok() && line.fileId == fileId)
            line.fileId = NFS_CACHE_NO_FILE;
    }
}
}
