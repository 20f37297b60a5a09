// A module for the shell's tests, declared in no public header: routines that fault, one
// whose result is wider than 32 bits, and the write-back routine the shell calls at its end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
int *volatile nowhere = nullptr;
}

extern "C" {

int shellTestNull(void)
{
    return *nowhere;
}

void shellTestAbort(void)
{
    std::abort();
}

intptr_t shellTestWide(void)
{
    return static_cast<intptr_t>(INTPTR_MAX / 3);
}

int nfsSyncAll(void)
{
    return std::printf("nfsSyncAll called\n") > 0 ? 0 : -1;
}
}
