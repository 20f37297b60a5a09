// NFS version 3 XDR routines against hand-built wire bytes.
#include "xdrTestWire.h"

#include <brisnel/nfs3Xdr.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

using xdrtest::Bytes;
using xdrtest::decode;
using xdrtest::encode;
using xdrtest::failuresOverEveryCut;
using xdrtest::fattr3Wire;
using xdrtest::release;
using xdrtest::Wire;

namespace {

const std::string handle64(64, 'h');

Wire lookupOkWire(const std::string &handle)
{
    return Wire().u32(NFS3_OK).var(handle).u32(1).append(fattr3Wire(NF3DIR)).u32(0);
}

// A READDIR reply with the given names, cookies 100, 101, ... and file ids 7, 8, ...
Wire readdirWire(const std::vector<std::string> &names, bool eof)
{
    Wire wire;
    wire.u32(NFS3_OK).u32(0).fixed("verifier");
    uint64_t n = 0;
    for (const auto &name : names) {
        wire.u32(1).u64(7 + n).var(name).u64(100 + n);
        ++n;
    }
    return wire.u32(0).u32(eof ? 1 : 0);
}

} // namespace

TEST(Xdr3Handle, SixtyFourBytesDecodeIntoTheCallersBuffer)
{
    std::array<char, NFS3_FHSIZE> buffer{};
    LOOKUP3res res{};
    res.LOOKUP3res_u.resok.object.data.data_val = buffer.data();
    ASSERT_TRUE(decode(XDRPROC(xdr_LOOKUP3res), lookupOkWire(handle64).bytes(), &res));
    const LOOKUP3resok &ok = res.LOOKUP3res_u.resok;
    EXPECT_EQ(ok.object.data.data_val, buffer.data());
    EXPECT_EQ(ok.object.data.data_len, 64u);
    EXPECT_EQ(std::string(buffer.data(), 64), handle64);
    EXPECT_TRUE(ok.obj_attributes.attributes_follow);
    EXPECT_EQ(ok.obj_attributes.post_op_attr_u.attributes.type, NF3DIR);
    EXPECT_FALSE(ok.dir_attributes.attributes_follow);
}

TEST(Xdr3Handle, SixtyFiveBytesFailTheReplyWithoutTouchingTheBuffer)
{
    std::array<char, NFS3_FHSIZE + 8> buffer{};
    buffer.fill('z');
    LOOKUP3res res{};
    res.LOOKUP3res_u.resok.object.data.data_val = buffer.data();
    EXPECT_FALSE(decode(XDRPROC(xdr_LOOKUP3res), lookupOkWire(handle64 + "x").bytes(), &res));
    EXPECT_EQ(std::string(buffer.data(), buffer.size()), std::string(buffer.size(), 'z'));
    release(XDRPROC(xdr_LOOKUP3res), &res); // must not free the caller's buffer

    nfs_fh3 fh{};
    std::string big(65, 'b');
    fh.data.data_len = 65;
    fh.data.data_val = big.data();
    bool ok = true;
    encode(XDRPROC(xdr_nfs_fh3), &fh, &ok);
    EXPECT_FALSE(ok);
}

TEST(Xdr3Handle, ZeroLengthLeavesTheBufferAndNullPointerAllocates)
{
    std::array<char, NFS3_FHSIZE> buffer{};
    buffer.fill('z');
    nfs_fh3 fh{};
    fh.data.data_len = 99;
    fh.data.data_val = buffer.data();
    ASSERT_TRUE(decode(XDRPROC(xdr_nfs_fh3), Wire().u32(0).bytes(), &fh));
    EXPECT_EQ(fh.data.data_len, 0u);
    EXPECT_EQ(std::string(buffer.data(), 64), std::string(64, 'z'));

    LOOKUP3res res{};
    ASSERT_TRUE(decode(XDRPROC(xdr_LOOKUP3res), lookupOkWire("abc").bytes(), &res));
    EXPECT_EQ(std::string(res.LOOKUP3res_u.resok.object.data.data_val, 3), "abc");
    release(XDRPROC(xdr_LOOKUP3res), &res); // the allocated handle goes; ASan checks the leak
}

