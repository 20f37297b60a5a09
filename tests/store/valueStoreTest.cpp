// The value store: the tables as loading leaves them, the set and get operations at and past
// their bounds, and re-initialising with odd sizes. Each test starts from the tables as loaded.
#include <quenby/valueStore.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

// A failed allocation must come back as a null pointer here too, not end the run.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

constexpr int kSlots = 2000;
constexpr int kArrays = 1000;
constexpr int kCapacity = 10000;

std::vector<char> loadedSlot()
{
    std::vector<char> slot(kCapacity, 'a');
    slot.back() = 0;
    return slot;
}

class ValueStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        initializeI(kSlots);
        initializeD(kSlots);
        initializeA(kArrays, kCapacity);
    }
};

// Taken by the suite's first test, once main runs: every static initialiser, the module's
// among them, has run by then in whatever order, and no test has changed the tables yet.
struct LoadedTables {
    int integerCount = icount;
    int doubleCount = dcount;
    int arrayCount = acount;
    int arrayCapacity = alength;
    bool integersZero = true;
    bool doublesZero = true;
    bool arraysAsLoaded = true;

    LoadedTables()
    {
        for (int i = 0; i < icount; ++i)
            integersZero = integersZero && ivalues[i] == 0;
        for (int i = 0; i < dcount; ++i)
            doublesZero = doublesZero && dvalues[i] == 0.0;
        const std::vector<char> expected = loadedSlot();
        for (int slot = 0; slot < acount && alength == kCapacity; ++slot)
            arraysAsLoaded = arraysAsLoaded && alengths[slot] == kCapacity &&
                             std::memcmp(avalues + static_cast<std::ptrdiff_t>(slot) * kCapacity,
                                         expected.data(), kCapacity) == 0;
    }
};

TEST(ValueStoreLoading, CreatesTheInitialTables)
{
    const LoadedTables loaded;
    EXPECT_EQ(loaded.integerCount, kSlots);
    EXPECT_EQ(loaded.doubleCount, kSlots);
    EXPECT_EQ(loaded.arrayCount, kArrays);
    EXPECT_EQ(loaded.arrayCapacity, kCapacity);
    EXPECT_TRUE(loaded.integersZero);
    EXPECT_TRUE(loaded.doublesZero);
    EXPECT_TRUE(loaded.arraysAsLoaded);
}

TEST_F(ValueStore, IntegersIgnoreIndexesOutsideTheTable)
{
    for (const int index : {kSlots, -1, INT_MIN, INT_MAX})
        EXPECT_EQ(getNIVal(index), 0) << index;
    setNIVal(kSlots, 5);
    setNIVal(-1, 5);
    EXPECT_EQ(getNIVal(kSlots), 0);
    EXPECT_EQ(getNIVal(kSlots - 1), 0);
    EXPECT_EQ(getNIVal(0), 0);

    setNIVal(0, -7);
    setNIVal(kSlots - 1, INT_MIN);
    EXPECT_EQ(getNIVal(0), -7);
    EXPECT_EQ(ivalues[0], -7);
    EXPECT_EQ(getNIVal(kSlots - 1), INT_MIN);
    EXPECT_EQ(getNIVal(1), 0);
}

TEST_F(ValueStore, DoublesIgnoreIndexesOutsideTheTable)
{
    EXPECT_EQ(getNDVal(kSlots - 1), 0.0);
    setNDVal(kSlots - 1, 2.5);
    EXPECT_EQ(getNDVal(kSlots - 1), 2.5);
    EXPECT_EQ(dvalues[kSlots - 1], 2.5);
    setNDVal(kSlots, 9.0);
    setNDVal(-1, 9.0);
    EXPECT_EQ(getNDVal(kSlots), 0.0);
    EXPECT_EQ(getNDVal(-1), 0.0);
    EXPECT_EQ(getNDVal(kSlots - 2), 0.0);
}

TEST_F(ValueStore, GetAValCopiesAtMostTheRecordedLengthAndTheMaximum)
{
    std::vector<char> buffer(20000, 0x7F);
    EXPECT_EQ(getAVal(0, buffer.data(), 20000), kCapacity);
    const std::vector<char> expected = loadedSlot();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
    EXPECT_EQ(buffer[kCapacity], 0x7F); // nothing past the copied bytes

    std::fill(buffer.begin(), buffer.end(), 0x7F);
    EXPECT_EQ(getAVal(kArrays - 1, buffer.data(), 5), 5);
    EXPECT_EQ(std::string(buffer.data(), 6), "aaaaa\x7F");

    for (const int maximum : {0, -1, INT_MIN})
        EXPECT_EQ(getAVal(0, buffer.data(), maximum), 0) << maximum;
    for (const int index : {kArrays, -1})
        EXPECT_EQ(getAVal(index, buffer.data(), 100), 0) << index;
    EXPECT_EQ(getAVal(0, nullptr, 100), 0);
}

