// NFS version 4.0 and 4.1 XDR routines against wire images built by hand from RFC 5662 and 7531.
#include "xdrTestWire.h"

#include "xdr/nfs4Xdr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

using xdrtest::Bytes;
using xdrtest::decode;
using xdrtest::encode;
using xdrtest::failuresOverEveryCut;
using xdrtest::release;
using xdrtest::Wire;

namespace {

const std::string sessionId = "0123456789abcdef";
const std::string verifier = "verifier";
const std::string other12 = "stateid-othr";

Nfs4Bytes text(const char *s)
{
    return Nfs4Bytes{static_cast<u_int>(std::strlen(s)), const_cast<char *>(s)};
}

stateid4 stateid(uint32_t seqid)
{
    stateid4 id{seqid, {}};
    std::memcpy(id.other, other12.data(), NFS4_OTHER_SIZE);
    return id;
}

Wire stateidWire(uint32_t seqid)
{
    return Wire().u32(seqid).fixed(other12);
}

// The words of a bitmap with the given bits, built without the routines under test.
Wire bitmapWire(std::initializer_list<u_int> bits)
{
    std::vector<uint32_t> words;
    for (u_int bit : bits) {
        words.resize(std::max<size_t>(words.size(), bit / 32 + 1));
        words[bit / 32] |= 1U << (bit % 32);
    }
    Wire wire;
    wire.u32(static_cast<uint32_t>(words.size()));
    for (uint32_t word : words) {
        wire.u32(word);
    }
    return wire;
}

// fattr4 on the wire: the bitmap, then the values as one opaque.
Wire fattrWire(std::initializer_list<u_int> bits, const Wire &values)
{
    const Bytes &v = values.bytes();
    return bitmapWire(bits).var(std::string(v.begin(), v.end()));
}

fattr4 modeOnly(uint32_t mode)
{
    fattr4 attrs{};
    nfs4BitmapSet(&attrs.attrmask, FATTR4_MODE);
    attrs.mode = mode;
    return attrs;
}

const Wire modeOnlyWire = fattrWire({FATTR4_MODE}, Wire().u32(0644));

// Every attribute the client knows but the settable times, as a server sends them.
Wire fullAttrsValues(const std::string &owner)
{
    return Wire()
        .append(bitmapWire({FATTR4_TYPE, FATTR4_SIZE, FATTR4_MODE, FATTR4_TIME_MODIFY}))
        .u32(NF4REG)
        .u64(0x1122334455667788ULL)
        .u64(0x123456789ULL)
        .u64(7)
        .u64(8)
        .u32(90)
        .u32(NFS4_OK)
        .var("handle")
        .u64(0x100000001ULL)
        .u64(1 << 20)
        .u64(1 << 20)
        .u32(0644)
        .u32(2)
        .var(owner)
        .var("users@example.org")
        .u64(4096)
        .u64(1)
        .u32(2)
        .u64(3)
        .u32(4)
        .u64(0xFFFFFFFFFFFFFFFFULL)
        .u32(999999999);
}

const std::initializer_list<u_int> fullAttrsBits = {
    FATTR4_SUPPORTED_ATTRS, FATTR4_TYPE,         FATTR4_CHANGE,        FATTR4_SIZE,       FATTR4_FSID,
    FATTR4_LEASE_TIME,      FATTR4_RDATTR_ERROR, FATTR4_FILEHANDLE,    FATTR4_FILEID,     FATTR4_MAXREAD,
    FATTR4_MAXWRITE,        FATTR4_MODE,         FATTR4_NUMLINKS,      FATTR4_OWNER,      FATTR4_OWNER_GROUP,
    FATTR4_SPACE_USED,      FATTR4_TIME_ACCESS,  FATTR4_TIME_METADATA, FATTR4_TIME_MODIFY};

Wire fullAttrsWire(const std::string &owner = "2001")
{
    return fattrWire(fullAttrsBits, fullAttrsValues(owner));
}

bool decodesAttrs(const Wire &wire)
{
    fattr4 attrs{};
    return decode(XDRPROC(xdr_fattr4), wire.bytes(), &attrs);
}

struct ArgCase {
    const char *name;
    std::function<void(nfs_argop4 &)> fill;
    Wire wire;
};

} // namespace

