// Module-private: the check of an exported routine's pointer arguments, made once in its entry.
#ifndef NFS_CORE_NFSARGS_H
#define NFS_CORE_NFSARGS_H

#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>

// True when no argument is null; otherwise false with 0x300016 (a missing argument).
template <typename... Pointers> bool nfsArgsGiven(const Pointers *...pointers)
{
    if ((... && (pointers != nullptr)))
        return true;
    errnoSet(NFS_ERRNO_INVAL);
    return false;
}

#endif
