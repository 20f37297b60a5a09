// The SNTP reply check: any datagram is refused with a status or decoded, never read past, and
// whether it answers a request is read from its originate timestamp alone.
#include "sntpcInternal.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace {

// The transmit timestamp of the recorded version 4 request, which its seed echoes.
constexpr uint64_t kRequestStamp = 0xE400000000000000u;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::vector<unsigned char> datagram(data, data + size); // exactly size bytes for ASan
    const std::span<const unsigned char> view(datagram.data(), datagram.size());
    tovelle::SntpTime time{};
    (void)tovelle::replyAnswers(view, kRequestStamp);
    tovelle::replyDecode(view, time);
    return 0;
}
