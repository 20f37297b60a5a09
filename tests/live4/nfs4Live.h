// What the version 4 live tests share: a user of the server's state for a test's length.
#ifndef TESTS_LIVE4_NFS4LIVE_H
#define TESTS_LIVE4_NFS4LIVE_H

#include "live/liveServer.h"

#include "state/nfs4ClientState.h"

#include <gtest/gtest.h>

// A user of the server's state for the test's length.
class StateUser {
public:
    explicit StateUser(Nfs4Minors minors = Nfs4Minors::Automatic)
    {
        const nfsres::Result<Nfs4ClientState *> acquired = nfs4StateAcquire(live::host().c_str(), minors);
        EXPECT_TRUE(acquired.ok()) << std::hex << acquired.error();
        state_ = acquired.ok() ? acquired.value() : nullptr;
    }
    StateUser(const StateUser &) = delete;
    StateUser &operator=(const StateUser &) = delete;
    ~StateUser() { release(); }
    void release()
    {
        nfs4StateRelease(state_);
        state_ = nullptr;
    }
    Nfs4ClientState &operator*() const { return *state_; }
    bool ok() const { return state_ != nullptr; }

private:
    Nfs4ClientState *state_ = nullptr;
};

#endif
