// The store's load-time initialiser: the three tables with their first sizes and contents.
#include <quenby/valueStore.h>

namespace {

constexpr int kIntegerSlots = 2000;
constexpr int kDoubleSlots = 2000;
constexpr int kArraySlots = 1000;
constexpr int kArrayCapacity = 10000;

} // namespace

extern "C" __attribute__((constructor)) void ketTestInit(void)
{
    // Zeroing each count first makes each initialise call start without freeing anything.
    icount = 0;
    initializeI(kIntegerSlots);
    dcount = 0;
    initializeD(kDoubleSlots);
    acount = 0;
    initializeA(kArraySlots, kArrayCapacity);
}
