// Module-private: what both versions' protocol traits (nfs2Protocol.h, nfs3Protocol.h) have in
// the same form, made from the version's types, its type numbers and its REMOVE and RMDIR.
#ifndef NFS_OPS_NFSPROTOCOL_H
#define NFS_OPS_NFSPROTOCOL_H

#include "ops/nfsAttrChange.h"

#include <cstdint>

template <typename HandleT, typename AttrT, typename LookupResT, auto Dir, auto Link, auto Reg,
          uint32_t Remove, uint32_t Rmdir>
struct NfsProtocolTypes {
    using Handle = HandleT;
    using Attr = AttrT;
    using LookupRes = LookupResT;

    static bool isDirectory(const Attr &attr) { return attr.type == Dir; }
    static bool isLink(const Attr &attr) { return attr.type == Link; }
    // What REMOVE or RMDIR takes: a file, a symbolic link (not its target), a directory.
    static bool isRemovable(const Attr &attr)
    {
        return attr.type == Reg || attr.type == Link || attr.type == Dir;
    }
    static uint32_t removeProc(const Attr &attr) { return attr.type == Dir ? Rmdir : Remove; }
};

#endif
