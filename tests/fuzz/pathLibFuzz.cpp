// The path library: the input is a path; the first byte sizes the output buffers, so that
// results that do not fit are met too. Writing past any buffer fails under ASan.
#include <kernel/pathLib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t room = data[0] % 64 + 1;
    const std::string path(reinterpret_cast<const char *>(data + 1), size - 1);
    const char *text = path.c_str(); // ends at the first NUL, as a caller's string does

    std::vector<char *> names(room % 16 + 1);
    std::vector<char> nameBuf(room);
    if (pathParse(text, names.data(), static_cast<int>(names.size()), nameBuf.data(), room) >= 0) {
        std::vector<char> built(room, '\0');
        pathBuild(names.data(), nullptr, built.data(), room);
    }
    std::vector<char> joined(room);
    pathCat(text, text, joined.data(), room);
    std::vector<char> dir(room);
    std::vector<char> name(room);
    pathSplit(text, dir.data(), room, name.data(), room);
    std::string condensed = path;
    pathCondense(condensed.data());
    return 0;
}