TEST(Xdr4Arguments, EveryOperationEncodesExactly)
{
    const ArgCase cases[] = {
        {"SEQUENCE",
         [](nfs_argop4 &op) {
             op.argop = OP_SEQUENCE;
             auto &s = op.nfs_argop4_u.opsequence;
             s = {{}, 7, 3, 15, TRUE};
             std::memcpy(s.sa_sessionid, sessionId.data(), NFS4_SESSIONID_SIZE);
         },
         Wire().u32(53).fixed(sessionId).u32(7).u32(3).u32(15).u32(1)},
        {"PUTROOTFH", [](nfs_argop4 &op) { op.argop = OP_PUTROOTFH; }, Wire().u32(24)},
        {"PUTFH",
         [](nfs_argop4 &op) {
             op.argop = OP_PUTFH;
             op.nfs_argop4_u.opputfh.len = 5;
             std::memcpy(op.nfs_argop4_u.opputfh.val, "hndle", 5);
         },
         Wire().u32(22).var("hndle")},
        {"GETFH SAVEFH RESTOREFH LOOKUPP READLINK", [](nfs_argop4 &op) { op.argop = OP_GETFH; },
         Wire().u32(10)},
        {"LOOKUP",
         [](nfs_argop4 &op) {
             op.argop = OP_LOOKUP;
             op.nfs_argop4_u.oplookup = text("export");
         },
         Wire().u32(15).var("export")},
        {"GETATTR",
         [](nfs_argop4 &op) {
             op.argop = OP_GETATTR;
             nfs4BitmapSet(&op.nfs_argop4_u.opgetattr, FATTR4_TYPE);
             nfs4BitmapSet(&op.nfs_argop4_u.opgetattr, FATTR4_SIZE);
             nfs4BitmapSet(&op.nfs_argop4_u.opgetattr, FATTR4_TIME_MODIFY);
         },
         Wire().u32(9).append(bitmapWire({FATTR4_TYPE, FATTR4_SIZE, FATTR4_TIME_MODIFY}))},
        {"SETATTR size, mode and both times",
         [](nfs_argop4 &op) {
             op.argop = OP_SETATTR;
             op.nfs_argop4_u.opsetattr.stateid = stateid(1);
             fattr4 &a = op.nfs_argop4_u.opsetattr.obj_attributes;
             for (u_int bit : {FATTR4_SIZE, FATTR4_MODE, FATTR4_TIME_ACCESS_SET, FATTR4_TIME_MODIFY_SET}) {
                 nfs4BitmapSet(&a.attrmask, bit);
             }
             a.size = 0x100000000ULL;
             a.mode = 0600;
             a.time_access_set.set_it = SET_TO_SERVER_TIME4;
             a.time_modify_set = {SET_TO_CLIENT_TIME4, {-1, 5}};
         },
         Wire()
             .u32(34)
             .append(stateidWire(1))
             .append(fattrWire({FATTR4_SIZE, FATTR4_MODE, FATTR4_TIME_ACCESS_SET, FATTR4_TIME_MODIFY_SET},
                               Wire().u64(0x100000000ULL).u32(0600).u32(0).u32(1).u64(~0ULL).u32(5)))},
        {"ACCESS",
         [](nfs_argop4 &op) {
             op.argop = OP_ACCESS;
             op.nfs_argop4_u.opaccess = ACCESS4_READ | ACCESS4_MODIFY;
         },
         Wire().u32(3).u32(5)},
        {"OPEN_CONFIRM",
         [](nfs_argop4 &op) {
             op.argop = OP_OPEN_CONFIRM;
             op.nfs_argop4_u.opopen_confirm = {stateid(2), 9};
         },
         Wire().u32(20).append(stateidWire(2)).u32(9)},
        {"CLOSE",
         [](nfs_argop4 &op) {
             op.argop = OP_CLOSE;
             op.nfs_argop4_u.opclose = {4, stateid(3)};
         },
         Wire().u32(4).u32(4).append(stateidWire(3))},
        {"READ",
         [](nfs_argop4 &op) {
             op.argop = OP_READ;
             op.nfs_argop4_u.opread = {stateid(1), 0x200000000ULL, 1 << 20};
         },
         Wire().u32(25).append(stateidWire(1)).u64(0x200000000ULL).u32(1 << 20)},
        {"WRITE",
         [](nfs_argop4 &op) {
             op.argop = OP_WRITE;
             op.nfs_argop4_u.opwrite = {stateid(1), 12, FILE_SYNC4, text("hello")};
         },
         Wire().u32(38).append(stateidWire(1)).u64(12).u32(2).var("hello")},
        {"COMMIT",
         [](nfs_argop4 &op) {
             op.argop = OP_COMMIT;
             op.nfs_argop4_u.opcommit = {0, 0};
         },
         Wire().u32(5).u64(0).u32(0)},
        {"READDIR",
         [](nfs_argop4 &op) {
             op.argop = OP_READDIR;
             auto &r = op.nfs_argop4_u.opreaddir;
             r.cookie = 42;
             std::memcpy(r.cookieverf, verifier.data(), 8);
             r.dircount = 8192;
             r.maxcount = 32768;
             nfs4BitmapSet(&r.attr_request, FATTR4_FILEID);
         },
         Wire().u32(26).u64(42).fixed(verifier).u32(8192).u32(32768).append(bitmapWire({FATTR4_FILEID}))},
        {"REMOVE",
         [](nfs_argop4 &op) {
             op.argop = OP_REMOVE;
             op.nfs_argop4_u.opremove = text("gone");
         },
         Wire().u32(28).var("gone")},
        {"RENAME",
         [](nfs_argop4 &op) {
             op.argop = OP_RENAME;
             op.nfs_argop4_u.oprename = {text("a"), text("bcdef")};
         },
         Wire().u32(29).var("a").var("bcdef")},
        {"LINK",
         [](nfs_argop4 &op) {
             op.argop = OP_LINK;
             op.nfs_argop4_u.oplink = text("hard");
         },
         Wire().u32(11).var("hard")},
        {"CREATE symbolic link",
         [](nfs_argop4 &op) {
             op.argop = OP_CREATE;
             auto &c = op.nfs_argop4_u.opcreate;
             c.objtype.type = NF4LNK;
             c.objtype.createtype4_u.linkdata = text("../target");
             c.objname = text("link");
             c.createattrs = modeOnly(0644);
         },
         Wire().u32(6).u32(NF4LNK).var("../target").var("link").append(modeOnlyWire)},
        {"CREATE directory",
         [](nfs_argop4 &op) {
             op.argop = OP_CREATE;
             auto &c = op.nfs_argop4_u.opcreate;
             c.objtype.type = NF4DIR;
             c.objname = text("dir");
             c.createattrs = modeOnly(0644);
         },
         Wire().u32(6).u32(NF4DIR).var("dir").append(modeOnlyWire)},
        {"EXCHANGE_ID",
         [](nfs_argop4 &op) {
             op.argop = OP_EXCHANGE_ID;
             auto &e = op.nfs_argop4_u.opexchange_id;
             std::memcpy(e.co_verifier, verifier.data(), 8);
             e.co_ownerid = text("host/1234");
             e.eia_flags = EXCHGID4_FLAG_USE_NON_PNFS;
         },
         Wire().u32(42).fixed(verifier).var("host/1234").u32(0x10000).u32(SP4_NONE).u32(0)},
        {"CREATE_SESSION",
         [](nfs_argop4 &op) {
             op.argop = OP_CREATE_SESSION;
             auto &c = op.nfs_argop4_u.opcreate_session;
             c.csa_clientid = 0x0102030405060708ULL;
             c.csa_sequence = 1;
             c.csa_fore_chan_attrs = {0, 1049600, 1049600, 4096, 16, 8, 0, 0};
             c.csa_back_chan_attrs = {0, 4096, 4096, 0, 2, 1, 0, 0};
             c.csa_cb_program = 0x40000000;
             c.csa_sec_parms_len = 1;
         },
         Wire()
             .u32(43)
             .u64(0x0102030405060708ULL)
             .u32(1)
             .u32(0)
             .u32(0)
             .u32(1049600)
             .u32(1049600)
             .u32(4096)
             .u32(16)
             .u32(8)
             .u32(0)
             .u32(0)
             .u32(4096)
             .u32(4096)
             .u32(0)
             .u32(2)
             .u32(1)
             .u32(0)
             .u32(0x40000000)
             .u32(1)
             .u32(AUTH_NONE)},
        {"DESTROY_SESSION",
         [](nfs_argop4 &op) {
             op.argop = OP_DESTROY_SESSION;
             std::memcpy(op.nfs_argop4_u.opdestroy_session, sessionId.data(), NFS4_SESSIONID_SIZE);
         },
         Wire().u32(44).fixed(sessionId)},
        {"DESTROY_CLIENTID",
         [](nfs_argop4 &op) {
             op.argop = OP_DESTROY_CLIENTID;
             op.nfs_argop4_u.opdestroy_clientid = 0xAABBCCDD00112233ULL;
         },
         Wire().u32(57).u64(0xAABBCCDD00112233ULL)},
        {"RENEW",
         [](nfs_argop4 &op) {
             op.argop = OP_RENEW;
             op.nfs_argop4_u.opdestroy_clientid = 5;
         },
         Wire().u32(30).u64(5)},
        {"RECLAIM_COMPLETE", [](nfs_argop4 &op) { op.argop = OP_RECLAIM_COMPLETE; }, Wire().u32(58).u32(0)},
        {"BIND_CONN_TO_SESSION",
         [](nfs_argop4 &op) {
             op.argop = OP_BIND_CONN_TO_SESSION;
             auto &b = op.nfs_argop4_u.opbind_conn_to_session;
             std::memcpy(b.bctsa_sessid, sessionId.data(), NFS4_SESSIONID_SIZE);
             b.bctsa_dir = CDFC4_FORE_OR_BOTH;
         },
         Wire().u32(41).fixed(sessionId).u32(3).u32(0)},
        {"SECINFO_NO_NAME",
         [](nfs_argop4 &op) {
             op.argop = OP_SECINFO_NO_NAME;
             op.nfs_argop4_u.opsecinfo_no_name = SECINFO_STYLE4_PARENT;
         },
         Wire().u32(52).u32(1)},
        {"SETCLIENTID",
         [](nfs_argop4 &op) {
             op.argop = OP_SETCLIENTID;
             auto &s = op.nfs_argop4_u.opsetclientid;
             std::memcpy(s.verifier, verifier.data(), 8);
             s.id = text("host/1234");
             s.cb_location = {text("tcp"), text("127.0.0.1.0.0")};
             s.callback_ident = 1;
         },
         Wire().u32(35).fixed(verifier).var("host/1234").u32(0).var("tcp").var("127.0.0.1.0.0").u32(1)},
        {"SETCLIENTID_CONFIRM",
         [](nfs_argop4 &op) {
             op.argop = OP_SETCLIENTID_CONFIRM;
             op.nfs_argop4_u.opsetclientid_confirm.clientid = 6;
             std::memcpy(op.nfs_argop4_u.opsetclientid_confirm.setclientid_confirm, verifier.data(), 8);
         },
         Wire().u32(36).u64(6).fixed(verifier)},
        {"LOCK with a new lock owner",
         [](nfs_argop4 &op) {
             op.argop = OP_LOCK;
             auto &l = op.nfs_argop4_u.oplock;
             l = {WRITEW_LT, FALSE, 100, ~0ULL, {TRUE, {}}};
             l.locker.locker4_u.open_owner = {3, stateid(1), 0, {6, text("lock-1")}};
         },
         Wire()
             .u32(12)
             .u32(4)
             .u32(0)
             .u64(100)
             .u64(~0ULL)
             .u32(1)
             .u32(3)
             .append(stateidWire(1))
             .u32(0)
             .u64(6)
             .var("lock-1")},
        {"LOCK with an existing lock owner",
         [](nfs_argop4 &op) {
             op.argop = OP_LOCK;
             auto &l = op.nfs_argop4_u.oplock;
             l = {READ_LT, TRUE, 0, 10, {FALSE, {}}};
             l.locker.locker4_u.lock_owner = {stateid(5), 8};
         },
         Wire().u32(12).u32(1).u32(1).u64(0).u64(10).u32(0).append(stateidWire(5)).u32(8)},
        {"LOCKT",
         [](nfs_argop4 &op) {
             op.argop = OP_LOCKT;
             op.nfs_argop4_u.oplockt = {WRITE_LT, 1, 2, {6, text("lk")}};
         },
         Wire().u32(13).u32(2).u64(1).u64(2).u64(6).var("lk")},
        {"LOCKU",
         [](nfs_argop4 &op) {
             op.argop = OP_LOCKU;
             op.nfs_argop4_u.oplocku = {WRITE_LT, 4, stateid(6), 1, 2};
         },
         Wire().u32(14).u32(2).u32(4).append(stateidWire(6)).u64(1).u64(2)},
        {"RELEASE_LOCKOWNER",
         [](nfs_argop4 &op) {
             op.argop = OP_RELEASE_LOCKOWNER;
             op.nfs_argop4_u.oprelease_lockowner = {6, text("lk")};
         },
         Wire().u32(39).u64(6).var("lk")},
    };
    for (const ArgCase &c : cases) {
        nfs_argop4 op{};
        c.fill(op);
        bool ok = false;
        EXPECT_EQ(encode(XDRPROC(xdr_nfs_argop4), &op, &ok), c.wire.bytes()) << c.name;
        EXPECT_TRUE(ok) << c.name;
    }
}

