// The module-private configuration words (the exported ones are in brisnel/nfsConfigLib.h). Plain words,
// written at start-up or by the user before mounting, read without locking.
#ifndef NFS_CORE_NFSCONFIG_H
#define NFS_CORE_NFSCONFIG_H

#include <brisnel/nfsConfigLib.h>

#include <cstdint>

extern int32_t nfs3WriteStable;
extern int32_t nfs3MaxCacheLines;
extern int32_t nfs3BytesPerCacheLine;
extern int32_t nfs3CacheOptions;
extern int32_t nfs2MaxCacheLines;
extern int32_t nfs2BytesPerCacheLine;
extern int32_t nfs2CacheOptions;
extern int32_t nfs3DrvNum;
extern int32_t nfs4DrvNum;
extern int32_t nfs2DrvNum;
extern int32_t mutexOptionsNfsDrv;
extern int32_t nfsInstalled;
extern const int32_t nfsMaxPath;

// A mount tunes the transfer words to its server while other tasks' calls read them: both sides
// go through these, so that no task ever reads a word half written.
template <typename Word> Word nfsWordGet(const Word &word)
{
    return __atomic_load_n(&word, __ATOMIC_RELAXED);
}
template <typename Word> void nfsWordSet(Word &word, Word value)
{
    __atomic_store_n(&word, value, __ATOMIC_RELAXED);
}

#endif
