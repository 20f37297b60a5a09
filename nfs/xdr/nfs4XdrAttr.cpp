// The fattr4 attribute record of NFS version 4 (RFC 8881 section 5, RFC 7530 section 5): the
// attributes this client knows, encoded from and decoded into a plain record.
#include "nfs4XdrSupport.h"

#include <array>

using nfs4xdr::counted;
using nfs4xdr::opaqueSize;
using xdrsupport::enumValue;

namespace {

/* typedef utf8str_mixed fattr4_owner;  typedef utf8str_mixed fattr4_owner_group;
 * At most NFS4_OWNER_MAX bytes. */
bool_t xdrOwner(XDR *xdrs, Nfs4Owner *owner)
{
    return counted(xdrs, &owner->len, owner->val, NFS4_OWNER_MAX);
}

/* bool: 0 or 1 on the wire; any other word is refused rather than read as true. */
bool_t xdrBool(XDR *xdrs, bool_t *value)
{
    uint32_t word = *value != 0 ? 1 : 0;
    if (!xdr_uint32_t(xdrs, &word) || word > 1)
        return FALSE;
    *value = static_cast<bool_t>(word);
    return TRUE;
}

/* struct fsid4 { uint64_t major; uint64_t minor; }; */
bool_t xdrFsid(XDR *xdrs, fsid4 *fsid)
{
    return xdr_uint64_t(xdrs, &fsid->major) && xdr_uint64_t(xdrs, &fsid->minor);
}

// One attribute: its number, its value's routine and the bytes the value takes on the wire.
struct Codec {
    u_int bit;
    bool_t (*code)(XDR *, fattr4 *);
    u_int (*size)(const fattr4 &);
};

constexpr u_int settimeSize(const settime4 &t)
{
    return t.set_it == SET_TO_CLIENT_TIME4 ? 16 : 4;
}

// In ascending attribute number, the order of the values on the wire.
const std::array<Codec, 31> codecs{{
    {FATTR4_SUPPORTED_ATTRS, [](XDR *x, fattr4 *a) { return xdr_bitmap4(x, &a->supported_attrs); },
     [](const fattr4 &a) { return 4 + 4 * a.supported_attrs.wireWords; }},
    {FATTR4_TYPE, [](XDR *x, fattr4 *a) { return enumValue(x, &a->type); },
     [](const fattr4 &) { return 4u; }},
    {FATTR4_CHANGE, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->change); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_SIZE, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->size); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_FSID, [](XDR *x, fattr4 *a) { return xdrFsid(x, &a->fsid); }, [](const fattr4 &) { return 16u; }},
    {FATTR4_LEASE_TIME, [](XDR *x, fattr4 *a) { return xdr_uint32_t(x, &a->lease_time); },
     [](const fattr4 &) { return 4u; }},
    {FATTR4_RDATTR_ERROR, [](XDR *x, fattr4 *a) { return xdr_nfsstat4(x, &a->rdattr_error); },
     [](const fattr4 &) { return 4u; }},
    {FATTR4_CHOWN_RESTRICTED, [](XDR *x, fattr4 *a) { return xdrBool(x, &a->chown_restricted); },
     [](const fattr4 &) { return 4u; }},
    {FATTR4_FILEHANDLE, [](XDR *x, fattr4 *a) { return xdr_nfs_fh4(x, &a->filehandle); },
     [](const fattr4 &a) { return opaqueSize(a.filehandle.len); }},
    {FATTR4_FILEID, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->fileid); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_FILES_AVAIL, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->files_avail); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_FILES_FREE, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->files_free); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_FILES_TOTAL, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->files_total); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_MAXLINK, [](XDR *x, fattr4 *a) { return xdr_uint32_t(x, &a->maxlink); },
     [](const fattr4 &) { return 4u; }},
    {FATTR4_MAXNAME, [](XDR *x, fattr4 *a) { return xdr_uint32_t(x, &a->maxname); },
     [](const fattr4 &) { return 4u; }},
    {FATTR4_MAXREAD, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->maxread); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_MAXWRITE, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->maxwrite); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_MODE, [](XDR *x, fattr4 *a) { return xdr_uint32_t(x, &a->mode); },
     [](const fattr4 &) { return 4u; }},
    {FATTR4_NO_TRUNC, [](XDR *x, fattr4 *a) { return xdrBool(x, &a->no_trunc); },
     [](const fattr4 &) { return 4u; }},
    {FATTR4_NUMLINKS, [](XDR *x, fattr4 *a) { return xdr_uint32_t(x, &a->numlinks); },
     [](const fattr4 &) { return 4u; }},
    {FATTR4_OWNER, [](XDR *x, fattr4 *a) { return xdrOwner(x, &a->owner); },
     [](const fattr4 &a) { return opaqueSize(a.owner.len); }},
    {FATTR4_OWNER_GROUP, [](XDR *x, fattr4 *a) { return xdrOwner(x, &a->owner_group); },
     [](const fattr4 &a) { return opaqueSize(a.owner_group.len); }},
    {FATTR4_SPACE_AVAIL, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->space_avail); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_SPACE_FREE, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->space_free); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_SPACE_TOTAL, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->space_total); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_SPACE_USED, [](XDR *x, fattr4 *a) { return xdr_uint64_t(x, &a->space_used); },
     [](const fattr4 &) { return 8u; }},
    {FATTR4_TIME_ACCESS, [](XDR *x, fattr4 *a) { return xdr_nfstime4(x, &a->time_access); },
     [](const fattr4 &) { return 12u; }},
    {FATTR4_TIME_ACCESS_SET, [](XDR *x, fattr4 *a) { return xdr_settime4(x, &a->time_access_set); },
     [](const fattr4 &a) { return settimeSize(a.time_access_set); }},
    {FATTR4_TIME_METADATA, [](XDR *x, fattr4 *a) { return xdr_nfstime4(x, &a->time_metadata); },
     [](const fattr4 &) { return 12u; }},
    {FATTR4_TIME_MODIFY, [](XDR *x, fattr4 *a) { return xdr_nfstime4(x, &a->time_modify); },
     [](const fattr4 &) { return 12u; }},
    {FATTR4_TIME_MODIFY_SET, [](XDR *x, fattr4 *a) { return xdr_settime4(x, &a->time_modify_set); },
     [](const fattr4 &a) { return settimeSize(a.time_modify_set); }},
}};

