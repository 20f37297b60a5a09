// The lock owners of this program (nlmOwner.h).
#include "lock/nlmOwner.h"

#include "lock/nlmXdr.h"

#include <unistd.h>

#include <array>

const std::string &nlmCallerName()
{
    static const std::string name = [] {
        std::array<char, 256> host{};
        if (gethostname(host.data(), host.size() - 1) != 0 || host[0] == '\0')
            return std::string("unknown");
        return std::string(host.data());
    }();
    return name;
}

NlmOwner nlmOwnerOf(uintptr_t taskId)
{
    std::string handle = std::to_string(getpid()) + "." + std::to_string(taskId) + "@" + nlmCallerName();
    if (handle.size() > NLM_NETOBJ_MAX)
        handle.resize(NLM_NETOBJ_MAX);
    // The svid is a 32-bit word on the wire; the handle tells tasks apart beyond it.
    return NlmOwner{handle, static_cast<int32_t>(static_cast<uint32_t>(taskId))};
}
