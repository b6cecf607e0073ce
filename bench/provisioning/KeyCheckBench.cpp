// Cost of the start-up key check with an existing device key: the agent's
// construction (export, server key import, owner trust: three gpg runs) and
// the device id's fingerprint query (one more gpg run).
#include "DeviceIdentity.h"
#include "KeyManagementAgent.h"

#include "TemporaryGnupgHome.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

namespace {

void BM_StartupKeyCheck(benchmark::State& state)
{
    rvx::test::TemporaryGnupgHome home;
    QTemporaryDir appData;
    KeyManagementAgent::Places places = KeyManagementAgent::Places::standard();
    places.appDataFolder = appData.path() + "/Talkbox/";
    places.serverKeyPath = RVX_BENCH_SERVER_KEY;
    { KeyManagementAgent first(places); }  // makes the key once
    for (auto _ : state) {
        KeyManagementAgent agent(places);
        benchmark::DoNotOptimize(getDeviceId());
    }
}
BENCHMARK(BM_StartupKeyCheck)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
