#include "shellErrno.h"

#include "shellTables.h"
#include "shellWords.h"

#include <kernel/kernelErrno.h>

#include <rpc/clnt.h>

#include <array>
#include <cstdio>
#include <cstring>

namespace shell {
namespace {

constexpr int kModuleShift = 16;
constexpr int kCodeMask = 0xffff;
constexpr int kRpcModule = K_RPC_CLNT_ERRNO_BASE >> kModuleShift;

bool startsWith(const char *text, const char *prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The names defined for the number; a version 3 NFS status name hides its version 2 twin, the
// module's own spelling of the same status, and the version 4 status of the same name (version
// 4's DELAY, version 3's JUKEBOX, shows both).
std::string namesOf(int errorNumber)
{
    std::string names;
    bool nfs3Named = false;
    for (std::size_t i = 0; i < errorNameCount; ++i) {
        const ErrorName &entry = errorNames[i];
        if (entry.value != errorNumber)
            continue;
        if (nfs3Named && (startsWith(entry.name, "NFSERR_") || startsWith(entry.name, "NFS_ERRNO_")))
            continue;
        if (nfs3Named && startsWith(entry.name, "NFS4ERR_") &&
            (names + " ").find(std::string("NFS3ERR_") + (entry.name + std::strlen("NFS4ERR_")) + " ") !=
                std::string::npos)
            continue;
        nfs3Named = nfs3Named || startsWith(entry.name, "NFS3ERR_");
        names += names.empty() ? "" : " or ";
        names += entry.name;
    }
    return names;
}

} // namespace

std::string errnoText(int errorNumber)
{
    std::array<char, 24> hex{};
    std::snprintf(hex.data(), hex.size(), "0x%x", static_cast<unsigned>(errorNumber));
    std::string meaning = namesOf(errorNumber);
    if (meaning.empty() && (errorNumber >> kModuleShift) == kRpcModule)
        meaning = clnt_sperrno(static_cast<clnt_stat>(errorNumber & kCodeMask));
    else if (meaning.empty() && errorNumber > 0 && errorNumber <= kCodeMask)
        meaning = std::strerror(errorNumber); // the network stack's numbers are the host's
    return meaning.empty() ? std::string(hex.data()) : std::string(hex.data()) + " (" + meaning + ")";
}

std::string errnoHint(const std::string &routine, int errorNumber)
{
    constexpr int kNfsStatus = 0x30; // NFS statuses
    constexpr int kNfsOwn = 0x2e;    // the client's own numbers
    const int module = errorNumber >> kModuleShift;
    const bool clients = module == kNfsStatus || module == kNfsOwn;
    const bool ownRoutine = startsWith(routine.c_str(), "nfs") || startsWith(routine.c_str(), "mount");
    if (!clients && !ownRoutine)
        return "";
    const NameInfo info = nameLookUp("nfsErrorHint");
    if (info.what != NameInfo::What::Routine || info.address == nullptr)
        return "";
    using Hint = const char *(*)(int);
    const char *text = reinterpret_cast<Hint>(info.address)(errorNumber);
    return text != nullptr ? text : "";
}

} // namespace shell
