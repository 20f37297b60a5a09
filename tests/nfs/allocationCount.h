// Test support: counts the heap allocations the calling thread makes inside a scope. Needs
// the address sanitizer's allocator hooks; elsewhere available() is false.
#ifndef TESTS_NFS_ALLOCATIONCOUNT_H
#define TESTS_NFS_ALLOCATIONCOUNT_H

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's hook interface (its header is not always installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void *, std::size_t),
                                                         void (*onFree)(const volatile void *));
#endif

namespace alloccount {

inline thread_local bool counting = false;
inline thread_local std::size_t allocations = 0;
inline thread_local std::size_t largest = 0;

#if defined(__SANITIZE_ADDRESS__)
inline void onMalloc(const volatile void *, std::size_t size)
{
    if (counting) {
        ++allocations;
        largest = size > largest ? size : largest;
    }
}
inline void onFree(const volatile void *) {}

inline bool available()
{
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
    return installed;
}
#else
inline bool available()
{
    return false;
}
#endif

// Allocations made by this thread while the object lives.
class Scope {
public:
    Scope()
    {
        allocations = 0;
        largest = 0;
        counting = true;
    }
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;
    ~Scope() { counting = false; }
    std::size_t count() const { return allocations; }
    // The size of the largest of them.
    std::size_t largestSize() const { return largest; }
};

} // namespace alloccount

#endif
