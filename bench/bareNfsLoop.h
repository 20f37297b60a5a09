// The floor of the data figures: the READ and WRITE calls that the client makes for a
// sequential transfer, sent by a bare loop on one RPC library handle with hand-written
// encoders, and nothing else.
#ifndef BENCH_BARENFSLOOP_H
#define BENCH_BARENFSLOOP_H

#include <rpc/rpc.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

class BareNfsLoop {
public:
    // Looks NAME up in the export's root (through the module's MOUNT client); valid() tells.
    BareNfsLoop(const std::string &host, const std::string &exportPath, const std::string &name,
                uint32_t largestTransfer);
    BareNfsLoop(const BareNfsLoop &) = delete;
    BareNfsLoop &operator=(const BareNfsLoop &) = delete;
    ~BareNfsLoop();
    bool valid() const { return handle_ != nullptr && !fh_.empty(); }

    // READs of `transfer` bytes from 0 until one brings no data: the bytes read.
    uint64_t readAll(uint32_t transfer);
    // For each line of `lineSize` bytes: one READ of the line first when `fillLines` (the
    // fill of a partly written line of a new file), then UNSTABLE WRITEs of `transfer` bytes.
    bool writeAll(uint64_t size, uint32_t lineSize, uint32_t transfer, bool fillLines);

private:
    bool read(uint64_t offset, uint32_t count, uint32_t *got, bool *eof);
    bool write(uint64_t offset, uint32_t count);

    CLIENT *handle_ = nullptr;
    std::vector<char> fh_;
    std::vector<char> data_;
};

} // namespace bench

#endif
