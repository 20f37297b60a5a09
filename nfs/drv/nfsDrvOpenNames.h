// Module-private: which files are open for data on which device, and the hidden names given to
// such files when their last name was removed or renamed over. A file still open is not
// removed on the server (its descriptors would fail at their next call): it is renamed to a
// hidden name in its folder, ".brisnel-open-" with its file id and a count in hexadecimal,
// which is removed when its last descriptor on this device closes.
#ifndef NFS_DRV_NFSDRVOPENNAMES_H
#define NFS_DRV_NFSDRVOPENNAMES_H

#include <cstdint>
#include <string>
#include <vector>

namespace nfsdrv::opennames {

// One more (or one less) descriptor of the file on the device. closed() gives the hidden paths
// to remove when that was the last one.
void opened(const void *dev, uint64_t fileId);
std::vector<std::string> closed(const void *dev, uint64_t fileId);
bool isOpen(const void *dev, uint64_t fileId);

// A name for the file unlikely to clash with any other, in the folder of the name it had.
std::string hiddenName(uint64_t fileId);
// The file went to hiddenPath (relative to the device): removed at its last close.
void hiddenAdd(const void *dev, uint64_t fileId, std::string hiddenPath);

} // namespace nfsdrv::opennames

#endif