TEST(Xdr4Arguments, OpenClaimsAndCreateModes)
{
    const Wire head = Wire().u32(18).u32(1).u32(OPEN4_SHARE_ACCESS_BOTH).u32(0).u64(6).var("open-1");
    auto open = [](opentype4 type, createmode4 mode, open_claim_type4 claim) {
        nfs_argop4 op{};
        op.argop = OP_OPEN;
        OPEN4args &o = op.nfs_argop4_u.opopen;
        o.seqid = 1;
        o.share_access = OPEN4_SHARE_ACCESS_BOTH;
        o.owner = {6, text("open-1")};
        o.openhow.opentype = type;
        o.openhow.how.mode = mode;
        auto &how = o.openhow.how.createhow4_u;
        if (mode == EXCLUSIVE4_1) {
            std::memcpy(how.ch_createboth.cva_verf, verifier.data(), 8);
            how.ch_createboth.cva_attrs = modeOnly(0644);
        } else if (mode == EXCLUSIVE4) {
            std::memcpy(how.createverf, verifier.data(), 8);
        } else {
            how.createattrs = modeOnly(0644);
        }
        o.claim.claim = claim;
        if (claim == CLAIM_NULL) {
            o.claim.open_claim4_u.file = text("f");
        } else {
            o.claim.open_claim4_u.delegate_type = OPEN_DELEGATE_NONE;
        }
        return encode(XDRPROC(xdr_nfs_argop4), &op);
    };
    const Wire claimNull = Wire().u32(CLAIM_NULL).var("f");
    EXPECT_EQ(open(OPEN4_CREATE, UNCHECKED4, CLAIM_NULL),
              Wire().append(head).u32(1).u32(0).append(modeOnlyWire).append(claimNull).bytes());
    EXPECT_EQ(open(OPEN4_CREATE, GUARDED4, CLAIM_NULL),
              Wire().append(head).u32(1).u32(1).append(modeOnlyWire).append(claimNull).bytes());
    EXPECT_EQ(open(OPEN4_CREATE, EXCLUSIVE4, CLAIM_NULL),
              Wire().append(head).u32(1).u32(2).fixed(verifier).append(claimNull).bytes());
    EXPECT_EQ(
        open(OPEN4_CREATE, EXCLUSIVE4_1, CLAIM_NULL),
        Wire().append(head).u32(1).u32(3).fixed(verifier).append(modeOnlyWire).append(claimNull).bytes());
    EXPECT_EQ(open(OPEN4_NOCREATE, UNCHECKED4, CLAIM_PREVIOUS),
              Wire().append(head).u32(0).u32(CLAIM_PREVIOUS).u32(OPEN_DELEGATE_NONE).bytes());
    EXPECT_EQ(open(OPEN4_NOCREATE, UNCHECKED4, CLAIM_FH), Wire().append(head).u32(0).u32(CLAIM_FH).bytes());
    EXPECT_TRUE(open(OPEN4_CREATE, static_cast<createmode4>(4), CLAIM_NULL).empty());
    bool ok = true;
    nfs_argop4 delegateCur{};
    delegateCur.argop = OP_OPEN;
    delegateCur.nfs_argop4_u.opopen.claim.claim = static_cast<open_claim_type4>(2);
    encode(XDRPROC(xdr_nfs_argop4), &delegateCur, &ok);
    EXPECT_FALSE(ok);
}