const Codec *codecOf(u_int bit)
{
    for (const Codec &codec : codecs) {
        if (codec.bit == bit)
            return &codec;
    }
    return nullptr;
}

// Every bit of the mask is a known attribute.
bool allKnown(const bitmap4 &mask)
{
    if (mask.beyond)
        return false;
    for (u_int bit = 0; bit < 32 * NFS4_BITMAP_WORDS; ++bit) {
        if (nfs4BitmapHas(mask, bit) && codecOf(bit) == nullptr)
            return false;
    }
    return true;
}

// The values' bytes of the attributes in the mask, each as it stands in the record.
u_int valuesSize(const fattr4 &attrs)
{
    u_int total = 0;
    for (const Codec &codec : codecs) {
        if (nfs4BitmapHas(attrs.attrmask, codec.bit)) {
            total += codec.size(attrs);
        }
    }
    return total;
}

// The values in attribute order, each counted against the declared length as it is read.
bool_t values(XDR *xdrs, fattr4 *attrs, u_int length)
{
    u_int consumed = 0;
    for (const Codec &codec : codecs) {
        if (!nfs4BitmapHas(attrs->attrmask, codec.bit))
            continue;
        if (!codec.code(xdrs, attrs))
            return FALSE;
        consumed += codec.size(*attrs);
        if (consumed > length)
            return FALSE;
    }
    return consumed == length ? TRUE : FALSE;
}

} // namespace

/* typedef opaque attrlist4<>;
 * struct fattr4 { bitmap4 attrmask; attrlist4 attr_vals; };
 * The values' layout follows from the mask alone, so a mask with an attribute this client does
 * not know, or values longer than NFS4_ATTRS_MAX, is refused; so is a length that disagrees
 * with the values the mask names. */
bool_t xdr_fattr4(XDR *xdrs, fattr4 *objp)
{
    if (xdrs->x_op == XDR_FREE)
        return TRUE;
    if (xdrs->x_op == XDR_ENCODE) {
        objp->supported_attrs.wireWords = nfs4xdr::bitmapWords(objp->supported_attrs);
    }
    if (!xdr_bitmap4(xdrs, &objp->attrmask) || !allKnown(objp->attrmask))
        return FALSE;
    u_int length = valuesSize(*objp);
    if (!xdr_u_int(xdrs, &length) || length > NFS4_ATTRS_MAX)
        return FALSE;
    return values(xdrs, objp, length);
}
