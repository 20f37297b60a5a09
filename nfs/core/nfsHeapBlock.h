// Module-private: a heap block (malloc, calloc) held until handed over, freed otherwise.
#ifndef NFS_CORE_NFSHEAPBLOCK_H
#define NFS_CORE_NFSHEAPBLOCK_H

#include <cstddef>
#include <cstdlib>
#include <memory>

struct NfsFreeDeleter {
    void operator()(void *block) const { std::free(block); }
};
template <typename T> using HeapBlock = std::unique_ptr<T, NfsFreeDeleter>;

// A zeroed block of size bytes (one T by default); empty when memory runs out.
template <typename T> HeapBlock<T> heapBlock(std::size_t size = sizeof(T))
{
    return HeapBlock<T>(static_cast<T *>(std::calloc(1, size)));
}

#endif