TEST_F(ValueStore, SetAValClipsToTheCapacityAndKeepsOlderBytes)
{
    std::vector<char> source(15000);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<char>('A' + i % 26);
    setAVal(3, source.data(), 15000);
    EXPECT_EQ(alengths[3], kCapacity);
    std::vector<char> buffer(20000);
    ASSERT_EQ(getAVal(3, buffer.data(), 20000), kCapacity);
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + kCapacity, buffer.begin()));
    // The neighbours are untouched.
    EXPECT_EQ(avalues[4 * kCapacity], 'a');
    EXPECT_EQ(avalues[3 * kCapacity - 1], 0);

    setAVal(3, "xyz", 3);
    std::fill(buffer.begin(), buffer.end(), 0);
    ASSERT_EQ(getAVal(3, buffer.data(), 100), 3);
    EXPECT_EQ(std::string(buffer.data(), 4), std::string("xyz\0", 4));
    EXPECT_TRUE(std::equal(source.begin() + 3, source.begin() + kCapacity, avalues + 3 * kCapacity + 3));

    for (const int length : {0, -1, INT_MIN})
        setAVal(3, "qq", length);
    setAVal(kArrays, "qq", 2);
    setAVal(-1, "qq", 2);
    setAVal(3, nullptr, 2);
    EXPECT_EQ(alengths[3], 3);
    EXPECT_EQ(std::string(avalues + 3 * kCapacity, 3), "xyz");
}

TEST_F(ValueStore, InitializeAWithSmallCapacitiesUsesOneByteSlots)
{
    for (const int capacity : {0, -5, 1}) {
        initializeA(5, capacity);
        ASSERT_EQ(acount, 5);
        ASSERT_EQ(alength, 1);
        char byte = 0x7F;
        for (int slot = 0; slot < 5; ++slot) {
            EXPECT_EQ(alengths[slot], 1);
            EXPECT_EQ(getAVal(slot, &byte, 10), 1);
            EXPECT_EQ(byte, 0);
        }
        setAVal(4, "zz", 2);
        EXPECT_EQ(getAVal(4, &byte, 10), 1);
        EXPECT_EQ(byte, 'z');
    }
}

TEST_F(ValueStore, ACountOfZeroEmptiesATableUntilTheNextInitialize)
{
    initializeI(0);
    EXPECT_EQ(icount, 0);
    EXPECT_EQ(ivalues, nullptr);
    setNIVal(0, 4);
    EXPECT_EQ(getNIVal(0), 0);
    initializeI(10);
    EXPECT_EQ(icount, 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(getNIVal(i), 0);
    setNIVal(9, 4);
    EXPECT_EQ(getNIVal(9), 4);
    EXPECT_EQ(getNIVal(10), 0);

    initializeD(0);
    EXPECT_EQ(dvalues, nullptr);
    EXPECT_EQ(getNDVal(0), 0.0);

    initializeA(0, 50);
    EXPECT_EQ(acount, 0);
    EXPECT_EQ(avalues, nullptr);
    EXPECT_EQ(alengths, nullptr);
    EXPECT_EQ(alength, kCapacity); // the capacity stays as it was
    char byte = 0;
    EXPECT_EQ(getAVal(0, &byte, 1), 0);
}

TEST_F(ValueStore, NegativeCountsEmptyTheTable)
{
    initializeI(-5);
    initializeD(INT_MIN);
    initializeA(-3, 10);
    EXPECT_EQ(icount, 0);
    EXPECT_EQ(ivalues, nullptr);
    EXPECT_EQ(dcount, 0);
    EXPECT_EQ(dvalues, nullptr);
    EXPECT_EQ(acount, 0);
    EXPECT_EQ(avalues, nullptr);
    EXPECT_EQ(alength, kCapacity);
    setNIVal(0, 1);
    setNDVal(0, 1.0);
    setAVal(0, "a", 1);
    EXPECT_EQ(getNIVal(0), 0);
    EXPECT_EQ(getNDVal(0), 0.0);
}

TEST_F(ValueStore, AnAllocationThatFailsLeavesAnEmptyTable)
{
    setAVal(0, "keep", 4);
    initializeA(INT_MAX, INT_MAX); // about 4.6e18 bytes: no allocator gives that
    EXPECT_EQ(acount, 0);
    EXPECT_EQ(avalues, nullptr);
    EXPECT_EQ(alengths, nullptr);
    EXPECT_EQ(alength, kCapacity);
    char byte = 0;
    setAVal(0, "b", 1);
    EXPECT_EQ(getAVal(0, &byte, 1), 0);

    initializeA(2, 3); // and the table can be made again afterwards
    EXPECT_EQ(getAVal(1, &byte, 1), 1);
    EXPECT_EQ(byte, 'a');
}

} // namespace
