// Counts the heap allocations of one thread. Under the address sanitizer its allocator hooks
// tell; otherwise this program's own malloc, calloc and realloc stand in front of the C
// library's, which every shared object then reaches through them.
#include "benchSupport.h"

#include <cstddef>

namespace {

thread_local bool counting = false;
thread_local std::size_t allocations = 0;

void noteAllocation()
{
    if (counting)
        ++allocations;
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void *, std::size_t),
                                                         void (*onFree)(const volatile void *));
namespace {
void onMalloc(const volatile void *, std::size_t)
{
    noteAllocation();
}
void onFree(const volatile void *) {}
} // namespace

bool bench::allocationsCountable()
{
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
    return installed;
}
#else
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);

void *malloc(std::size_t size) noexcept
{
    noteAllocation();
    return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size) noexcept
{
    noteAllocation();
    return __libc_calloc(count, size);
}
void *realloc(void *block, std::size_t size) noexcept
{
    noteAllocation();
    return __libc_realloc(block, size);
}
}

bool bench::allocationsCountable()
{
    return true;
}
#endif

void bench::allocationsStart()
{
    allocations = 0;
    counting = true;
}

std::size_t bench::allocationsStop()
{
    counting = false;
    return allocations;
}
