// File attributes of version 4 replies, names and handles of requests.
#include "state/nfs4FileAttrs.h"

#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <cstdint>
#include <cstring>

using nfsres::Fail;
using nfsres::Result;

bitmap4 nfs4FileAttrRequest()
{
    bitmap4 request{};
    for (const u_int bit :
         {FATTR4_TYPE, FATTR4_CHANGE, FATTR4_SIZE, FATTR4_FSID, FATTR4_FILEID, FATTR4_MODE, FATTR4_NUMLINKS,
          FATTR4_OWNER, FATTR4_OWNER_GROUP, FATTR4_TIME_ACCESS, FATTR4_TIME_METADATA, FATTR4_TIME_MODIFY})
        nfs4BitmapSet(&request, bit);
    return request;
}

uint32_t nfs4IdOf(const char *text, std::size_t length)
{
    const char *at = text == nullptr ? nullptr : static_cast<const char *>(std::memchr(text, '@', length));
    const std::size_t digits = at == nullptr ? length : static_cast<std::size_t>(at - text);
    constexpr std::size_t kMostDigits = 10; // 4294967295
    if (text == nullptr || digits == 0 || digits > kMostDigits)
        return kNfs4Nobody;
    uint64_t id = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return kNfs4Nobody;
        id = id * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return id > UINT32_MAX ? kNfs4Nobody : static_cast<uint32_t>(id);
}

Result<Nfs4Attrs> nfs4AttrsOf(const fattr4 &attrs)
{
    for (const u_int bit : {FATTR4_TYPE, FATTR4_CHANGE, FATTR4_SIZE, FATTR4_FSID, FATTR4_FILEID}) {
        if (!nfs4BitmapHas(attrs.attrmask, bit))
            return Fail{K_EIO};
    }
    Nfs4Attrs out;
    out.type = attrs.type;
    out.change = attrs.change;
    out.size = attrs.size;
    out.fsid = NfsFsid{attrs.fsid.major, attrs.fsid.minor};
    out.fileid = attrs.fileid;
    const auto has = [&attrs](u_int bit) { return nfs4BitmapHas(attrs.attrmask, bit); };
    out.mode = has(FATTR4_MODE) ? attrs.mode : 0;
    out.numlinks = has(FATTR4_NUMLINKS) ? attrs.numlinks : 0;
    out.uid = has(FATTR4_OWNER) ? nfs4IdOf(attrs.owner.val, attrs.owner.len) : kNfs4Nobody;
    out.gid = has(FATTR4_OWNER_GROUP) ? nfs4IdOf(attrs.owner_group.val, attrs.owner_group.len) : kNfs4Nobody;
    out.atime = has(FATTR4_TIME_ACCESS) ? attrs.time_access : nfstime4{};
    out.mtime = has(FATTR4_TIME_MODIFY) ? attrs.time_modify : nfstime4{};
    out.ctime = has(FATTR4_TIME_METADATA) ? attrs.time_metadata : nfstime4{};
    return out;
}

Result<Nfs4Object> nfs4ObjectOf(const nfs_resop4 &getfh, const nfs_resop4 &getattr)
{
    const nfs_fh4 &fh = getfh.nfs_resop4_u.opgetfh;
    Nfs4Object object;
    object.fh = nfsFhOf(fh.val, fh.len);
    if (object.fh.empty())
        return Fail{K_EIO};
    const Result<Nfs4Attrs> attrs = nfs4AttrsOf(getattr.nfs_resop4_u.opgetattr);
    NFS_TRY(attrs);
    object.attrs = attrs.value();
    return object;
}

Result<Nfs4Bytes> nfs4NameOf(const char *name)
{
    if (name == nullptr || *name == '\0' || std::strchr(name, '/') != nullptr)
        return Fail{NFS_ERRNO_INVAL};
    const std::size_t length = std::strlen(name);
    if (length > NFS4_NAME_MAX)
        return Fail{K_ENAMETOOLONG};
    return Nfs4Bytes{static_cast<u_int>(length), const_cast<char *>(name)}; // only encoded
}

void Nfs4Ops::putFh(const NfsFh &fh)
{
    nfs_fh4 &out = add(OP_PUTFH).nfs_argop4_u.opputfh;
    out.len = fh.length;
    std::memcpy(out.val, fh.bytes.data(), fh.length);
}

u_int Nfs4Ops::getFhAndAttrs()
{
    const u_int at = n;
    add(OP_GETFH);
    getAttrs();
    return at;
}

Nfs4StateNow nfs4StateNow(Nfs4ClientState &state)
{
    const SemGuard guard(state.guard);
    return Nfs4StateNow{state.minor, state.clientId};
}
