// The path library: splitting, joining and condensing '/'-separated paths, every routine
// bounded by the sizes it is given.
#include <kernel/pathLib.h>

#include <cstddef>
#include <cstring>
#include <string_view>

namespace {

constexpr char kSep = '/';

// Calls visit(component) for each non-empty component of path, stopping when it returns false.
template <typename Visit> bool forEachComponent(std::string_view path, Visit visit)
{
    std::size_t at = 0;
    while (at < path.size()) {
        if (path[at] == kSep) {
            ++at;
            continue;
        }
        std::size_t end = path.find(kSep, at);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (!visit(path.substr(at, end - at))) {
            return false;
        }
        at = end;
    }
    return true;
}

// Copies text with its terminator into out (size bytes); false when it does not fit.
bool copyOut(std::string_view text, char *out, std::size_t size)
{
    if (out == nullptr || text.size() >= size) {
        return false;
    }
    if (!text.empty()) {
        std::memcpy(out, text.data(), text.size());
    }
    out[text.size()] = '\0';
    return true;
}

} // namespace

extern "C" {

int pathParse(const char *path, char **names, int maxNames, char *nameBuf, size_t bufSize)
{
    if (path == nullptr || names == nullptr || maxNames < 1 || nameBuf == nullptr) {
        return -1;
    }
    int count = 0;
    std::size_t used = 0;
    const bool fits = forEachComponent(path, [&](std::string_view name) {
        if (count + 1 >= maxNames || name.size() >= bufSize - used) {
            return false;
        }
        char *slot = nameBuf + used;
        std::memcpy(slot, name.data(), name.size());
        slot[name.size()] = '\0';
        names[count++] = slot;
        used += name.size() + 1;
        return true;
    });
    names[count] = nullptr;
    return fits ? count : -1;
}

int pathBuild(char **names, char **namesEnd, char *dest, size_t destSize)
{
    if (names == nullptr || dest == nullptr) {
        return -1;
    }
    const std::size_t start = strnlen(dest, destSize);
    if (start >= destSize) {
        return -1;
    }
    std::size_t total = start;
    for (char **p = names; p != namesEnd && *p != nullptr; ++p) {
        total += 1 + std::strlen(*p);
        if (total >= destSize) {
            return -1;
        }
    }
    std::size_t at = start;
    for (char **p = names; p != namesEnd && *p != nullptr; ++p) {
        const std::size_t len = std::strlen(*p);
        dest[at++] = kSep;
        std::memcpy(dest + at, *p, len);
        at += len;
    }
    dest[at] = '\0';
    return 0;
}

int pathCat(const char *dir, const char *name, char *result, size_t resultSize)
{
    if (name == nullptr || result == nullptr) {
        return -1;
    }
    const std::string_view nameText(name);
    if (name[0] == kSep || dir == nullptr || dir[0] == '\0') {
        return copyOut(nameText, result, resultSize) ? 0 : -1;
    }
    const std::string_view dirText(dir);
    const std::size_t total = dirText.size() + 1 + nameText.size();
    if (total >= resultSize) {
        return -1;
    }
    std::memmove(result, dirText.data(), dirText.size());
    result[dirText.size()] = kSep;
    std::memmove(result + dirText.size() + 1, nameText.data(), nameText.size());
    result[total] = '\0';
    return 0;
}

// The result never grows past the input, so it is written over the input as it is read:
// the write position stays at or behind the component being read.
void pathCondense(char *path)
{
    if (path == nullptr) {
        return;
    }
    const std::size_t length = std::strlen(path);
    const bool absolute = path[0] == kSep;
    std::size_t out = absolute ? 1 : 0;
    std::size_t at = 0;
    while (at < length) {
        while (at < length && path[at] == kSep) {
            ++at;
        }
        std::size_t end = at;
        while (end < length && path[end] != kSep) {
            ++end;
        }
        const std::string_view name(path + at, end - at);
        if (name.empty() || name == ".") {
            // nothing to keep
        } else if (name == "..") {
            const std::size_t floor = absolute ? 1 : 0;
            while (out > floor && path[out - 1] != kSep) {
                --out;
            }
            if (out > floor) {
                --out; // the separator in front of the cancelled component
            }
        } else {
            if (out > (absolute ? 1U : 0U)) {
                path[out++] = kSep;
            }
            std::memmove(path + out, name.data(), name.size());
            out += name.size();
        }
        at = end;
    }
    path[out] = '\0';
}

int pathSplit(const char *path, char *dirPart, size_t dirSize, char *name, size_t nameSize)
{
    if (path == nullptr || dirPart == nullptr || name == nullptr) {
        return -1;
    }
    const std::string_view text(path);
    const std::size_t lastSep = text.rfind(kSep);
    std::string_view dirText;
    std::string_view nameText = text;
    if (lastSep != std::string_view::npos) {
        nameText = text.substr(lastSep + 1);
        dirText = text.substr(0, lastSep);
        while (!dirText.empty() && dirText.back() == kSep) {
            dirText.remove_suffix(1);
        }
        if (dirText.empty()) {
            dirText = text.substr(0, 1); // the root
        }
    }
    if (dirText.size() >= dirSize || nameText.size() >= nameSize) {
        return -1;
    }
    copyOut(dirText, dirPart, dirSize);
    copyOut(nameText, name, nameSize);
    return 0;
}

} // extern "C"
