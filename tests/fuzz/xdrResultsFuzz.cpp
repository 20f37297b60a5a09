// Every XDR result decoder of NFS versions 3 and 2, MOUNT and the portmapper list: the first
// byte picks the decoder, the rest is the reply body. A decoded result is always released.
#include <brisnel/mount1Xdr.h>
#include <brisnel/mount3Xdr.h>
#include <brisnel/nfs2Xdr.h>
#include <brisnel/nfs3Xdr.h>

#include <rpc/pmap_prot.h>
#include <rpc/rpc.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

using Decode = void (*)(XDR *);

template <typename T, bool_t (*proc)(XDR *, T *)> void decode(XDR *xdr)
{
    T result{};
    proc(xdr, &result);
    xdr_free(reinterpret_cast<xdrproc_t>(proc), reinterpret_cast<char *>(&result));
}

constexpr std::array kDecoders{
    decode<ACCESS3res, xdr_ACCESS3res>,     decode<COMMIT3res, xdr_COMMIT3res>,
    decode<CREATE3res, xdr_CREATE3res>,     decode<FSINFO3res, xdr_FSINFO3res>,
    decode<FSSTAT3res, xdr_FSSTAT3res>,     decode<GETATTR3res, xdr_GETATTR3res>,
    decode<LINK3res, xdr_LINK3res>,         decode<LOOKUP3res, xdr_LOOKUP3res>,
    decode<MKDIR3res, xdr_MKDIR3res>,       decode<MKNOD3res, xdr_MKNOD3res>,
    decode<PATHCONF3res, xdr_PATHCONF3res>, decode<READ3res, xdr_READ3res>,
    decode<READDIR3res, xdr_READDIR3res>,   decode<READDIRPLUS3res, xdr_READDIRPLUS3res>,
    decode<READLINK3res, xdr_READLINK3res>, decode<REMOVE3res, xdr_REMOVE3res>,
    decode<RENAME3res, xdr_RENAME3res>,     decode<RMDIR3res, xdr_RMDIR3res>,
    decode<SETATTR3res, xdr_SETATTR3res>,   decode<SYMLINK3res, xdr_SYMLINK3res>,
    decode<WRITE3res, xdr_WRITE3res>,       decode<attrstat, xdr_attrstat>,
    decode<diropres, xdr_diropres>,         decode<readlinkres, xdr_readlinkres>,
    decode<readres, xdr_readres>,           decode<readdirres, xdr_readdirres>,
    decode<statfsres, xdr_statfsres>,       decode<fhstatus, xdr_fhstatus>,
    decode<mountres3, xdr_mountres3>,       decode<exports, xdr_exports>,
    decode<mountlist, xdr_mountlist>,       decode<pmaplist *, xdr_pmaplist>,
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    XDR xdr;
    xdrmem_create(&xdr, const_cast<char *>(reinterpret_cast<const char *>(data + 1)),
                  static_cast<u_int>(size - 1), XDR_DECODE);
    kDecoders[data[0] % kDecoders.size()](&xdr);
    xdr_destroy(&xdr);
    return 0;
}
