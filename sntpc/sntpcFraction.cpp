// The fraction of a second in nanoseconds, with 32-bit multiplications and divisions only:
// the fraction times 0.2328306437 (10^9 / 2^32), one decimal digit at a time.
#include <tovelle/sntpcLib.h>

#include <array>
#include <cstdint>

namespace {

constexpr std::array<uint32_t, 10> kDigits{2, 3, 2, 8, 3, 0, 6, 4, 3, 7};
// Below this every digit times the fraction fits in 32 bits.
constexpr uint32_t kScaleLimit = 0x10000000u;
constexpr uint32_t kTen = 10;

} // namespace

extern "C" uint32_t sntpcFractionToNsec(uint32_t fraction)
{
    const bool scaled = fraction >= kScaleLimit;
    if (scaled)
        fraction /= kTen;

    uint32_t sum = 0;
    uint32_t divisor = 1;
    for (const uint32_t digit : kDigits) {
        // The tenth divisor wraps to 10^10 mod 2^32; the listed results depend on it.
        divisor *= kTen;
        sum += digit * fraction / divisor;
    }
    return scaled ? sum * kTen : sum;
}