TEST(Xdr3Attributes, WireFormsAreExact)
{
    post_op_attr none{};
    EXPECT_EQ(encode(XDRPROC(xdr_post_op_attr), &none), Wire().u32(0).bytes());

    const Bytes attrs = Wire().u32(1).append(fattr3Wire(NF3REG)).bytes();
    post_op_attr some{};
    u_int consumed = 0;
    ASSERT_TRUE(decode(XDRPROC(xdr_post_op_attr), attrs, &some, &consumed));
    EXPECT_EQ(consumed, 88u);
    const fattr3 &a = some.post_op_attr_u.attributes;
    EXPECT_EQ(a.size, 0x123456789ULL);
    EXPECT_EQ(a.used, 0x200000000ULL);
    EXPECT_EQ(a.rdev.specdata2, 9u);
    EXPECT_EQ(a.fsid, 0xFEDCBA9876543210ULL);
    EXPECT_EQ(a.fileid, 0x100000001ULL);
    EXPECT_EQ(a.ctime.nseconds, 16u);
    EXPECT_EQ(encode(XDRPROC(xdr_post_op_attr), &some), attrs);

    sattr3 set{};
    set.mode.set_it = TRUE;
    set.mode.set_mode3_u.mode = 0755;
    set.size.set_it = TRUE;
    set.size.set_size3_u.size = 0x100000000ULL;
    set.atime.set_it = SET_TO_CLIENT_TIME;
    set.atime.set_atime_u.atime = {5, 6};
    set.mtime.set_it = SET_TO_SERVER_TIME;
    EXPECT_EQ(
        encode(XDRPROC(xdr_sattr3), &set),
        Wire().u32(1).u32(0755).u32(0).u32(0).u32(1).u64(0x100000000ULL).u32(2).u32(5).u32(6).u32(1).bytes());
}

TEST(Xdr3Attributes, UnionArmsFollowTheirDiscriminant)
{
    createhow3 how{};
    how.mode = EXCLUSIVE;
    std::memcpy(how.createhow3_u.verf, "12345678", 8);
    EXPECT_EQ(encode(XDRPROC(xdr_createhow3), &how), Wire().u32(2).fixed("12345678").bytes());
    how.mode = static_cast<createmode3>(3);
    bool ok = true;
    encode(XDRPROC(xdr_createhow3), &how, &ok);
    EXPECT_FALSE(ok);
    createhow3 decoded{};
    EXPECT_FALSE(decode(XDRPROC(xdr_createhow3), Wire().u32(3).u32(0).bytes(), &decoded));

    mknoddata3 node{};
    node.type = NF3CHR;
    node.mknoddata3_u.device.spec = {4, 64};
    EXPECT_EQ(encode(XDRPROC(xdr_mknoddata3), &node),
              Wire().u32(NF3CHR).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(4).u32(64).bytes());
    node.type = NF3FIFO;
    EXPECT_EQ(encode(XDRPROC(xdr_mknoddata3), &node).size(), 28u);
    node.type = NF3REG;
    EXPECT_EQ(encode(XDRPROC(xdr_mknoddata3), &node), Wire().u32(NF3REG).bytes());
}

