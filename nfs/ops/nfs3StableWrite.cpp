// The stability level that every NFS version 3 WRITE asks for.
#include "core/nfsConfig.h"

#include <brisnel/nfs3Lib.h>
#include <brisnel/nfs3Xdr.h>

extern "C" {

int nfs3StableWriteGet(void) { return nfs3WriteStable; }

int nfs3StableWriteSet(int how)
{
    if (static_cast<unsigned>(how) > FILE_SYNC)
        return -1;
    nfs3WriteStable = how;
    return 0;
}

}
