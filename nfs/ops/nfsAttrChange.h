// Module-private: a change of a file's attributes (SETATTR in both versions): its size, its
// permission bits, its access and modification times. What is not named stays as it is.
#ifndef NFS_OPS_NFSATTRCHANGE_H
#define NFS_OPS_NFSATTRCHANGE_H

#include <cstdint>
#include <optional>

struct NfsAttrChange {
    enum class Times { keep, now, given };
    std::optional<uint64_t> size;
    std::optional<uint32_t> mode; // permission bits, 07777
    Times times = Times::keep;
    int64_t atime = 0; // seconds since 1970, with Times::given
    int64_t mtime = 0;
};

#endif
