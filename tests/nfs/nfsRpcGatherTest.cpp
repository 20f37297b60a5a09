// The gathering encoder: the message it lists (the buffer's bytes with the large pieces between
// them) is byte for byte the copying encoder's, from whatever point a partial send resumes.
#include "rpc/nfsRpcGather.h"

#include <gtest/gtest.h>

#include <rpc/rpc.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

// Arguments of several opaque pieces, each with its length word and padding.
struct Pieces {
    std::vector<std::string> bytes;
};

bool_t encodePieces(XDR *xdrs, Pieces *pieces)
{
    for (std::string &piece : pieces->bytes) {
        char *at = piece.data();
        auto length = static_cast<u_int>(piece.size());
        if (!xdr_bytes(xdrs, &at, &length, length))
            return FALSE;
    }
    return TRUE;
}

struct Message {
    std::vector<char> plain;
    std::vector<char> buffer;
    NfsRpcGathered gathered;
    u_int plainLength = 0;
    u_int gatheredLength = 0;
};

Message encodeBoth(Pieces *pieces, u_int room)
{
    AUTH *auth = authnone_create();
    NfsRpcExchange call{};
    call.auth = auth;
    call.prog = 100003;
    call.vers = 3;
    call.proc = 7;
    call.inproc = reinterpret_cast<xdrproc_t>(encodePieces);
    call.in = pieces;
    Message m;
    m.plain.resize(room);
    m.buffer.resize(room);
    m.plainLength = nfsRpcEncodeCall(call, 0x1234, m.plain.data(), room);
    m.gatheredLength = nfsRpcEncodeGathered(call, 0x1234, m.buffer.data(), room, &m.gathered);
    auth_destroy(auth);
    return m;
}

// The bytes the iovec entries from SKIP on hold, joined.
std::vector<char> joined(const Message &m, std::size_t skip)
{
    iovec iov[kMostGatherIov];
    const int n = nfsRpcGatherIov(m.buffer.data(), m.gathered, skip, iov);
    std::vector<char> bytes;
    for (int i = 0; i < n; ++i) {
        EXPECT_NE(iov[i].iov_len, 0u) << "entry " << i;
        const char *from = static_cast<const char *>(iov[i].iov_base);
        bytes.insert(bytes.end(), from, from + iov[i].iov_len);
    }
    return bytes;
}

std::string filled(std::size_t n, int seed)
{
    std::string s(n, '\0');
    std::iota(s.begin(), s.end(), static_cast<char>(seed));
    return s;
}

TEST(RpcGather, TheGatheredMessageIsTheCopiedOneFromEveryResumingPoint)
{
    struct Case {
        const char *what;
        std::vector<std::size_t> lengths;
        std::size_t piecesReferenced;
    } const cases[] = {
        {"one WRITE's data", {1 << 20}, 1},
        {"small pieces are copied", {10, kGatherLeast - 1, 3}, 0},
        {"padding after an odd-length piece", {kGatherLeast + 1, 7, 9999}, 2},
        {"pieces past the most listed are copied", {5000, 5000, 5000, 5000, 5000, 6000}, kMostGatherPieces},
        {"no arguments", {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Pieces pieces;
        for (std::size_t i = 0; i < c.lengths.size(); ++i)
            pieces.bytes.push_back(filled(c.lengths[i], static_cast<int>(i) * 31 + 1));
        const Message m = encodeBoth(&pieces, (2u << 20));
        ASSERT_NE(m.plainLength, 0u);
        ASSERT_EQ(m.gatheredLength, m.plainLength);
        ASSERT_EQ(m.gathered.length(), m.plainLength);
        EXPECT_EQ(m.gathered.pieces, c.piecesReferenced);
        const std::vector<char> plain(m.plain.begin(), m.plain.begin() + static_cast<std::ptrdiff_t>(m.plainLength));
        // Every resuming point at the edges of the pieces, and a few more.
        std::vector<std::size_t> skips = {0, 1, 4, m.plainLength - 1u, m.plainLength};
        for (std::size_t i = 0; i < m.gathered.pieces; ++i) {
            const std::size_t before = m.gathered.piece[i].at + [&] {
                std::size_t referenced = 0;
                for (std::size_t j = 0; j < i; ++j)
                    referenced += m.gathered.piece[j].length;
                return referenced;
            }();
            for (const std::size_t s : {before - 1, before, before + 1, before + m.gathered.piece[i].length - 1,
                                        before + m.gathered.piece[i].length, before + m.gathered.piece[i].length + 1})
                if (s <= m.plainLength)
                    skips.push_back(s);
        }
        for (const std::size_t skip : skips) {
            SCOPED_TRACE(skip);
            EXPECT_TRUE(joined(m, skip) == std::vector<char>(plain.begin() + static_cast<std::ptrdiff_t>(skip),
                                                                plain.end()));
        }
    }
}

// A message larger than the room fails both encoders alike, also when its large piece would
// not have had to fit in the buffer.
TEST(RpcGather, AMessageOverTheRoomFailsAsTheCopyingEncoderFails)
{
    Pieces pieces{{filled(64 * 1024, 5)}};
    const Message small = encodeBoth(&pieces, 32 * 1024);
    EXPECT_EQ(small.plainLength, 0u);
    EXPECT_EQ(small.gatheredLength, 0u);
    EXPECT_EQ(small.gathered.pieces, 0u);
}

} // namespace