TEST(Xdr3Results, ErrorStatusesCarryOnlyTheirFailureMembers)
{
    LOOKUP3res lookup{};
    u_int consumed = 0;
    const Bytes notFound = Wire().u32(NFS3ERR_NOENT).u32(1).append(fattr3Wire(NF3DIR)).bytes();
    ASSERT_TRUE(decode(XDRPROC(xdr_LOOKUP3res), notFound, &lookup, &consumed));
    EXPECT_EQ(consumed, notFound.size());
    EXPECT_EQ(lookup.status, NFS3ERR_NOENT);
    EXPECT_EQ(lookup.LOOKUP3res_u.resfail.dir_attributes.post_op_attr_u.attributes.fileid, 0x100000001ULL);

    GETATTR3res getattr{};
    ASSERT_TRUE(decode(XDRPROC(xdr_GETATTR3res), Wire().u32(NFS3ERR_STALE).u32(1).u32(2).bytes(), &getattr,
                       &consumed));
    EXPECT_EQ(consumed, 4u);

    WRITE3res write{};
    const Bytes noSpace = Wire().u32(NFS3ERR_NOSPC).u32(1).u64(10).u32(1).u32(2).u32(3).u32(4).u32(0).bytes();
    ASSERT_TRUE(decode(XDRPROC(xdr_WRITE3res), noSpace, &write, &consumed));
    EXPECT_EQ(consumed, noSpace.size());
    EXPECT_EQ(write.WRITE3res_u.resfail.file_wcc.before.pre_op_attr_u.attributes.size, 10u);

    READ3res unknown{}; // a status no table knows is kept and takes the failure arm
    ASSERT_TRUE(decode(XDRPROC(xdr_READ3res), Wire().u32(0x7FFFFFF0).u32(0).bytes(), &unknown));
    EXPECT_EQ(static_cast<int32_t>(unknown.status), 0x7FFFFFF0);
}

TEST(Xdr3Arguments, EncodeExactly)
{
    char fh[] = "FH";
    READ3args read{};
    read.file.data = {2, fh};
    read.offset = 0x100000002ULL;
    read.count = 8192;
    EXPECT_EQ(encode(XDRPROC(xdr_READ3args), &read), Wire().var("FH").u64(0x100000002ULL).u32(8192).bytes());

    char data[] = "hello";
    WRITE3args write{};
    write.file.data = {2, fh};
    write.offset = 0x300000000ULL;
    write.count = 5;
    write.stable = FILE_SYNC;
    write.data = {5, data};
    const Bytes wire = Wire().var("FH").u64(0x300000000ULL).u32(5).u32(2).var("hello").bytes();
    EXPECT_EQ(encode(XDRPROC(xdr_WRITE3args), &write), wire);
    WRITE3args back{};
    ASSERT_TRUE(decode(XDRPROC(xdr_WRITE3args), wire, &back));
    EXPECT_EQ(std::string(back.data.data_val, back.data.data_len), "hello");
    EXPECT_EQ(back.offset, 0x300000000ULL);
    release(XDRPROC(xdr_WRITE3args), &back);

    char name[] = "a-name";
    READDIR3args readdir{};
    readdir.dir.data = {2, fh};
    readdir.cookie = 0xABCDEF0123ULL;
    std::memcpy(readdir.cookieverf, "VERIFIER", 8);
    readdir.count = 4096;
    EXPECT_EQ(encode(XDRPROC(xdr_READDIR3args), &readdir),
              Wire().var("FH").u64(0xABCDEF0123ULL).fixed("VERIFIER").u32(4096).bytes());
    LOOKUP3args lookup{};
    lookup.what = {{{2, fh}}, name};
    EXPECT_EQ(encode(XDRPROC(xdr_LOOKUP3args), &lookup), Wire().var("FH").var("a-name").bytes());
}

