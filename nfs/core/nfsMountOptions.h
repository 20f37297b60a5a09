// Module-private: the mount options in their words, read and written.
#ifndef NFS_CORE_NFSMOUNTOPTIONS_H
#define NFS_CORE_NFSMOUNTOPTIONS_H

#include "core/nfsResult.h"

#include <brisnel/nfsDrvLib.h>

#include <cstddef>

// The options of the text (null or empty: none), or NFS_ERR_BAD_OPTION with the option
// refused kept for nfsMountOptionRefused.
nfsres::Result<NfsMountOptions> nfsMountOptionsParse(const char *text);
// The text of the last option this task had refused, cut to fit ("" for none).
const char *nfsMountOptionRefused();
// The options a device of the NFS version uses, in the same words, into the buffer: false when
// they do not fit. Version 2, 3, NFS_VERSION_40 or NFS_VERSION_41; dev is that version's record.
bool nfsMountOptionsText(const void *dev, int version, char *buffer, std::size_t size);

#endif
