// A module for the shell's tests, declared in no public header: routines that fault, and one
// whose result is wider than 32 bits.
#include <cstdint>
#include <cstdlib>

namespace {
int *volatile nowhere = nullptr;
}

extern "C" {

int shellTestNull(void) { return *nowhere; }

void shellTestAbort(void) { std::abort(); }

intptr_t shellTestWide(void) { return static_cast<intptr_t>(INTPTR_MAX / 3); }

}
