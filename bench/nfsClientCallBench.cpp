// The cost of one remote call through nfsClientCall against a scripted server on loopback:
// with the task's handle reused, and with a new handle (portmapper look-up, socket,
// credential) built for every call.
#include "server/scriptedServer.h"

#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/hostLib.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

constexpr uint32_t kProg = 100003;
constexpr const char *kHost = "bench-server";

scripted::ScriptedServer &server()
{
    static std::unique_ptr<scripted::ScriptedServer> instance = [] {
        std::string error;
        auto started = scripted::ScriptedServer::start({.address = "127.0.0.250"}, &error);
        if (started) {
            started->handle(kProg, 3, 0,
                            [](const scripted::RpcCall &, XDR *) { return scripted::Reply::ok(); });
            hostAdd(kHost, "127.0.0.250");
        }
        return started;
    }();
    return *instance;
}

int nullCall()
{
    return nfsClientCall(kHost, kProg, 3, 0, nfsXdrProc(xdr_void), nullptr, nfsXdrProc(xdr_void), nullptr);
}

void BM_CallReusingTheHandle(benchmark::State &state)
{
    server();
    nfsAuthUnixSet("bench", 2001, 100, 0, nullptr);
    for (auto _ : state) {
        if (nullCall() != 0)
            state.SkipWithError("call failed");
    }
}
BENCHMARK(BM_CallReusingTheHandle);

void BM_CallBuildingANewHandle(benchmark::State &state)
{
    server();
    for (auto _ : state) {
        nfsIdSet(2001); // a credential change makes the next call build a new handle
        if (nullCall() != 0)
            state.SkipWithError("call failed");
    }
}
BENCHMARK(BM_CallBuildingANewHandle);

} // namespace

BENCHMARK_MAIN();
