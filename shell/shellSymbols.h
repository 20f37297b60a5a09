// The loaded modules and the symbols the shell can reach by name: the kernel layer's and
// those of every module loaded with ld, read from their own symbol tables. Nothing else of
// the process (the C library, the RPC library) is reachable.
#ifndef SHELL_SHELLSYMBOLS_H
#define SHELL_SHELLSYMBOLS_H

#include <cstddef>
#include <string>
#include <vector>

namespace shell {

struct Symbol {
    void *address = nullptr;
    bool isRoutine = false;
    std::size_t size = 0; // bytes of a data symbol, as its object file records it
};

struct SymbolEntry {
    std::string name;
    void *address;
    bool isRoutine;
    std::string file;
    std::size_t size;
};

// Folders searched for a module named without a '/', before the loader's own search.
void moduleSearchPathAdd(const std::string &folder);
// Loads the module by path, file name or bare name ("brisnel" for libbrisnel.so); its
// start-up runs. False with error set when it cannot be found or loaded.
bool moduleLoad(const std::string &module, std::string &error, std::string &loadedPath);

bool symbolFind(const std::string &name, Symbol &symbol);
// The paths of the loaded modules, in load order.
std::vector<std::string> moduleList();
// Every routine and word defined by the kernel layer and the loaded modules, sorted by name.
std::vector<SymbolEntry> symbolList();

} // namespace shell

#endif
