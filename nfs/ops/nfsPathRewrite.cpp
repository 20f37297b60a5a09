// Paths cut into components and rewritten at symbolic links, for both protocol versions.
#include "ops/nfsPathRewrite.h"

#include <kernel/kernelErrno.h>
#include <kernel/kernelTypes.h>
#include <kernel/pathLib.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace nfspath {

nfsres::Status parse(const char *path, PathNames *parsed)
{
    parsed->count =
        pathParse(path, parsed->names.data(), kMaxNames, parsed->texts.data(), parsed->texts.size());
    return nfsres::statusOf(parsed->count >= 0, K_ENAMETOOLONG);
}

void replace(char *path, const char *text)
{
    std::memcpy(path, text, std::strlen(text) + 1);
}

nfsres::Status linkTextCopy(const NfsLinkText &text, char *buf)
{
    if (text.length == 0 || text.bytes == nullptr)
        return nfsres::Fail{K_ENOENT};
    if (std::memchr(text.bytes, '\0', text.length) != nullptr)
        return nfsres::Fail{K_EIO};
    if (text.length >= NFS_MAX_PATH)
        return nfsres::Fail{K_ENAMETOOLONG};
    std::memcpy(buf, text.bytes, text.length);
    buf[text.length] = '\0';
    return {};
}

int linkTextPart(const NfsLinkText &text, char *buf, std::size_t size)
{
    const std::size_t n = text.bytes == nullptr ? 0 : std::min<std::size_t>({text.length, size, INT_MAX});
    if (n > 0)
        std::memcpy(buf, text.bytes, n);
    return static_cast<int>(n);
}

nfsres::Result<int> throughLink(PathNames &parsed, int at, const char *linkText, char *path)
{
    PathText prefix{};
    PathText rewritten{};
    char **names = parsed.names.data();
    if (pathBuild(names, &names[at], prefix.data(), prefix.size()) != 0 ||
        (prefix[0] == '\0' && pathCat("", "/", prefix.data(), prefix.size()) != 0) ||
        pathCat(prefix.data(), linkText, rewritten.data(), rewritten.size()) != 0 ||
        pathBuild(&names[at + 1], nullptr, rewritten.data(), rewritten.size()) != 0)
        return nfsres::Fail{K_ENAMETOOLONG};
    pathCondense(rewritten.data());
    replace(path, rewritten.data());
    return K_FOLLOW_LINK;
}

nfsres::Result<int> createdLink(const char *dirPart, const char *linkText, char *path)
{
    PathText dir{};
    PathText target{};
    if (pathCat("/", dirPart, dir.data(), dir.size()) != 0 ||
        pathCat(dir.data(), linkText, target.data(), target.size()) != 0)
        return nfsres::Fail{K_ENAMETOOLONG};
    pathCondense(target.data());
    replace(path, target.data());
    return K_FOLLOW_LINK;
}

} // namespace nfspath
