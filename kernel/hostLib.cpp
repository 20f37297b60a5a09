// The host table: names added with hostAdd come first, then dotted addresses, then the
// system resolver. Host names compare without regard to letter case.
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxHostEntries = 64;

struct HostEntry {
    std::string name;
    in_addr_t address; // network byte order
};

// Guards the entries; resolver calls are made without it.
struct HostTable {
    std::mutex lock;
    std::vector<HostEntry> entries;
};

HostTable &hostTable()
{
    static auto *table = new HostTable;
    return *table;
}

bool validName(const char *name)
{
    return name != nullptr && name[0] != '\0' && std::strlen(name) <= K_HOST_NAME_MAX;
}

bool parseDotted(const char *text, in_addr_t *address)
{
    in_addr parsed{};
    if (text == nullptr || inet_pton(AF_INET, text, &parsed) != 1)
        return false;
    *address = parsed.s_addr;
    return true;
}

bool lookUpTable(const char *name, in_addr_t *address)
{
    HostTable &table = hostTable();
    std::lock_guard guard(table.lock);
    for (const HostEntry &entry : table.entries) {
        if (strcasecmp(entry.name.c_str(), name) == 0) {
            *address = entry.address;
            return true;
        }
    }
    return false;
}

bool lookUpResolver(const char *name, in_addr_t *address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    sockaddr_in resolved{};
    std::memcpy(&resolved, found->ai_addr, sizeof resolved);
    freeaddrinfo(found);
    *address = resolved.sin_addr.s_addr;
    return true;
}

int fail(int errorNumber)
{
    errnoSet(errorNumber);
    return -1;
}

} // namespace

extern "C" {

int hostAdd(const char *hostName, const char *hostAddr)
{
    in_addr_t address = 0;
    if (!validName(hostName) || !parseDotted(hostAddr, &address))
        return fail(K_HOST_INVALID_PARAMETER);
    HostTable &table = hostTable();
    std::lock_guard guard(table.lock);
    for (const HostEntry &entry : table.entries) {
        if (strcasecmp(entry.name.c_str(), hostName) == 0 && entry.address == address)
            return 0;
    }
    if (table.entries.size() >= kMaxHostEntries)
        return fail(K_HOST_TABLE_FULL);
    table.entries.push_back({hostName, address});
    return 0;
}

int hostDelete(const char *hostName, const char *hostAddr)
{
    in_addr_t address = 0;
    if (!validName(hostName) || !parseDotted(hostAddr, &address))
        return fail(K_HOST_INVALID_PARAMETER);
    HostTable &table = hostTable();
    std::lock_guard guard(table.lock);
    for (auto it = table.entries.begin(); it != table.entries.end(); ++it) {
        if (strcasecmp(it->name.c_str(), hostName) == 0 && it->address == address) {
            table.entries.erase(it);
            return 0;
        }
    }
    return fail(K_HOST_UNKNOWN);
}

int hostGetByName(const char *name)
{
    in_addr_t address = 0;
    if (!validName(name))
        return fail(K_HOST_UNKNOWN);
    if (lookUpTable(name, &address) || parseDotted(name, &address) || lookUpResolver(name, &address))
        return static_cast<int>(address);
    return fail(K_HOST_UNKNOWN);
}

void hostShow(void)
{
    HostTable &table = hostTable();
    std::lock_guard guard(table.lock);
    std::printf("%-32s %s\n", "hostname", "inet address");
    std::printf("%-32s %s\n", "--------", "------------");
    for (const HostEntry &entry : table.entries) {
        char dotted[INET_ADDRSTRLEN] = "";
        in_addr address{};
        address.s_addr = entry.address;
        inet_ntop(AF_INET, &address, dotted, sizeof dotted);
        std::printf("%-32s %s\n", entry.name.c_str(), dotted);
    }
}
}