TEST(Xdr3Read, CallerBufferCapacityIsNeverExceeded)
{
    const std::string payload(100, 'd');
    const Bytes reply = Wire().u32(NFS3_OK).u32(0).u32(100).u32(1).var(payload).bytes();
    std::array<char, 116> buffer{};
    buffer.fill('s');

    READ3res exact{};
    exact.READ3res_u.resok.data = {100, buffer.data()};
    ASSERT_TRUE(decode(XDRPROC(xdr_READ3res), reply, &exact));
    EXPECT_EQ(exact.READ3res_u.resok.count, 100u);
    EXPECT_TRUE(exact.READ3res_u.resok.eof);
    EXPECT_EQ(std::string(buffer.data(), 100), payload);
    EXPECT_EQ(std::string(buffer.data() + 100, 16), std::string(16, 's'));

    buffer.fill('s');
    READ3res tooMuch{};
    tooMuch.READ3res_u.resok.data = {99, buffer.data()};
    EXPECT_FALSE(decode(XDRPROC(xdr_READ3res), reply, &tooMuch));
    EXPECT_EQ(std::string(buffer.data(), buffer.size()), std::string(buffer.size(), 's'));
    release(XDRPROC(xdr_READ3res), &tooMuch);

    READ3res disagrees{};
    disagrees.READ3res_u.resok.data = {100, buffer.data()};
    const Bytes lying = Wire().u32(NFS3_OK).u32(0).u32(4000).u32(0).var(payload).bytes();
    EXPECT_FALSE(decode(XDRPROC(xdr_READ3res), lying, &disagrees));
    release(XDRPROC(xdr_READ3res), &disagrees);

    const std::string large(NFS3_MAXDATA_DECODED, 'L');
    READ3res allocated{};
    ASSERT_TRUE(decode(XDRPROC(xdr_READ3res),
                       Wire().u32(NFS3_OK).u32(0).u32(NFS3_MAXDATA_DECODED).u32(0).var(large).bytes(),
                       &allocated));
    EXPECT_EQ(std::string(allocated.READ3res_u.resok.data.data_val, NFS3_MAXDATA_DECODED), large);
    release(XDRPROC(xdr_READ3res), &allocated);
}

TEST(Xdr3Readlink, CallerBufferHoldsAtMostItsSize)
{
    std::array<char, NFS3_READLINK_BUFSIZE> buffer{};
    const std::string fits(NFS3_READLINK_BUFSIZE - 1, 'p');
    READLINK3res res{};
    res.READLINK3res_u.resok.data = buffer.data();
    ASSERT_TRUE(decode(XDRPROC(xdr_READLINK3res), Wire().u32(0).u32(0).var(fits).bytes(), &res));
    EXPECT_EQ(std::string(buffer.data()), fits);

    READLINK3res tooLong{};
    tooLong.READLINK3res_u.resok.data = buffer.data();
    EXPECT_FALSE(decode(XDRPROC(xdr_READLINK3res), Wire().u32(0).u32(0).var(fits + "q").bytes(), &tooLong));
    release(XDRPROC(xdr_READLINK3res), &tooLong);

    const std::string longPath(NFS_MAXPATHLEN, 'x');
    READLINK3res allocated{};
    ASSERT_TRUE(decode(XDRPROC(xdr_READLINK3res), Wire().u32(0).u32(0).var(longPath).bytes(), &allocated));
    EXPECT_EQ(allocated.READLINK3res_u.resok.data, longPath);
    release(XDRPROC(xdr_READLINK3res), &allocated);
}

TEST(Xdr3Directory, ListsOfNoneOneAndMany)
{
    READDIR3res empty{};
    ASSERT_TRUE(decode(XDRPROC(xdr_READDIR3res), readdirWire({}, true).bytes(), &empty));
    EXPECT_EQ(empty.READDIR3res_u.resok.reply.entries, nullptr);
    EXPECT_TRUE(empty.READDIR3res_u.resok.reply.eof);

    READDIR3res one{};
    ASSERT_TRUE(decode(XDRPROC(xdr_READDIR3res), readdirWire({"a"}, false).bytes(), &one));
    const entry3 *only = one.READDIR3res_u.resok.reply.entries;
    ASSERT_NE(only, nullptr);
    EXPECT_STREQ(only->name, "a");
    EXPECT_EQ(only->nextentry, nullptr);
    EXPECT_FALSE(one.READDIR3res_u.resok.reply.eof);
    release(XDRPROC(xdr_READDIR3res), &one);

    const std::vector<std::string> names{".", "..", std::string(NFS_MAXNAMLEN, 'n')};
    const Bytes wire = readdirWire(names, true).bytes();
    READDIR3res many{};
    ASSERT_TRUE(decode(XDRPROC(xdr_READDIR3res), wire, &many));
    size_t i = 0;
    for (const entry3 *e = many.READDIR3res_u.resok.reply.entries; e; e = e->nextentry, ++i) {
        ASSERT_LT(i, names.size());
        EXPECT_EQ(e->name, names[i]);
        EXPECT_EQ(e->cookie, 100 + i);
        EXPECT_EQ(e->fileid, 7 + i);
    }
    EXPECT_EQ(i, names.size());
    EXPECT_EQ(encode(XDRPROC(xdr_READDIR3res), &many), wire);
    release(XDRPROC(xdr_READDIR3res), &many);
    release(XDRPROC(xdr_READDIR3res), &empty);
}

