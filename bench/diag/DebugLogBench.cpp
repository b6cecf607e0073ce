// Cost of a debug flag query, the check made for every packet, side by side
// with a strlen of the same name (the least any lookup by name must do).
#include "debug_log.h"
#include "debug_log_control.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

const char* const kFlagFile =
    "DEBUG_STARTUP\nDEBUG_REGISTRATION\nENABLE_SETTINGSFILE_DEBUG\nDEBUG_NETWORK_INTERFACE_SELECTION\n"
    "SET_JITTER_BUFFER_500\nDEBUG_JITTER_BUFFER\nORTP_DEBUG_LEVEL_WARNING\nDEBUG_LOCATION\n";

// A flag name as callers pass it, hidden from the optimiser.
const char* flagName(const char* name)
{
    benchmark::DoNotOptimize(name);
    return name;
}

void BM_StrlenBaseline(benchmark::State& state)
{
    const char* name = flagName("BLOCK_LOCAL_MULTICAST_RX");
    for (auto _ : state)
        benchmark::DoNotOptimize(std::strlen(flagName(name)));
}

void BM_IsEnabled_NoFlagsSet(benchmark::State& state)
{
    debug_log_load_flags_from_text("");
    for (auto _ : state)
        benchmark::DoNotOptimize(debug_log_is_enabled(flagName("BLOCK_LOCAL_MULTICAST_RX")));
}

void BM_IsEnabled_EightFlagsSet_Miss(benchmark::State& state)
{
    debug_log_load_flags_from_text(kFlagFile);
    for (auto _ : state)
        benchmark::DoNotOptimize(debug_log_is_enabled(flagName("BLOCK_LOCAL_MULTICAST_RX")));
}

void BM_IsEnabled_EightFlagsSet_Hit(benchmark::State& state)
{
    debug_log_load_flags_from_text(kFlagFile);
    for (auto _ : state)
        benchmark::DoNotOptimize(debug_log_is_enabled(flagName("DEBUG_NETWORK_INTERFACE_SELECTION")));
}

BENCHMARK(BM_StrlenBaseline);
BENCHMARK(BM_IsEnabled_NoFlagsSet);
BENCHMARK(BM_IsEnabled_EightFlagsSet_Miss);
BENCHMARK(BM_IsEnabled_EightFlagsSet_Hit);

} // namespace

BENCHMARK_MAIN();
