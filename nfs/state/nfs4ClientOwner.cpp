// The client owner and verifier of this program.
#include "state/nfs4ClientOwner.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>

std::string nfs4ClientOwner(uint32_t minor)
{
    std::array<char, 256> host{};
    if (gethostname(host.data(), host.size() - 1) != 0)
        std::strcpy(host.data(), "unknown");
    // The process id tells two programs on one host apart while both run.
    std::string owner = std::string("brisnel:") + host.data() + ":" + std::to_string(getpid()) + ":4." +
                        std::to_string(minor);
    if (owner.size() > NFS4_OPAQUE_LIMIT)
        owner.resize(NFS4_OPAQUE_LIMIT);
    return owner;
}

void nfs4ClientVerifier(verifier4 out)
{
    // Nanoseconds since 1970 when first asked: differs from one run of the program to the next.
    static const uint64_t started =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count());
    for (int i = 0; i < NFS4_VERIFIER_SIZE; ++i)
        out[i] = static_cast<char>((started >> (8 * (NFS4_VERIFIER_SIZE - 1 - i))) & 0xFF);
}