TEST(Xdr3Directory, LongListsDoNotRecurse)
{
    const std::vector<std::string> names(200000, "f");
    READDIR3res res{};
    ASSERT_TRUE(decode(XDRPROC(xdr_READDIR3res), readdirWire(names, true).bytes(), &res));
    release(XDRPROC(xdr_READDIR3res), &res);
    EXPECT_EQ(res.READDIR3res_u.resok.reply.entries, nullptr);
}

TEST(Xdr3Directory, ReaddirplusCarriesAttributesAndHandles)
{
    const Bytes wire = Wire()
                           .u32(NFS3_OK)
                           .u32(0)
                           .fixed("verifier")
                           .u32(1)
                           .u64(1)
                           .var("x")
                           .u64(2)
                           .u32(1)
                           .append(fattr3Wire(NF3REG))
                           .u32(1)
                           .var("handle-x")
                           .u32(1)
                           .u64(3)
                           .var("y")
                           .u64(4)
                           .u32(0)
                           .u32(0)
                           .u32(0)
                           .u32(1)
                           .bytes();
    READDIRPLUS3res res{};
    ASSERT_TRUE(decode(XDRPROC(xdr_READDIRPLUS3res), wire, &res));
    const entryplus3 *x = res.READDIRPLUS3res_u.resok.reply.entries;
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(std::string(x->name_handle.post_op_fh3_u.handle.data.data_val, 8), "handle-x");
    ASSERT_NE(x->nextentry, nullptr);
    EXPECT_FALSE(x->nextentry->name_handle.handle_follows);
    EXPECT_EQ(encode(XDRPROC(xdr_READDIRPLUS3res), &res), wire);
    release(XDRPROC(xdr_READDIRPLUS3res), &res);
}

