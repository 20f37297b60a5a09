// The range set a version 4 lock state keeps for its reclaim: each row a run of grants and
// releases and the ranges POSIX leaves held after it.
#include "state/nfs4LockRanges.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kEnd = 0; // a length to the end of the file

struct Step {
    char what; // 'R' read lock, 'W' write lock, 'U' unlock
    uint64_t offset;
    uint64_t length;
};

struct RangeCase {
    const char *name;
    std::vector<Step> steps;
    std::vector<Nfs4HeldRange> held;
};

std::string shown(const std::vector<Nfs4HeldRange> &ranges)
{
    std::string text;
    for (const Nfs4HeldRange &range : ranges)
        text += std::string(range.type == READ_LT ? "R" : "W") + "(" + std::to_string(range.offset) + "," +
                std::to_string(range.length) + ") ";
    return text;
}

TEST(Nfs4LockRanges, PosixMergesAndSplits)
{
    const std::vector<RangeCase> cases = {
        {"one lock", {{'W', 10, 5}}, {{WRITE_LT, 10, 5}}},
        {"touching locks of a type merge", {{'R', 0, 10}, {'R', 10, 10}}, {{READ_LT, 0, 20}}},
        {"touching from below merge", {{'R', 10, 10}, {'R', 0, 10}}, {{READ_LT, 0, 20}}},
        {"overlapping locks merge", {{'W', 0, 10}, {'W', 5, 10}}, {{WRITE_LT, 0, 15}}},
        {"a gap keeps them apart", {{'W', 0, 10}, {'W', 11, 4}}, {{WRITE_LT, 0, 10}, {WRITE_LT, 11, 4}}},
        {"touching of two types stay apart", {{'R', 0, 10}, {'W', 10, 5}}, {{READ_LT, 0, 10}, {WRITE_LT, 10, 5}}},
        {"a write in a read splits it",
         {{'R', 0, 30}, {'W', 10, 5}},
         {{READ_LT, 0, 10}, {WRITE_LT, 10, 5}, {READ_LT, 15, 15}}},
        {"a read over a write replaces it", {{'W', 10, 5}, {'R', 0, 100}}, {{READ_LT, 0, 100}}},
        {"a lock bridging two merges all", {{'W', 0, 5}, {'W', 10, 5}, {'W', 5, 5}}, {{WRITE_LT, 0, 15}}},
        {"an unlock in the middle splits", {{'W', 0, 30}, {'U', 10, 10}}, {{WRITE_LT, 0, 10}, {WRITE_LT, 20, 10}}},
        {"an unlock of the whole empties", {{'W', 0, 30}, {'R', 40, 2}, {'U', 0, kEnd}}, {}},
        {"an unlock of nothing held", {{'W', 0, 10}, {'U', 20, 5}}, {{WRITE_LT, 0, 10}}},
        {"to the end", {{'W', 100, kEnd}}, {{WRITE_LT, 100, kEnd}}},
        {"to the end cut below", {{'W', 0, kEnd}, {'U', 0, 50}}, {{WRITE_LT, 50, kEnd}}},
        {"to the end cut in the middle",
         {{'R', 0, kEnd}, {'U', 10, 10}},
         {{READ_LT, 0, 10}, {READ_LT, 20, kEnd}}},
        {"to the end merges with one below", {{'W', 0, 10}, {'W', 10, kEnd}}, {{WRITE_LT, 0, kEnd}}},
        {"the wire's to-the-end length", {{'W', 7, UINT64_MAX}}, {{WRITE_LT, 7, kEnd}}},
        {"the last byte alone", {{'W', UINT64_MAX, 1}}, {{WRITE_LT, UINT64_MAX, kEnd}}},
        {"a length past the largest byte runs to the end", {{'W', 10, UINT64_MAX - 5}}, {{WRITE_LT, 10, kEnd}}},
    };
    for (const RangeCase &row : cases) {
        Nfs4LockRanges ranges;
        for (const Step &step : row.steps) {
            if (step.what == 'U')
                ASSERT_TRUE(ranges.unlock(step.offset, step.length)) << row.name;
            else
                ASSERT_TRUE(ranges.lock(step.what == 'R' ? READ_LT : WRITE_LT, step.offset, step.length))
                    << row.name;
        }
        EXPECT_EQ(shown(ranges.held()), shown(row.held)) << row.name;
        EXPECT_EQ(ranges.empty(), row.held.empty()) << row.name;
    }
}

TEST(Nfs4LockRanges, WaitingTypesAreKeptAsTheirLocks)
{
    Nfs4LockRanges ranges;
    ASSERT_TRUE(ranges.lock(READW_LT, 0, 4));
    ASSERT_TRUE(ranges.lock(WRITEW_LT, 4, 4));
    EXPECT_EQ(shown(ranges.held()), shown({{READ_LT, 0, 4}, {WRITE_LT, 4, 4}}));
}

} // namespace
