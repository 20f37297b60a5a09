// Hand-built XDR byte streams and encode/decode helpers for the XDR routine tests.
#ifndef TESTS_NFS_XDRTESTWIRE_H
#define TESTS_NFS_XDRTESTWIRE_H

#include "nfs/allocationCount.h"

#include <gtest/gtest.h>
#include <rpc/rpc.h>

#include <cstddef>
#include <functional>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace xdrtest {

using Bytes = std::vector<char>;

// Builds big-endian XDR words by hand, independent of the routines under test.
class Wire {
public:
    Wire &u32(uint32_t v)
    {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes_.push_back(static_cast<char>((v >> shift) & 0xFF));
        }
        return *this;
    }
    Wire &u64(uint64_t v) { return u32(static_cast<uint32_t>(v >> 32)).u32(static_cast<uint32_t>(v)); }
    Wire &fixed(const std::string &raw)
    {
        bytes_.insert(bytes_.end(), raw.begin(), raw.end());
        while (bytes_.size() % 4 != 0) {
            bytes_.push_back(0);
        }
        return *this;
    }
    // Variable-length opaque or string: length word, bytes, zero padding.
    Wire &var(const std::string &raw) { return u32(static_cast<uint32_t>(raw.size())).fixed(raw); }
    Wire &append(const Wire &other)
    {
        bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
        return *this;
    }
    const Bytes &bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

// An fattr3 whose 64-bit members all exceed 2^32, as the wire carries it.
inline Wire fattr3Wire(uint32_t type)
{
    return Wire()
        .u32(type)
        .u32(0644)
        .u32(3)
        .u32(2001)
        .u32(100)
        .u64(0x123456789ULL)
        .u64(0x200000000ULL)
        .u32(7)
        .u32(9)
        .u64(0xFEDCBA9876543210ULL)
        .u64(0x100000001ULL)
        .u32(11)
        .u32(12)
        .u32(13)
        .u32(14)
        .u32(15)
        .u32(16);
}

// Decodes exactly the given bytes; the copy is sized to them so that ASan sees any overread.
// consumed receives the stream position afterwards.
template <typename T> bool decode(xdrproc_t proc, const Bytes &bytes, T *out, u_int *consumed = nullptr)
{
    Bytes copy(bytes);
    XDR xdrs;
    xdrmem_create(&xdrs, copy.data(), static_cast<u_int>(copy.size()), XDR_DECODE);
    const bool ok = proc(&xdrs, out) != 0;
    if (consumed != nullptr) {
        *consumed = xdr_getpos(&xdrs);
    }
    xdr_destroy(&xdrs);
    return ok;
}

// Encodes into a buffer of the given room; an empty result with ok false means it failed.
template <typename T> Bytes encode(xdrproc_t proc, T *in, bool *ok = nullptr, u_int room = 1 << 16)
{
    Bytes buffer(room);
    XDR xdrs;
    xdrmem_create(&xdrs, buffer.data(), room, XDR_ENCODE);
    const bool done = proc(&xdrs, in) != 0;
    buffer.resize(done ? xdr_getpos(&xdrs) : 0);
    xdr_destroy(&xdrs);
    if (ok != nullptr) {
        *ok = done;
    }
    return buffer;
}

template <typename T> void release(xdrproc_t proc, T *obj)
{
    xdr_free(proc, reinterpret_cast<char *>(obj));
}

// Every proper prefix of a valid stream fails to decode, and the free pass that follows (as the
// RPC path runs it after a decode failure) releases all that was decoded. prepare sets up the
// caller's buffers in a zeroed object; ASan reports a leak, a double free or a freed buffer.
template <typename T, typename Prepare>
size_t failuresOverEveryCut(xdrproc_t proc, const Bytes &full, Prepare prepare)
{
    size_t failures = 0;
    for (size_t cut = 0; cut < full.size(); ++cut) {
        T obj{};
        prepare(obj);
        const Bytes part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        if (!decode(proc, part, &obj)) {
            ++failures;
        }
        release(proc, &obj);
    }
    return failures;
}

// Decodes a reply into a fresh T and releases it; true when the decode succeeded.
template <typename T> std::function<bool(const Bytes &)> decoderOf(xdrproc_t proc)
{
    return [proc](const Bytes &bytes) {
        T obj{};
        const bool ok = decode(proc, bytes, &obj);
        release(proc, &obj);
        return ok;
    };
}

// One variable-length item of a reply: before(n) is the reply up to the item's length word
// when the item claims n, after what follows the item, which is n bytes (or n words).
struct BoundedItem {
    const char *name;
    std::function<bool(const Bytes &)> decodes;
    std::function<Wire(u_int)> before;
    Wire after;
    u_int limit;
    bool words = false;
};

// At the limit the reply decodes and one more fails; a forged length near 4 GiB in a short
// reply fails without the decoder asking the allocator for anything large.
inline void expectBounded(const BoundedItem &item)
{
    auto reply = [&item](u_int n) {
        Wire wire = item.before(n).u32(n).fixed(std::string(item.words ? 4 * n : n, '\1'));
        return wire.append(item.after).bytes();
    };
    EXPECT_TRUE(item.decodes(reply(item.limit))) << item.name;
    EXPECT_FALSE(item.decodes(reply(item.limit + 1))) << item.name;
    const alloccount::Scope allocations;
    EXPECT_FALSE(item.decodes(item.before(0xFFFFFFFC).u32(0xFFFFFFFC).fixed("abcd").bytes())) << item.name;
    EXPECT_TRUE(!alloccount::available() || allocations.largestSize() < 4096) << item.name;
}

} // namespace xdrtest

// Any filter routine as the library's procedure type.
#define XDRPROC(routine) reinterpret_cast<xdrproc_t>(routine)

#endif
