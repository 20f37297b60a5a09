// A small NFS version 2 file server on the scripted server, backed by a folder of this
// machine, with MOUNT version 1: LOOKUP, GETATTR, SETATTR, READ, WRITE, CREATE, MKDIR, REMOVE,
// RMDIR, RENAME, LINK, SYMLINK, READLINK, READDIR, STATFS; MNT, UMNT, UMNTALL, EXPORT, DUMP. No
// real server speaks version 2 here. Faults can be switched on: READ answering a full piece at
// any offset (data past the end, forever) or nothing at all; READDIR giving every entry the
// same cookie, each two entries one cookie, every entry twice, or its first batch whatever the
// cookie; WRITE refused;
// LOOKUPs failing; READLINK answering a text of the test's choosing.
#ifndef TESTS_SERVER_NFS2FOLDERSERVER_H
#define TESTS_SERVER_NFS2FOLDERSERVER_H

#include "server/scriptedServer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace scripted {

class Nfs2FolderServer {
public:
    // Serves `folder` as the export `exportPath` on server, which keeps the handlers.
    Nfs2FolderServer(ScriptedServer &server, std::string folder, std::string exportPath);

    struct Faults {
        std::atomic<bool> readPastEnd{false};
        std::atomic<bool> repeatedCookies{false};
        std::atomic<bool> refuseWrites{false};     // WRITE fails with NFSERR_IO, writing nothing
        std::atomic<bool> emptyReads{false};       // READ answers no data at any offset
        std::atomic<int> lookUpFailures{0};        // this many LOOKUPs fail with NFSERR_IO
        std::atomic<bool> doubledEntries{false};   // READDIR sends each entry twice, same cookie
        std::atomic<bool> firstBatchAlways{false}; // READDIR answers every cookie as cookie 0
        std::atomic<bool> pairedCookies{false};    // READDIR gives each two entries one cookie
    };
    Faults &faults() { return state_->faults; }

    struct State {
        std::mutex lock;
        std::string folder;
        std::string exportPath;
        std::vector<std::string> paths; // handle number -> path relative to the folder
        Faults faults;
        std::optional<std::string> linkText;           // READLINK answers these bytes, whatever the link
        std::vector<std::array<uint32_t, 8>> setattrs; // every SETATTR's sattr words, in order
    };
    // Under the state's lock.
    void linkTextSet(std::optional<std::string> text);
    std::vector<std::array<uint32_t, 8>> setattrs() const;

private:
    std::shared_ptr<State> state_;
};

} // namespace scripted

#endif
