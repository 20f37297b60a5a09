// Memory partitions: the system partition is the host heap.
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/memLib.h>

#include <atomic>
#include <cstdlib>

struct MemPartition {
    int unused;
};

namespace {
MemPartition systemPartition{};
std::atomic<int> failuresPending{0};

bool takePendingFailure()
{
    int pending = failuresPending.load();
    while (pending > 0) {
        if (failuresPending.compare_exchange_weak(pending, pending - 1))
            return true;
    }
    return false;
}
} // namespace

extern "C" {

PART_ID memSysPartId = &systemPartition;

void *memPartAlloc(PART_ID partId, size_t nBytes)
{
    if (partId == nullptr || takePendingFailure()) {
        errnoSet(K_ENOMEM);
        return nullptr;
    }
    void *block = std::malloc(nBytes == 0 ? 1 : nBytes);
    if (block == nullptr)
        errnoSet(K_ENOMEM);
    return block;
}

int memPartFree(PART_ID partId, void *pBlock)
{
    if (partId == nullptr)
        return -1;
    std::free(pBlock);
    return 0;
}

void memPartFailNext(int count)
{
    failuresPending.store(count < 0 ? 0 : count);
}

int ffsMsb(uint32_t value)
{
    int index = 0;
    while (value != 0) {
        ++index;
        value >>= 1;
    }
    return index;
}
}
