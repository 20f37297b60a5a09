// The settings a remote call of a device uses: the device's mount options (NfsMountOptions,
// nfsDrvLib.h) where given, else the configuration words, read at the time of the call. The
// driver entries, the mount and the unmount name the device for the task (NfsCallScope); the
// transport, operations and cache ask through the accessors, which give the words alone when
// no device is named.
#ifndef NFS_CORE_NFSCALLSETTINGS_H
#define NFS_CORE_NFSCALLSETTINGS_H

#include <brisnel/nfsDrvLib.h>

#include <cstdint>

// Names the options of the device whose entry runs on this task until the scope ends, the
// device named before restored then. Null names none. The options must outlive the scope.
class NfsCallScope {
public:
    explicit NfsCallScope(const NfsMountOptions *options);
    template <typename Device>
    explicit NfsCallScope(const Device *dev) : NfsCallScope(dev != nullptr ? &dev->options : nullptr)
    {
    }
    ~NfsCallScope();
    NfsCallScope(const NfsCallScope &) = delete;
    NfsCallScope &operator=(const NfsCallScope &) = delete;

private:
    const NfsMountOptions *previous_;
};

// The options named on this task, or null.
const NfsMountOptions *nfsCallOptions();

// NFS version asked with vers= (2, 3, 40, 41), or 0 for the highest the server offers.
int32_t nfsCallVersion();
// The transport word's value for this call (NFS_TRANSPORT_...).
int32_t nfsCallTransport();
// The port given for the program (NFS or MOUNT), or 0: ask the portmapper.
uint16_t nfsCallPort(uint32_t prog);
// Whether a handle to the program on port may serve this call: a port given must be its port.
bool nfsCallPortFits(uint32_t prog, uint16_t port);
// Bytes of one READ or WRITE of the NFS version (2 or 3).
uint32_t nfsCallReadSize(int version);
uint32_t nfsCallWriteSize(int version);
// The largest data count any call of this device may carry (both directions, both versions).
uint32_t nfsCallTransferMost();
// The interval between sends of a call, and the time one call is given.
struct NfsCallTime {
    int32_t sec;
    int32_t usec;
};
NfsCallTime nfsCallReXmit();
NfsCallTime nfsCallTimeout();
// Calls in flight at once (the word's value, unbounded here).
int32_t nfsCallWindow();
// Cache geometry of a new device: the option, else the word given.
int32_t nfsCallLines(int32_t word);
int32_t nfsCallLineSize(int32_t word);

#endif
