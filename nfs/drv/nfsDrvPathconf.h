// Module-private: the path configuration code (K_FIOPATHCONF) of the versions that serve it:
// each selector the code serves, with its value fixed or taken from the server's limits on
// names and links (version 3's PATHCONF reply, version 4's attributes). Selectors not listed
// (below 3, 14 to 18, above 20) are refused.
#ifndef NFS_DRV_NFSDRVPATHCONF_H
#define NFS_DRV_NFSDRVPATHCONF_H

#include "core/nfsResult.h"

#include <brisnel/nfs3Ops.h>
#include <brisnel/nfsConfigLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <array>

namespace nfsdrv {

namespace pathconfs {

enum Selector : int { kChownRestricted = 4, kLinkMax = 6, kNameMax = 9, kNoTrunc = 10 };
enum class Source { fixed, chownRestricted, linkMax, nameMax, noTrunc };
struct Value {
    int selector;
    Source source;
    int value;
};
inline constexpr std::array<Value, 13> kTable{{
    {3, Source::fixed, 1},
    {kChownRestricted, Source::chownRestricted, 0},
    {5, Source::fixed, 64},
    {kLinkMax, Source::linkMax, 0},
    {7, Source::fixed, 255},
    {8, Source::fixed, 255},
    {kNameMax, Source::nameMax, 0},
    {kNoTrunc, Source::noTrunc, 0},
    {11, Source::fixed, NFS_MAXPATHLEN},
    {12, Source::fixed, 512},
    {13, Source::fixed, 0},
    {19, Source::fixed, 1},
    {20, Source::fixed, 0},
}};

inline int valueOf(const Nfs3PathconfInfo &pc, const Value &entry)
{
    switch (entry.source) {
    case Source::chownRestricted: return static_cast<int>(pc.chown_restricted);
    case Source::linkMax: return static_cast<int>(pc.linkmax);
    case Source::nameMax: return static_cast<int>(pc.name_max);
    case Source::noTrunc: return static_cast<int>(pc.no_trunc);
    default: return entry.value;
    }
}

} // namespace pathconfs

// *pSelector replaced by its value from the server's limits PC; K_EINVAL, the selector left
// alone, for one the code does not serve.
inline nfsres::Result<int> pathconfAnswer(const Nfs3PathconfInfo &pc, int *pSelector)
{
    const auto *chosen =
        std::find_if(pathconfs::kTable.begin(), pathconfs::kTable.end(),
                     [selector = *pSelector](const pathconfs::Value &e) { return e.selector == selector; });
    if (chosen == pathconfs::kTable.end())
        return nfsres::Fail{K_EINVAL};
    *pSelector = pathconfs::valueOf(pc, *chosen);
    return 0;
}

} // namespace nfsdrv

#endif