TEST(Xdr4Arguments, CompoundHeadsItsOperations)
{
    nfs_argop4 ops[3]{};
    ops[0].argop = OP_PUTROOTFH;
    ops[1].argop = OP_LOOKUP;
    ops[1].nfs_argop4_u.oplookup = text("export");
    ops[2].argop = OP_GETFH;
    COMPOUND4args args{text("t"), 1, {3, ops}};
    EXPECT_EQ(encode(XDRPROC(xdr_COMPOUND4args), &args),
              Wire().var("t").u32(1).u32(3).u32(24).u32(15).var("export").u32(10).bytes());

    // Over the operation limit, or with an operation this client never sends: nothing goes out.
    std::vector<nfs_argop4> many(NFS4_MAX_OPS + 1);
    for (auto &op : many) {
        op.argop = OP_GETFH;
    }
    COMPOUND4args tooMany{{}, 1, {static_cast<u_int>(many.size()), many.data()}};
    bool ok = true;
    encode(XDRPROC(xdr_COMPOUND4args), &tooMany, &ok);
    EXPECT_FALSE(ok);
    ops[2].argop = static_cast<nfs_opnum4>(OP_ILLEGAL);
    encode(XDRPROC(xdr_COMPOUND4args), &args, &ok);
    EXPECT_FALSE(ok);
}

TEST(Xdr4Attributes, EveryKnownAttributeDecodesAndEncodesBack)
{
    const Bytes wire = fullAttrsWire().bytes();
    fattr4 a{};
    ASSERT_TRUE(decode(XDRPROC(xdr_fattr4), wire, &a));
    EXPECT_TRUE(nfs4BitmapHas(a.supported_attrs, FATTR4_TIME_MODIFY));
    EXPECT_FALSE(nfs4BitmapHas(a.supported_attrs, FATTR4_OWNER));
    EXPECT_EQ(a.type, NF4REG);
    EXPECT_EQ(a.change, 0x1122334455667788ULL);
    EXPECT_EQ(a.size, 0x123456789ULL);
    EXPECT_EQ(a.fsid.major, 7u);
    EXPECT_EQ(a.fsid.minor, 8u);
    EXPECT_EQ(a.lease_time, 90u);
    EXPECT_EQ(std::string(a.filehandle.val, a.filehandle.len), "handle");
    EXPECT_EQ(a.fileid, 0x100000001ULL);
    EXPECT_EQ(a.maxread, 1u << 20);
    EXPECT_EQ(a.mode, 0644u);
    EXPECT_EQ(a.numlinks, 2u);
    EXPECT_EQ(std::string(a.owner.val, a.owner.len), "2001");
    EXPECT_EQ(std::string(a.owner_group.val, a.owner_group.len), "users@example.org");
    EXPECT_EQ(a.space_used, 4096u);
    EXPECT_EQ(a.time_access.seconds, 1);
    EXPECT_EQ(a.time_metadata.nseconds, 4u);
    EXPECT_EQ(a.time_modify.seconds, -1);
    EXPECT_EQ(a.time_modify.nseconds, 999999999u);
    EXPECT_EQ(encode(XDRPROC(xdr_fattr4), &a), wire);
}

