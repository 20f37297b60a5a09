// The network help list that nfsHelp points to: the kernel layer's routines for the host table.
#include <kernel/hostLib.h>

#include <cstdio>

namespace {

constexpr const char *kLines[] = {
    "hostAdd \"hostname\",\"inetaddr\"    Add a host to the host table",
    "hostDelete \"hostname\",\"inetaddr\" Delete a host from the host table",
    "hostGetByName \"hostname\"         Look up a host's address (the table, then the resolver)",
    "hostShow                         Print the host table",
    "netHelp                          Print this list",
    "nfsHelp                          Print the NFS client's routines (with brisnel loaded)",
};

} // namespace

extern "C" void netHelp(void)
{
    for (const char *line : kLines)
        std::printf("%s\n", line);
}