// Replies cut short at every offset fail, and the free pass leaves the caller's buffers alone.
TEST(Xdr3CutShort, EveryOffsetFailsCleanly)
{
    std::array<char, NFS3_FHSIZE> fh{};
    std::array<char, 256> data{};
    auto callerHandle = [&](LOOKUP3res &r) { r.LOOKUP3res_u.resok.object.data.data_val = fh.data(); };
    auto noBuffer = [](auto &) {};

    const Bytes lookup = lookupOkWire(handle64).bytes();
    EXPECT_EQ(failuresOverEveryCut<LOOKUP3res>(XDRPROC(xdr_LOOKUP3res), lookup, callerHandle), lookup.size());
    EXPECT_EQ(failuresOverEveryCut<LOOKUP3res>(XDRPROC(xdr_LOOKUP3res), lookup, noBuffer), lookup.size());

    const Bytes create =
        Wire().u32(NFS3_OK).u32(1).var("new-handle").u32(1).append(fattr3Wire(NF3REG)).u32(0).u32(0).bytes();
    EXPECT_EQ(
        failuresOverEveryCut<CREATE3res>(
            XDRPROC(xdr_CREATE3res), create,
            [&](CREATE3res &r) { r.CREATE3res_u.resok.obj.post_op_fh3_u.handle.data.data_val = fh.data(); }),
        create.size());

    const Bytes read =
        Wire().u32(NFS3_OK).u32(1).append(fattr3Wire(NF3REG)).u32(7).u32(1).var("content").bytes();
    EXPECT_EQ(failuresOverEveryCut<READ3res>(XDRPROC(xdr_READ3res), read,
                                             [&](READ3res &r) {
                                                 r.READ3res_u.resok.data = {256, data.data()};
                                             }),
              read.size());
    EXPECT_EQ(failuresOverEveryCut<READ3res>(XDRPROC(xdr_READ3res), read, noBuffer), read.size());

    const Bytes link = Wire().u32(NFS3_OK).u32(0).var("../target").bytes();
    EXPECT_EQ(failuresOverEveryCut<READLINK3res>(
                  XDRPROC(xdr_READLINK3res), link,
                  [&](READLINK3res &r) { r.READLINK3res_u.resok.data = data.data(); }),
              link.size());

    const Bytes dir = readdirWire({".", "..", "file"}, true).bytes();
    EXPECT_EQ(failuresOverEveryCut<READDIR3res>(XDRPROC(xdr_READDIR3res), dir, noBuffer), dir.size());

    const Bytes fsinfo = Wire()
                             .u32(NFS3_OK)
                             .u32(0)
                             .u32(65536)
                             .u32(8192)
                             .u32(4096)
                             .u32(65536)
                             .u32(8192)
                             .u32(4096)
                             .u32(8192)
                             .u64(0x7FFFFFFFFFFFFFFFULL)
                             .u32(0)
                             .u32(1)
                             .u32(0x1B)
                             .bytes();
    EXPECT_EQ(failuresOverEveryCut<FSINFO3res>(XDRPROC(xdr_FSINFO3res), fsinfo, noBuffer), fsinfo.size());
}

TEST(Xdr3Oversized, HugeLengthClaimsFailCleanly)
{
    // A name claiming a megabyte in a short reply.
    const Bytes claim =
        Wire().u32(NFS3_OK).u32(0).fixed("verifier").u32(1).u64(1).u32(1 << 20).fixed("abcd").bytes();
    READDIR3res res{};
    EXPECT_FALSE(decode(XDRPROC(xdr_READDIR3res), claim, &res));
    release(XDRPROC(xdr_READDIR3res), &res);

    // A handle length above the limit is refused whatever the bytes behind it.
    nfs_fh3 fh{};
    EXPECT_FALSE(decode(XDRPROC(xdr_nfs_fh3), Wire().u32(0xFFFFFFFF).bytes(), &fh));
    EXPECT_EQ(fh.data.data_val, nullptr);
}

TEST(Xdr3Oversized, EveryVariableItemStopsAtItsLimit)
{
    using xdrtest::decoderOf;
    const xdrtest::BoundedItem items[] = {
        {"READDIR entry name", decoderOf<READDIR3res>(XDRPROC(xdr_READDIR3res)),
         [](u_int) { return Wire().u32(NFS3_OK).u32(0).fixed("verifier").u32(1).u64(1); },
         Wire().u64(100).u32(0).u32(1), NFS_MAXNAMLEN},
        {"READLINK text", decoderOf<READLINK3res>(XDRPROC(xdr_READLINK3res)),
         [](u_int) { return Wire().u32(NFS3_OK).u32(0); }, Wire(), NFS_MAXPATHLEN},
        {"READ data without a buffer", decoderOf<READ3res>(XDRPROC(xdr_READ3res)),
         [](u_int n) { return Wire().u32(NFS3_OK).u32(0).u32(n).u32(1); }, Wire(), NFS3_MAXDATA_DECODED},
        {"WRITE data", decoderOf<WRITE3args>(XDRPROC(xdr_WRITE3args)),
         [](u_int n) { return Wire().var("FH").u64(0).u32(n).u32(UNSTABLE); }, Wire(), NFS3_MAXDATA_DECODED},
    };
    for (const auto &item : items)
        xdrtest::expectBounded(item);
}
