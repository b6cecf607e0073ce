// Shared main() for the benchmarks: sensible defaults for noisy machines
// (repetitions, random interleaving, medians) and, at the end, the ratios of
// named benchmark pairs measured side by side in the same run.
#pragma once

#include "NetNamespace.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace rvx::bench {

// time(subject) / time(reference), with what the ratio should stay within.
struct RatioPair
{
    std::string subject;
    std::string reference;
    std::string goal;
};

// Keeps the median real time per iteration of every benchmark it reports.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;  // a failed run has no time to compare
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && !medians_.count(run.run_name.str())))
                medians_[run.run_name.str()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios(const std::vector<RatioPair>& pairs) const
    {
        std::printf("\nRatios (median time per iteration, measured side by side):\n");
        for (const RatioPair& pair : pairs) {
            const auto subject = medians_.find(pair.subject);
            const auto reference = medians_.find(pair.reference);
            if (subject == medians_.end() || reference == medians_.end())
                continue;
            if (reference->second <= 0) {
                std::printf("  %-44s / %-34s = n/a      (the reference measured 0; the subject %.3g)\n",
                            pair.subject.c_str(), pair.reference.c_str(), subject->second);
                continue;
            }
            std::printf("  %-44s / %-34s = %5.2fx   (goal %s)\n", pair.subject.c_str(), pair.reference.c_str(),
                        subject->second / reference->second, pair.goal.c_str());
        }
    }

private:
    std::map<std::string, double> medians_;
};

// Runs the registered benchmarks with the defaults below (later command-line
// flags win) and prints the ratios.
inline int RunWithRatios(int argc, char** argv, const std::vector<RatioPair>& pairs)
{
    std::vector<char*> arguments{argv[0]};
    static char repetitions[] = "--benchmark_repetitions=7";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    static char minTime[] = "--benchmark_min_time=0.1";
    for (char* flag : {repetitions, interleave, aggregates, minTime})
        arguments.push_back(flag);
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios(pairs);
    benchmark::Shutdown();
    return 0;
}

// The same inside a private network namespace, for benchmarks that send
// multicast; refuses to run (and sends nothing) without one.
inline int RunInPrivateNetNamespaceWithRatios(int argc, char** argv, const std::vector<RatioPair>& pairs)
{
    std::string why;
    if (!rvx::test::EnterPrivateNetNamespace(&why)) {
        std::fprintf(stderr, "needs a private network namespace (run as root): %s\n", why.c_str());
        return 1;
    }
    return RunWithRatios(argc, argv, pairs);
}

} // namespace rvx::bench
