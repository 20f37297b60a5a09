// The byte-array table: acount slots of alength bytes back to back, each with its current
// length in alengths.
#include "numericTable.h"

#include <quenby/valueStore.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" {
int acount;
int alength;
char *avalues;
int *alengths;
}

namespace {

constexpr char kFillByte = 0x61;

struct FreeBlock {
    void operator()(void *block) const { std::free(block); }
};
template <typename T> using Block = std::unique_ptr<T, FreeBlock>;

template <typename T> Block<T> allocate(std::size_t count)
{
    return Block<T>(static_cast<T *>(std::malloc(count * sizeof(T))));
}

char *slotStart(int index)
{
    return avalues + static_cast<std::size_t>(index) * static_cast<std::size_t>(alength);
}

void tableRelease()
{
    if (acount != 0) {
        std::free(avalues);
        std::free(alengths);
    }
    avalues = nullptr;
    alengths = nullptr;
    acount = 0;
}

// Every slot starts as capacity - 1 bytes 0x61 and a zero byte, its length the whole capacity.
void tableFill(int count, int capacity)
{
    const auto slotBytes = static_cast<std::size_t>(capacity);
    std::memset(avalues, kFillByte, static_cast<std::size_t>(count) * slotBytes);
    for (int slot = 0; slot < count; ++slot) {
        alengths[slot] = capacity;
        slotStart(slot)[slotBytes - 1] = 0;
    }
}

} // namespace

extern "C" {

void setAVal(int index, const char *source, int length)
{
    if (!quenby::indexValid(index, acount) || length <= 0 || source == nullptr)
        return;
    const int copied = std::min(length, alength);
    std::memmove(slotStart(index), source, static_cast<std::size_t>(copied));
    alengths[index] = copied;
}

int getAVal(int index, char *destination, int maximum)
{
    if (!quenby::indexValid(index, acount) || maximum <= 0 || destination == nullptr)
        return 0;
    const int copied = std::min(maximum, alengths[index]);
    std::memmove(destination, slotStart(index), static_cast<std::size_t>(copied));
    return copied;
}

void initializeA(int count, int capacity)
{
    tableRelease();
    // A count of 0 or below leaves the table empty and the capacity as it was.
    if (count <= 0)
        return;
    capacity = std::max(capacity, 1);
    // Both are below 2^31, so the product cannot overflow a 64-bit size.
    auto bytes = allocate<char>(static_cast<std::size_t>(count) * static_cast<std::size_t>(capacity));
    auto lengths = allocate<int>(static_cast<std::size_t>(count));
    // A failed allocation leaves the table empty, as a count of 0 would.
    if (!bytes || !lengths)
        return;
    avalues = bytes.release();
    alengths = lengths.release();
    acount = count;
    alength = capacity;
    tableFill(count, capacity);
}
}
