// The SNTP reply check: any datagram is refused with a status or decoded, never read past.
#include "sntpcInternal.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::vector<unsigned char> datagram(data, data + size); // exactly size bytes for ASan
    tovelle::SntpTime time{};
    tovelle::replyDecode(std::span<const unsigned char>(datagram.data(), datagram.size()), time);
    return 0;
}