TEST(Xdr4Attributes, MalformedRecordsAreRefused)
{
    const Wire mode = Wire().u32(0644);
    struct Case {
        const char *name;
        Wire wire;
        bool decodes;
    };
    const Case cases[] = {
        {"mode alone", fattrWire({FATTR4_MODE}, mode), true},
        {"no attributes", Wire().u32(0).u32(0), true},
        {"trailing zero words in the mask",
         Wire().u32(8).u32(0).u32(2).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(4).u32(0644), true},
        {"nine mask words",
         Wire().u32(9).u32(0).u32(2).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(4).u32(0644),
         false},
        {"an unknown attribute (acl, 12)", fattrWire({12}, Wire().u32(0)), false},
        {"an unknown attribute beside known ones", fattrWire({FATTR4_TYPE, 2}, Wire().u32(1).u32(0)), false},
        {"a bit past the kept words", fattrWire({FATTR4_MODE, 100}, mode), false},
        {"values longer than the mask says", fattrWire({FATTR4_MODE}, Wire().u32(0644).u32(0)), false},
        {"values shorter than the mask says", fattrWire({FATTR4_MODE, FATTR4_NUMLINKS}, mode), false},
        {"a length that is not whole words", bitmapWire({FATTR4_MODE}).u32(3).u32(0644), false},
        {"a length past the limit", bitmapWire({FATTR4_MODE}).u32(NFS4_ATTRS_MAX + 4).u32(0644), false},
        {"a handle over 128 bytes", fattrWire({FATTR4_FILEHANDLE}, Wire().var(std::string(129, 'h'))), false},
        {"a client time in a settable time", fattrWire({FATTR4_TIME_MODIFY_SET}, Wire().u32(1).u64(1).u32(2)),
         true},
        {"an unknown time_how", fattrWire({FATTR4_TIME_MODIFY_SET}, Wire().u32(2)), false},
        {"a flag of 1", fattrWire({FATTR4_NO_TRUNC}, Wire().u32(1)), true},
        {"a flag of 2", fattrWire({FATTR4_CHOWN_RESTRICTED}, Wire().u32(2)), false},
        {"space_total in 4 bytes", fattrWire({FATTR4_SPACE_TOTAL}, Wire().u32(7)), false},
        {"maxname in 8 bytes", fattrWire({FATTR4_MAXNAME}, Wire().u64(255)), false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(decodesAttrs(c.wire), c.decodes) << c.name;
    }
}

// The file system's figures, in attribute-number order across the mask's two words.
TEST(Xdr4Attributes, FileSystemFiguresRoundTrip)
{
    const Bytes wire = fattrWire({FATTR4_CHOWN_RESTRICTED, FATTR4_FILES_AVAIL, FATTR4_FILES_FREE,
                                  FATTR4_FILES_TOTAL, FATTR4_MAXLINK, FATTR4_MAXNAME, FATTR4_NO_TRUNC,
                                  FATTR4_SPACE_AVAIL, FATTR4_SPACE_FREE, FATTR4_SPACE_TOTAL},
                                 Wire()
                                     .u32(1)
                                     .u64(100)
                                     .u64(200)
                                     .u64(300)
                                     .u32(32000)
                                     .u32(255)
                                     .u32(0)
                                     .u64(0x100000000ULL)
                                     .u64(0x200000000ULL)
                                     .u64(0x300000000ULL))
                           .bytes();
    fattr4 a{};
    ASSERT_TRUE(decode(XDRPROC(xdr_fattr4), wire, &a));
    EXPECT_EQ(a.chown_restricted, TRUE);
    EXPECT_EQ(a.files_avail, 100u);
    EXPECT_EQ(a.files_free, 200u);
    EXPECT_EQ(a.files_total, 300u);
    EXPECT_EQ(a.maxlink, 32000u);
    EXPECT_EQ(a.maxname, 255u);
    EXPECT_EQ(a.no_trunc, FALSE);
    EXPECT_EQ(a.space_avail, 0x100000000ULL);
    EXPECT_EQ(a.space_free, 0x200000000ULL);
    EXPECT_EQ(a.space_total, 0x300000000ULL);
    EXPECT_EQ(encode(XDRPROC(xdr_fattr4), &a), wire);
}

TEST(Xdr4Attributes, OwnerStringsStopAtTheirLimit)
{
    EXPECT_TRUE(decodesAttrs(fullAttrsWire(std::string(NFS4_OWNER_MAX, 'o'))));
    EXPECT_FALSE(decodesAttrs(fullAttrsWire(std::string(NFS4_OWNER_MAX + 1, 'o'))));
    fattr4 a{};
    nfs4BitmapSet(&a.attrmask, FATTR4_OWNER);
    a.owner.len = NFS4_OWNER_MAX + 1;
    bool ok = true;
    encode(XDRPROC(xdr_fattr4), &a, &ok);
    EXPECT_FALSE(ok);
    // An attribute the record cannot hold is never sent.
    fattr4 unknown{};
    nfs4BitmapSet(&unknown.attrmask, 12);
    encode(XDRPROC(xdr_fattr4), &unknown, &ok);
    EXPECT_FALSE(ok);
}

namespace {

Wire compoundReply(uint32_t status, u_int count)
{
    return Wire().u32(status).var("").u32(count);
}

// One result of every kind that carries members, all NFS4_OK but LOCKT.
Wire everyResultWire()
{
    return compoundReply(NFS4_OK, 19)
        .u32(OP_SEQUENCE)
        .u32(NFS4_OK)
        .fixed(sessionId)
        .u32(7)
        .u32(3)
        .u32(15)
        .u32(15)
        .u32(0)
        .u32(OP_PUTROOTFH)
        .u32(NFS4_OK)
        .u32(OP_OPEN)
        .u32(NFS4_OK)
        .append(stateidWire(1))
        .u32(1)
        .u64(2)
        .u64(3)
        .u32(OPEN4_RESULT_CONFIRM)
        .append(bitmapWire({FATTR4_MODE}))
        .u32(OPEN_DELEGATE_WRITE)
        .append(stateidWire(9))
        .u32(0)
        .u32(NFS_LIMIT_BLOCKS)
        .u32(10)
        .u32(512)
        .u32(0)
        .u32(0)
        .u32(0x1f)
        .var("OWNER@")
        .u32(OP_GETFH)
        .u32(NFS4_OK)
        .var("handle")
        .u32(OP_GETATTR)
        .u32(NFS4_OK)
        .append(fullAttrsWire())
        .u32(OP_ACCESS)
        .u32(NFS4_OK)
        .u32(0x3f)
        .u32(0x1f)
        .u32(OP_READ)
        .u32(NFS4_OK)
        .u32(1)
        .var("hello")
        .u32(OP_WRITE)
        .u32(NFS4_OK)
        .u32(5)
        .u32(UNSTABLE4)
        .fixed(verifier)
        .u32(OP_COMMIT)
        .u32(NFS4_OK)
        .fixed(verifier)
        .u32(OP_READDIR)
        .u32(NFS4_OK)
        .fixed(verifier)
        .u32(1)
        .u64(1)
        .var("a")
        .append(fattrWire({FATTR4_FILEID}, Wire().u64(11)))
        .u32(1)
        .u64(2)
        .var("bb")
        .append(fattrWire({FATTR4_FILEID}, Wire().u64(12)))
        .u32(0)
        .u32(1)
        .u32(OP_READLINK)
        .u32(NFS4_OK)
        .var("../target")
        .u32(OP_RENAME)
        .u32(NFS4_OK)
        .u32(1)
        .u64(1)
        .u64(2)
        .u32(0)
        .u64(3)
        .u64(4)
        .u32(OP_CREATE)
        .u32(NFS4_OK)
        .u32(1)
        .u64(1)
        .u64(2)
        .append(bitmapWire({FATTR4_MODE}))
        .u32(OP_SETATTR)
        .u32(NFS4_OK)
        .append(bitmapWire({FATTR4_SIZE}))
        .u32(OP_EXCHANGE_ID)
        .u32(NFS4_OK)
        .u64(0x55)
        .u32(1)
        .u32(EXCHGID4_FLAG_CONFIRMED_R)
        .u32(SP4_NONE)
        .u64(0)
        .var("server-major")
        .var("scope")
        .u32(1)
        .var("example.org")
        .var("server")
        .u64(1)
        .u32(0)
        .u32(OP_CREATE_SESSION)
        .u32(NFS4_OK)
        .fixed(sessionId)
        .u32(1)
        .u32(0)
        .u32(0)
        .u32(1049600)
        .u32(1049600)
        .u32(4096)
        .u32(16)
        .u32(8)
        .u32(0)
        .u32(0)
        .u32(4096)
        .u32(4096)
        .u32(0)
        .u32(2)
        .u32(1)
        .u32(1)
        .u32(4)
        .u32(OP_SECINFO_NO_NAME)
        .u32(NFS4_OK)
        .u32(2)
        .u32(6)
        .var("\x2a\x86\x48")
        .u32(0)
        .u32(RPC_GSS_SVC_PRIVACY)
        .u32(1)
        .u32(OP_SETCLIENTID)
        .u32(NFS4_OK)
        .u64(0x77)
        .fixed(verifier)
        .u32(OP_LOCKT)
        .u32(NFS4ERR_DENIED)
        .u64(0)
        .u64(10)
        .u32(WRITE_LT)
        .u64(0x55)
        .var("other-owner");
}

} // namespace

TEST(Xdr4Results, EveryResultDecodes)
{
    COMPOUND4res res{};
    ASSERT_TRUE(decode(XDRPROC(xdr_COMPOUND4res), everyResultWire().bytes(), &res));
    ASSERT_EQ(res.resarray.resarray_len, 19u);
    const nfs_resop4 *r = res.resarray.resarray_val;
    EXPECT_EQ(r[0].nfs_resop4_u.opsequence.sr_target_highest_slotid, 15u);
    const OPEN4resok &open = r[2].nfs_resop4_u.opopen;
    EXPECT_EQ(open.rflags, static_cast<uint32_t>(OPEN4_RESULT_CONFIRM));
    EXPECT_EQ(open.delegation.delegation_type, OPEN_DELEGATE_WRITE);
    EXPECT_EQ(open.delegation.bytes_per_block, 512u);
    EXPECT_EQ(std::string(open.delegation.permissions.who.val, open.delegation.permissions.who.len),
              "OWNER@");
    EXPECT_EQ(r[4].nfs_resop4_u.opgetattr.fileid, 0x100000001ULL);
    EXPECT_EQ(std::string(r[6].nfs_resop4_u.opread.data.val, 5), "hello");
    EXPECT_TRUE(r[6].nfs_resop4_u.opread.eof);
    const entry4 *second = r[9].nfs_resop4_u.opreaddir.entries->nextentry;
    EXPECT_EQ(std::string(second->name.val, second->name.len), "bb");
    EXPECT_EQ(second->attrs.fileid, 12u);
    EXPECT_TRUE(r[9].nfs_resop4_u.opreaddir.eof);
    EXPECT_EQ(r[14].nfs_resop4_u.opexchange_id.eir_server_impl_id.len, 1u);
    EXPECT_EQ(r[15].nfs_resop4_u.opcreate_session.csr_back_chan_attrs.ca_rdma_ird, 4u);
    const SECINFO4resok &sec = r[16].nfs_resop4_u.opsecinfo_no_name;
    ASSERT_EQ(sec.len, 2u);
    EXPECT_EQ(sec.val[0].flavor_info.service, RPC_GSS_SVC_PRIVACY);
    EXPECT_EQ(sec.val[1].flavor, 1u);
    EXPECT_EQ(r[18].nfs_resop4_u.opdenied.locktype, WRITE_LT);
    release(XDRPROC(xdr_COMPOUND4res), &res);
}

TEST(Xdr4Results, FailuresCarryOnlyTheirMembers)
{
    const Wire reply = compoundReply(NFS4ERR_CLID_INUSE, 5)
                           .u32(OP_OPEN)
                           .u32(NFS4ERR_GRACE)
                           .u32(OP_SETATTR)
                           .u32(NFS4ERR_PERM)
                           .append(bitmapWire({}))
                           .u32(OP_LOCK)
                           .u32(NFS4ERR_DENIED)
                           .u64(1)
                           .u64(2)
                           .u32(READ_LT)
                           .u64(3)
                           .var("o")
                           .u32(OP_READ)
                           .u32(NFS4ERR_DELAY)
                           .u32(OP_SETCLIENTID)
                           .u32(NFS4ERR_CLID_INUSE)
                           .var("tcp")
                           .var("10.0.0.1.8.1");
    COMPOUND4res res{};
    u_int consumed = 0;
    ASSERT_TRUE(decode(XDRPROC(xdr_COMPOUND4res), reply.bytes(), &res, &consumed));
    EXPECT_EQ(consumed, reply.bytes().size());
    EXPECT_EQ(res.resarray.resarray_val[2].nfs_resop4_u.opdenied.offset, 1u);
    const netaddr4 &using4 = res.resarray.resarray_val[4].nfs_resop4_u.opclient_using;
    EXPECT_EQ(std::string(using4.na_r_addr.val, using4.na_r_addr.len), "10.0.0.1.8.1");
    release(XDRPROC(xdr_COMPOUND4res), &res);

    // An operation this client never sends (OPENATTR, 19) leaves the rest unreadable.
    COMPOUND4res unknown{};
    EXPECT_FALSE(
        decode(XDRPROC(xdr_COMPOUND4res), compoundReply(NFS4_OK, 1).u32(19).u32(0).bytes(), &unknown));
    release(XDRPROC(xdr_COMPOUND4res), &unknown);
}

TEST(Xdr4Results, ReadDataLandsInTheCallersBufferAndNoFurther)
{
    auto readReply = [](const std::string &data) {
        return compoundReply(NFS4_OK, 2)
            .u32(OP_PUTFH)
            .u32(NFS4_OK)
            .u32(OP_READ)
            .u32(NFS4_OK)
            .u32(0)
            .var(data)
            .bytes();
    };
    std::string buffer(8, 'z');
    COMPOUND4res res{};
    res.readBuffer = buffer.data();
    res.readCapacity = 8;
    ASSERT_TRUE(decode(XDRPROC(xdr_COMPOUND4res), readReply("12345678"), &res));
    const READ4resok &read = res.resarray.resarray_val[1].nfs_resop4_u.opread;
    EXPECT_EQ(read.data.val, buffer.data());
    EXPECT_EQ(read.data.len, 8u);
    EXPECT_EQ(buffer, "12345678");
    release(XDRPROC(xdr_COMPOUND4res), &res); // must not free the caller's buffer

    buffer.assign(8, 'z');
    COMPOUND4res over{};
    over.readBuffer = buffer.data();
    over.readCapacity = 8;
    EXPECT_FALSE(decode(XDRPROC(xdr_COMPOUND4res), readReply("123456789"), &over));
    EXPECT_EQ(buffer, std::string(8, 'z'));
    release(XDRPROC(xdr_COMPOUND4res), &over);
}

TEST(Xdr4CutShort, EveryOffsetFailsCleanly)
{
    const Bytes full = everyResultWire().bytes();
    EXPECT_EQ((failuresOverEveryCut<COMPOUND4res>(XDRPROC(xdr_COMPOUND4res), full, [](COMPOUND4res &) {})),
              full.size());
    std::string buffer(16, 'z');
    const Bytes read = compoundReply(NFS4_OK, 1).u32(OP_READ).u32(NFS4_OK).u32(0).var("0123456789").bytes();
    EXPECT_EQ((failuresOverEveryCut<COMPOUND4res>(XDRPROC(xdr_COMPOUND4res), read,
                                                  [&buffer](COMPOUND4res &res) {
                                                      res.readBuffer = buffer.data();
                                                      res.readCapacity = 16;
                                                  })),
              read.size());
}

TEST(Xdr4Oversized, EveryVariableItemStopsAtItsLimit)
{
    using xdrtest::BoundedItem;
    auto decodes = xdrtest::decoderOf<COMPOUND4res>(XDRPROC(xdr_COMPOUND4res));
    const BoundedItem items[] = {
        {"tag", decodes, [](u_int) { return Wire().u32(NFS4_OK); }, Wire().u32(0), NFS4_OPAQUE_LIMIT},
        {"file handle", decodes, [](u_int) { return compoundReply(NFS4_OK, 1).u32(OP_GETFH).u32(NFS4_OK); },
         Wire(), NFS4_FHSIZE},
        {"link text", decodes, [](u_int) { return compoundReply(NFS4_OK, 1).u32(OP_READLINK).u32(NFS4_OK); },
         Wire(), NFS4_LINK_MAX},
        {"read data", decodes,
         [](u_int) { return compoundReply(NFS4_OK, 1).u32(OP_READ).u32(NFS4_OK).u32(1); }, Wire(),
         NFS4_MAXDATA_DECODED},
        {"entry name", decodes,
         [](u_int) {
             return compoundReply(NFS4_OK, 1).u32(OP_READDIR).u32(NFS4_OK).fixed(verifier).u32(1).u64(1);
         },
         Wire().u32(0).u32(0).u32(0).u32(1), NFS4_NAME_MAX},
        {"attribute values of an empty mask", decodes,
         [](u_int) { return compoundReply(NFS4_OK, 1).u32(OP_GETATTR).u32(NFS4_OK).u32(0); }, Wire(), 0},
        {"bitmap words", decodes,
         [](u_int) { return compoundReply(NFS4_OK, 1).u32(OP_SETATTR).u32(NFS4_OK); }, Wire(),
         NFS4_BITMAP_MAX_WORDS, true},
        {"server scope", decodes,
         [](u_int) {
             return compoundReply(NFS4_OK, 1)
                 .u32(OP_EXCHANGE_ID)
                 .u32(NFS4_OK)
                 .u64(1)
                 .u32(1)
                 .u32(0)
                 .u32(0)
                 .u64(0)
                 .var("m");
         },
         Wire().u32(0), NFS4_OPAQUE_LIMIT},
        {"security entries", decodes,
         [](u_int) { return compoundReply(NFS4_OK, 1).u32(OP_SECINFO_NO_NAME).u32(NFS4_OK); }, Wire(),
         NFS4_SECINFO_MAX, true},
    };
    for (const BoundedItem &item : items) {
        xdrtest::expectBounded(item);
    }
    auto results = [](u_int n) {
        Wire wire = compoundReply(NFS4_OK, n);
        for (u_int i = 0; i < n; ++i) {
            wire.u32(OP_PUTROOTFH).u32(NFS4_OK);
        }
        return wire.bytes();
    };
    auto listing = [](u_int n) {
        Wire wire = compoundReply(NFS4_OK, 1).u32(OP_READDIR).u32(NFS4_OK).fixed(verifier);
        for (u_int i = 0; i < n; ++i) {
            wire.u32(1).u64(i + 1).var("n").u32(0).u32(0);
        }
        return wire.u32(0).u32(1).bytes();
    };
    EXPECT_TRUE(decodes(listing(NFS4_READDIR_MAX_ENTRIES)));
    EXPECT_FALSE(decodes(listing(NFS4_READDIR_MAX_ENTRIES + 1)));
    EXPECT_TRUE(decodes(results(NFS4_MAX_OPS)));
    EXPECT_FALSE(decodes(results(NFS4_MAX_OPS + 1)));
    const alloccount::Scope allocations;
    EXPECT_FALSE(decodes(compoundReply(NFS4_OK, 0xFFFFFFFC).u32(OP_PUTROOTFH).u32(NFS4_OK).bytes()));
    EXPECT_TRUE(!alloccount::available() || allocations.largestSize() < 4096);
}

TEST(Xdr4Compound, RepliesAreCheckedAgainstTheirRequest)
{
    nfs_argop4 ops[3]{};
    ops[0].argop = OP_SEQUENCE;
    ops[1].argop = OP_PUTFH;
    ops[2].argop = OP_READ;
    const COMPOUND4args args{{}, 1, {3, ops}};
    struct Case {
        const char *name;
        nfsstat4 overall;
        std::vector<std::pair<nfs_opnum4, nfsstat4>> results;
        Nfs4CompoundCheck verdict;
    };
    using C = Nfs4CompoundCheck;
    const Case cases[] = {
        {"all answered",
         NFS4_OK,
         {{OP_SEQUENCE, NFS4_OK}, {OP_PUTFH, NFS4_OK}, {OP_READ, NFS4_OK}},
         C::Complete},
        {"stopped at a failure",
         NFS4ERR_STALE,
         {{OP_SEQUENCE, NFS4_OK}, {OP_PUTFH, NFS4ERR_STALE}},
         C::EndedEarly},
        {"last one failed",
         NFS4ERR_DELAY,
         {{OP_SEQUENCE, NFS4_OK}, {OP_PUTFH, NFS4_OK}, {OP_READ, NFS4ERR_DELAY}},
         C::EndedEarly},
        {"nothing answered", NFS4ERR_MINOR_VERS_MISMATCH, {}, C::EndedEarly},
        {"nothing answered, yet OK", NFS4_OK, {}, C::StatusMismatch},
        {"short, yet OK", NFS4_OK, {{OP_SEQUENCE, NFS4_OK}}, C::StatusMismatch},
        {"went on past a failure",
         NFS4ERR_IO,
         {{OP_SEQUENCE, NFS4ERR_IO}, {OP_PUTFH, NFS4ERR_IO}},
         C::StatusMismatch},
        {"overall status not the last one's",
         NFS4ERR_IO,
         {{OP_SEQUENCE, NFS4ERR_BADSESSION}},
         C::StatusMismatch},
        {"failed overall, all OK",
         NFS4ERR_IO,
         {{OP_SEQUENCE, NFS4_OK}, {OP_PUTFH, NFS4_OK}, {OP_READ, NFS4_OK}},
         C::StatusMismatch},
        {"another operation",
         NFS4_OK,
         {{OP_SEQUENCE, NFS4_OK}, {OP_GETFH, NFS4_OK}, {OP_READ, NFS4_OK}},
         C::OpMismatch},
        {"an illegal one", NFS4ERR_OP_ILLEGAL, {{OP_ILLEGAL, NFS4ERR_OP_ILLEGAL}}, C::OpMismatch},
        {"one too many",
         NFS4_OK,
         {{OP_SEQUENCE, NFS4_OK}, {OP_PUTFH, NFS4_OK}, {OP_READ, NFS4_OK}, {OP_READ, NFS4_OK}},
         C::TooManyResults},
    };
    for (const Case &c : cases) {
        std::vector<nfs_resop4> results(c.results.size());
        for (size_t i = 0; i < results.size(); ++i) {
            results[i].resop = c.results[i].first;
            results[i].status = c.results[i].second;
        }
        const COMPOUND4res res{
            c.overall, {}, {static_cast<u_int>(results.size()), results.data()}, nullptr, 0};
        EXPECT_EQ(nfs4CheckCompound(args, res), c.verdict) << c.name;
    }
}

TEST(Xdr4Status, EveryStatusHasOneNameInOrder)
{
    std::set<std::string> names;
    int32_t previous = -1;
    for (const Nfs4StatusName &entry : nfs4StatusNames) {
        EXPECT_GT(entry.status, previous) << entry.name;
        previous = entry.status;
        EXPECT_TRUE(names.insert(entry.name).second) << entry.name;
    }
    EXPECT_EQ(names.size(), 104u); // NFS4_OK and 103 errors
    EXPECT_STREQ(nfs4StatusName(NFS4ERR_SEQ_MISORDERED), "NFS4ERR_SEQ_MISORDERED");
    EXPECT_STREQ(nfs4StatusName(10063), "NFS4ERR_SEQ_MISORDERED");
    EXPECT_STREQ(nfs4StatusName(10087), "NFS4ERR_DELEG_REVOKED");
    EXPECT_EQ(nfs4StatusName(10073), nullptr);
    EXPECT_EQ(nfs4StatusName(19), nullptr);
}

TEST(Xdr4Results, EveryDelegationFormDecodes)
{
    const Wire ace = Wire().u32(0).u32(0).u32(0x1f).var("EVERYONE@");
    struct Case {
        const char *name;
        Wire delegation;
        bool decodes;
    };
    const Case cases[] = {
        {"none", Wire().u32(OPEN_DELEGATE_NONE), true},
        {"read", Wire().u32(OPEN_DELEGATE_READ).append(stateidWire(2)).u32(1).append(ace), true},
        {"write, size limit",
         Wire().u32(OPEN_DELEGATE_WRITE).append(stateidWire(2)).u32(0).u32(NFS_LIMIT_SIZE).u64(9).append(ace),
         true},
        {"write, unknown limit",
         Wire().u32(OPEN_DELEGATE_WRITE).append(stateidWire(2)).u32(0).u32(3).u64(9).append(ace), false},
        {"none, not wanted", Wire().u32(OPEN_DELEGATE_NONE_EXT).u32(0), true},
        {"none, contention", Wire().u32(OPEN_DELEGATE_NONE_EXT).u32(1).u32(1), true},
        {"none, resource", Wire().u32(OPEN_DELEGATE_NONE_EXT).u32(2).u32(0), true},
        {"none, cancelled", Wire().u32(OPEN_DELEGATE_NONE_EXT).u32(7), true},
        {"unknown type", Wire().u32(4), false},
    };
    for (const Case &c : cases) {
        // A GETFH after the OPEN shows that the delegation took exactly its own bytes.
        const Bytes reply = compoundReply(NFS4_OK, 2)
                                .u32(OP_OPEN)
                                .u32(NFS4_OK)
                                .append(stateidWire(1))
                                .u32(0)
                                .u64(0)
                                .u64(0)
                                .u32(0)
                                .append(bitmapWire({}))
                                .append(c.delegation)
                                .u32(OP_GETFH)
                                .u32(NFS4_OK)
                                .var("fh")
                                .bytes();
        COMPOUND4res res{};
        u_int consumed = 0;
        EXPECT_EQ(decode(XDRPROC(xdr_COMPOUND4res), reply, &res, &consumed), c.decodes) << c.name;
        if (c.decodes) {
            EXPECT_EQ(consumed, reply.size()) << c.name;
            EXPECT_EQ(res.resarray.resarray_val[1].nfs_resop4_u.opgetfh.len, 2u) << c.name;
        }
        release(XDRPROC(xdr_COMPOUND4res), &res);
    }
}
