// The range set of a lock state: spans by first byte, their last byte inclusive so that a lock
// to the end of the file (the largest byte) needs no length past 2^64.
#include "state/nfs4LockRanges.h"

#include <algorithm>
#include <new>

namespace {

// The inclusive last byte of LENGTH bytes from OFFSET (0: to the end); a length running past
// the largest byte runs to the end.
uint64_t lastOf(uint64_t offset, uint64_t length)
{
    if (length == 0 || length == UINT64_MAX || length - 1 > UINT64_MAX - offset)
        return UINT64_MAX;
    return offset + length - 1;
}

} // namespace

// The spans without the bytes FIRST..LAST, split where they cross it, into INTO.
bool Nfs4LockRanges::cut(uint64_t first, uint64_t last, std::vector<Span> &into) const
{
    try {
        into.reserve(spans_.size() + 1);
        for (const Span &span : spans_) {
            if (span.last < first || span.first > last) {
                into.push_back(span);
                continue;
            }
            if (span.first < first)
                into.push_back(Span{span.type, span.first, first - 1});
            if (span.last > last)
                into.push_back(Span{span.type, last + 1, span.last});
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

bool Nfs4LockRanges::lock(nfs_lock_type4 type, uint64_t offset, uint64_t length)
{
    const nfs_lock_type4 kept = type == READ_LT || type == READW_LT ? READ_LT : WRITE_LT;
    const uint64_t last = lastOf(offset, length);
    std::vector<Span> spans;
    if (!cut(offset, last, spans))
        return false;
    Span added{kept, offset, last};
    // Neighbours of the same type that touch it merge into it.
    std::vector<Span> merged;
    try {
        merged.reserve(spans.size() + 1);
        for (const Span &span : spans) {
            const bool before = span.last != UINT64_MAX && span.last + 1 == added.first;
            const bool after = added.last != UINT64_MAX && added.last + 1 == span.first;
            if (span.type == kept && (before || after)) {
                added.first = std::min(added.first, span.first);
                added.last = std::max(added.last, span.last);
            } else {
                merged.push_back(span);
            }
        }
        const auto at = std::find_if(merged.begin(), merged.end(),
                                     [&added](const Span &span) { return span.first > added.first; });
        merged.insert(at, added);
    } catch (const std::bad_alloc &) {
        return false;
    }
    spans_.swap(merged);
    return true;
}

bool Nfs4LockRanges::unlock(uint64_t offset, uint64_t length)
{
    std::vector<Span> spans;
    if (!cut(offset, lastOf(offset, length), spans))
        return false;
    spans_.swap(spans);
    return true;
}

std::vector<Nfs4HeldRange> Nfs4LockRanges::held() const
{
    std::vector<Nfs4HeldRange> ranges;
    try {
        ranges.reserve(spans_.size());
        for (const Span &span : spans_) {
            const uint64_t length = span.last == UINT64_MAX ? 0 : span.last - span.first + 1;
            ranges.push_back(Nfs4HeldRange{span.type, span.first, length});
        }
    } catch (const std::bad_alloc &) {
        ranges.clear(); // an empty answer rather than a part
    }
    return ranges;
}
