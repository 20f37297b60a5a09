// The module's start-up, run once when the module is loaded: both protocol versions brought
// up with their cache geometry, and version 3 writes sent unstable. Every step runs, whatever
// an earlier one gave.
#include <brisnel/nfs3Lib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsDevLib.h>

namespace {

constexpr int kCacheLines = 16;
constexpr int kBytesPerCacheLine = 16384;

struct StartUp {
    StartUp()
    {
        static_cast<void>(nfsVersionInit(2));
        nfs2CacheParamsSet(kCacheLines, kBytesPerCacheLine, 0);
        static_cast<void>(nfsVersionInit(3));
        nfs3CacheParamsSet(kCacheLines, kBytesPerCacheLine, 0);
        static_cast<void>(nfs3StableWriteSet(0));
        static_cast<void>(nfsVersionInit(4)); // its cache geometry is version 3's, fitted at each mount
    }
};

const StartUp startUp;

} // namespace
