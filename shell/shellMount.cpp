// mount and umount: the NFS client's nfsMountOpt, nfsDevOptShow and nfsUnmount, called by name
// when the module is loaded, with the words a user of the field types.
#include "shellCall.h"
#include "shellErrno.h"
#include "shellExec.h"
#include "shellSymbols.h"

#include <string>

namespace shell {
namespace {

// Calls a routine of the NFS module by name: false, said, when it is not loaded or failed.
bool nfsCall(const char *command, const char *routine, const Values &values, const std::string &what)
{
    const NameInfo info = nameLookUp(routine);
    if (info.what != NameInfo::What::Routine) {
        reportError(std::string(command) + ": " + routine + " is not loaded (ld < brisnel)");
        return false;
    }
    CallResult result;
    std::string error;
    if (!routineCall(routine, info, values, result, error)) {
        reportError(std::string(command) + ": " + error);
        return false;
    }
    if (!result.returnedError)
        return true;
    reportError(std::string(command) + ": " + what + ": errno = " + errnoText(result.errorNumber));
    const std::string hint = errnoHint(routine, result.errorNumber);
    if (!hint.empty())
        reportError("hint: " + hint);
    return false;
}

Value text(const std::string &word)
{
    return Value::pointer(const_cast<char *>(word.c_str()));
}

} // namespace

// mount: the devices with their options. mount [-o options] server:/path /dev: mounts the
// export as the device, the options for it alone.
bool cmdMount(const Words &words, Session &)
{
    if (words.empty())
        return nfsCall("mount", "nfsDevOptShow", {}, "");
    // Commas part words, so the options arrive as words of their own, joined again here.
    const bool hasOptions = words[0] == "-o";
    const std::size_t first = words.size() >= 2 ? words.size() - 2 : 0;
    const std::size_t colon = words[first].find(':');
    if (words.size() < (hasOptions ? 4u : 2u) || (!hasOptions && words.size() != 2) ||
        colon == std::string::npos || colon == 0 || colon + 1 == words[first].size()) {
        reportError("usage: mount [-o options] server:/path /dev");
        return false;
    }
    const std::string host = words[first].substr(0, colon);
    const std::string path = words[first].substr(colon + 1);
    std::string options;
    for (std::size_t i = 1; hasOptions && i < first; ++i)
        options += (i == 1 ? "" : ",") + words[i];
    return nfsCall("mount", "nfsMountOpt", {text(host), text(path), text(words[first + 1]), text(options)},
                   words[first]);
}

bool cmdUmount(const Words &words, Session &)
{
    if (words.size() != 1) {
        reportError("usage: umount /dev");
        return false;
    }
    return nfsCall("umount", "nfsUnmount", {text(words[0])}, words[0]);
}

} // namespace shell
