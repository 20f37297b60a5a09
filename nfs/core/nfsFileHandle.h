// Module-private value types for what identifies a file on a server, whatever the protocol
// version: its handle (opaque bytes, up to version 4's 128) and its file system id (version 4's
// two 64-bit words; versions 2 and 3 use the first word alone). The drivers and the cache keep
// these instead of the wire types, so that one comparison serves every version.
#ifndef NFS_CORE_NFSFILEHANDLE_H
#define NFS_CORE_NFSFILEHANDLE_H

#include <brisnel/nfs2Xdr.h>
#include <brisnel/nfs3Xdr.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

// A file handle: its length and bytes; the bytes past the length are zero, so that two handles
// compare equal exactly when their bytes do.
struct NfsFh {
    static constexpr uint32_t kMostBytes = 128;
    uint32_t length = 0;
    std::array<unsigned char, kMostBytes> bytes{};

    friend bool operator==(const NfsFh &, const NfsFh &) = default;
    bool empty() const { return length == 0; }
};

// A file system id: versions 2 and 3 have one word (major), version 4 two.
struct NfsFsid {
    uint64_t major = 0;
    uint64_t minor = 0;

    friend bool operator==(const NfsFsid &, const NfsFsid &) = default;
};

// The handle of LENGTH bytes at DATA; an empty handle when LENGTH exceeds what a handle holds.
inline NfsFh nfsFhOf(const void *data, uint32_t length)
{
    NfsFh fh;
    if (data == nullptr || length > NfsFh::kMostBytes)
        return fh;
    fh.length = length;
    std::memcpy(fh.bytes.data(), data, length);
    return fh;
}

inline NfsFh nfsFhOf(const nfs_fh3 &fh)
{
    return nfsFhOf(fh.data.data_val, fh.data.data_len);
}

inline NfsFh nfsFhOf(const nfs_fh2 &fh)
{
    return nfsFhOf(fh, NFS_FHSIZE);
}

#endif
