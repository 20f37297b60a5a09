#include "shellSymbols.h"

#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

namespace shell {
namespace {

struct Module {
    std::string path;
    void *handle;
};

struct Registry {
    std::mutex lock;
    std::vector<std::string> searchPath;
    std::vector<Module> modules;
    std::vector<SymbolEntry> symbols; // sorted by name; made again after each load
    bool stale = true;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

std::vector<std::string> candidatesFor(const std::string &module)
{
    if (module.find('/') != std::string::npos)
        return {module};
    std::vector<std::string> names{module};
    if (module.find(".so") == std::string::npos) {
        names.push_back("lib" + module + ".so");
        names.push_back(module + ".so");
    }
    std::vector<std::string> found;
    for (const std::string &folder : registry().searchPath)
        for (const std::string &name : names)
            found.push_back(std::string(folder).append("/").append(name));
    // Last, the loader's own search (LD_LIBRARY_PATH and the system folders).
    for (const std::string &name : names)
        found.push_back(name);
    return found;
}

// The defined, global routines and data of one ELF file's dynamic symbol table.
void readDynamicSymbols(const std::string &path, uintptr_t loadBase, std::vector<SymbolEntry> &out)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ElfW(Ehdr) header{};
    if (image.size() < sizeof header)
        return;
    std::memcpy(&header, image.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_shentsize != sizeof(ElfW(Shdr)))
        return;
    const std::size_t shCount = header.e_shnum;
    if (header.e_shoff > image.size() || shCount > (image.size() - header.e_shoff) / sizeof(ElfW(Shdr)))
        return;
    std::vector<ElfW(Shdr)> sections(shCount);
    std::memcpy(sections.data(), image.data() + header.e_shoff, shCount * sizeof(ElfW(Shdr)));
    for (const ElfW(Shdr) & section : sections) {
        if (section.sh_type != SHT_DYNSYM || section.sh_link >= shCount)
            continue;
        const ElfW(Shdr) &strings = sections[section.sh_link];
        if (section.sh_offset > image.size() || section.sh_size > image.size() - section.sh_offset ||
            strings.sh_offset > image.size() || strings.sh_size > image.size() - strings.sh_offset)
            return;
        const std::size_t count = section.sh_size / sizeof(ElfW(Sym));
        for (std::size_t i = 0; i < count; ++i) {
            ElfW(Sym) sym{};
            std::memcpy(&sym, image.data() + section.sh_offset + i * sizeof sym, sizeof sym);
            const unsigned type = ELF64_ST_TYPE(sym.st_info);
            const unsigned bind = ELF64_ST_BIND(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF || (type != STT_FUNC && type != STT_OBJECT) ||
                (bind != STB_GLOBAL && bind != STB_WEAK) || sym.st_name >= strings.sh_size)
                continue;
            const char *name = image.data() + strings.sh_offset + sym.st_name;
            const std::size_t room = strings.sh_size - sym.st_name;
            const std::size_t length = strnlen(name, room);
            // C++ names and the loader's own are not the shell's to call.
            if (length == room || length == 0 || std::strncmp(name, "_Z", 2) == 0)
                continue;
            out.push_back(SymbolEntry{std::string(name, length),
                                      reinterpret_cast<void *>(loadBase + sym.st_value), type == STT_FUNC,
                                      path, static_cast<std::size_t>(sym.st_size)});
        }
    }
}

std::string kernelPath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&errnoGet), &info) == 0 || info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
}

uintptr_t loadBaseOf(void *handle)
{
    link_map *map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
        return 0;
    return map->l_addr;
}

} // namespace

void moduleSearchPathAdd(const std::string &folder)
{
    Registry &reg = registry();
    const std::lock_guard guard(reg.lock);
    reg.searchPath.push_back(folder);
}

bool moduleLoad(const std::string &module, std::string &error, std::string &loadedPath)
{
    if (module.empty()) {
        error = "no module named";
        return false;
    }
    for (const std::string &candidate : candidatesFor(module)) {
        if (candidate.find('/') != std::string::npos && !std::filesystem::exists(candidate))
            continue;
        // A module's start-up may set the default path (the boot device's prefix): the
        // shell's working directory stays where the user left it.
        std::array<char, 1024> directory{};
        ioDefPathGet(directory.data(), directory.size());
        void *handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (directory[0] != '\0')
            ioDefPathSet(directory.data());
        if (handle == nullptr) {
            error = dlerror();
            if (candidate.find('/') != std::string::npos)
                return false;
            continue;
        }
        link_map *map = nullptr;
        loadedPath = dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr ? map->l_name : candidate;
        Registry &reg = registry();
        const std::lock_guard guard(reg.lock);
        for (const Module &loaded : reg.modules) {
            if (loaded.handle == handle) {
                dlclose(handle); // drops the count this load added; the module stays
                error = "already loaded: " + loadedPath;
                return false;
            }
        }
        reg.modules.push_back(Module{loadedPath, handle});
        reg.stale = true;
        return true;
    }
    std::string folders;
    for (const std::string &folder : registry().searchPath)
        folders += (folders.empty() ? "" : ", ") + folder;
    error = "no module " + module + " in " + (folders.empty() ? "" : folders + " or ") +
            "the loader's path (" + error + ")";
    return false;
}

namespace {

// The kernel layer's symbols and the loaded modules'; a name defined twice is the first's.
std::vector<SymbolEntry> systemSymbols(const std::vector<Module> &modules)
{
    std::vector<SymbolEntry> all;
    const std::string kernel = kernelPath();
    if (!kernel.empty()) {
        void *handle = dlopen(kernel.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle != nullptr) {
            readDynamicSymbols(kernel, loadBaseOf(handle), all);
            dlclose(handle);
        }
    }
    for (const Module &module : modules)
        readDynamicSymbols(module.path, loadBaseOf(module.handle), all);
    std::stable_sort(all.begin(), all.end(),
                     [](const SymbolEntry &a, const SymbolEntry &b) { return a.name < b.name; });
    all.erase(std::unique(all.begin(), all.end(),
                          [](const SymbolEntry &a, const SymbolEntry &b) { return a.name == b.name; }),
              all.end());
    return all;
}

const std::vector<SymbolEntry> &currentSymbols(Registry &reg)
{
    if (reg.stale) {
        reg.symbols = systemSymbols(reg.modules);
        reg.stale = false;
    }
    return reg.symbols;
}

} // namespace

bool symbolFind(const std::string &name, Symbol &symbol)
{
    Registry &reg = registry();
    const std::lock_guard guard(reg.lock);
    const std::vector<SymbolEntry> &symbols = currentSymbols(reg);
    const auto found =
        std::lower_bound(symbols.begin(), symbols.end(), name,
                         [](const SymbolEntry &entry, const std::string &key) { return entry.name < key; });
    if (found == symbols.end() || found->name != name)
        return false;
    symbol = Symbol{found->address, found->isRoutine, found->size};
    return true;
}

std::vector<SymbolEntry> symbolList()
{
    Registry &reg = registry();
    const std::lock_guard guard(reg.lock);
    return currentSymbols(reg);
}

std::vector<std::string> moduleList()
{
    Registry &reg = registry();
    const std::lock_guard guard(reg.lock);
    std::vector<std::string> paths;
    for (const Module &module : reg.modules)
        paths.push_back(module.path);
    return paths;
}

} // namespace shell
