/* The 8-byte compare-and-swap that the cross toolchain's AddressSanitizer runtime calls on
 * 32-bit PowerPC, where the processor has no such instruction and libatomic offers only the
 * __atomic_ form. Linked into the sanitized test programs. */
#include <stdint.h>

uint64_t __sync_val_compare_and_swap_8(volatile void *where, uint64_t expected, uint64_t desired);

uint64_t __sync_val_compare_and_swap_8(volatile void *where, uint64_t expected, uint64_t desired)
{
    /* On failure the builtin stores the value found into expected; either way it is the old one. */
    __atomic_compare_exchange_n((volatile uint64_t *)where, &expected, desired, 0, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return expected;
}
