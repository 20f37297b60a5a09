// The integer and double tables work alike: a count and a block of that many zeroed slots.
#ifndef QUENBY_NUMERICTABLE_H
#define QUENBY_NUMERICTABLE_H

#include <cstdlib>

namespace quenby {

// Frees the old block and makes a new one of `count` zeroed slots. A count of 0 or below, or an
// allocation that fails, leaves the table empty: count 0 and a null block, which no operation
// ever reads.
template <typename Value> void numericTableRecreate(int &count, Value *&values, int newCount)
{
    if (count != 0)
        std::free(values);
    values = nullptr;
    count = 0;
    if (newCount <= 0)
        return;
    void *block = std::calloc(static_cast<std::size_t>(newCount), sizeof(Value));
    if (block == nullptr)
        return;
    values = static_cast<Value *>(block);
    count = newCount;
}

inline bool indexValid(int index, int count)
{
    return index >= 0 && index < count;
}

} // namespace quenby

#endif
