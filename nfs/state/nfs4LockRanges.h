// Module-private: the byte ranges one lock-owner holds through one lock state, kept as the
// server keeps them under POSIX rules: a new lock replaces the owner's own locks over its
// range (splitting them), touching or overlapping ranges of one type merge, an unlock cuts its
// range out. The set is what a server restart has to be given back (nfs4LockReclaim.cpp).
#ifndef NFS_STATE_NFS4LOCKRANGES_H
#define NFS_STATE_NFS4LOCKRANGES_H

#include "xdr/nfs4Xdr.h"

#include <cstdint>
#include <vector>

// A held range: READ_LT or WRITE_LT, from OFFSET, LENGTH bytes (0: to the end of the file).
struct Nfs4HeldRange {
    nfs_lock_type4 type = WRITE_LT;
    uint64_t offset = 0;
    uint64_t length = 0;
};

class Nfs4LockRanges {
public:
    // TYPE granted over LENGTH bytes from OFFSET (0: to the end). False when memory ran out
    // (the set is then left as it was).
    bool lock(nfs_lock_type4 type, uint64_t offset, uint64_t length);
    // The range released, whatever was held over it. False when memory ran out.
    bool unlock(uint64_t offset, uint64_t length);
    // The ranges held, by offset, none touching another of its type.
    std::vector<Nfs4HeldRange> held() const;
    bool empty() const { return spans_.empty(); }

private:
    struct Span {
        nfs_lock_type4 type;
        uint64_t first;
        uint64_t last; // inclusive: UINT64_MAX runs to the end
    };
    bool cut(uint64_t first, uint64_t last, std::vector<Span> &into) const;
    std::vector<Span> spans_; // by first byte, none overlapping
};

#endif
