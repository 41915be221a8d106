#ifndef FASTESTRUNREPORTER_H
#define FASTESTRUNREPORTER_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Whether a run ended in an error or was skipped: Google Benchmark before
// 1.8 says so in error_occurred, from 1.8 on in skipped.
template<typename Run>
auto runFailed(const Run &run, int) -> decltype(bool(run.error_occurred))
{
    return run.error_occurred;
}
template<typename Run>
bool runFailed(const Run &run, long)
{
    return static_cast<bool>(run.skipped);
}

// The console output as usual, and the fastest time per iteration of each
// benchmark, in nanoseconds, kept by function name and argument text for the
// ratio tables printed after the runs. Wall time where the work is the
// processor's alone; CPU time where a shared machine may deschedule a reader
// and reading from the page cache is kernel time.
class FastestRunReporter : public benchmark::ConsoleReporter
{
public:
    enum class Clock { Wall, Cpu };

    explicit FastestRunReporter(Clock clock) : clock(clock) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || runFailed(run, 0))
                continue;
            const double time = clock == Clock::Wall ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            const double ns = time * timeUnitToNs(run.time_unit);
            auto &kept = times[run.run_name.function_name];
            auto found = kept.find(run.run_name.args);
            if (found == kept.end() || ns < found->second)
                kept[run.run_name.args] = ns;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The times of one benchmark by its single numeric argument, in order.
    std::map<int64_t, double> timesByArgument(const std::string &name) const
    {
        std::map<int64_t, double> byArgument;
        const auto found = times.find(name);
        if (found != times.end()) {
            for (const auto &entry : found->second)
                byArgument[std::stoll(entry.first)] = entry.second;
        }
        return byArgument;
    }

    std::map<std::string, std::map<std::string, double>> times;

private:
    static double timeUnitToNs(benchmark::TimeUnit unit)
    {
        switch (unit) {
        case benchmark::kSecond: return 1e9;
        case benchmark::kMillisecond: return 1e6;
        case benchmark::kMicrosecond: return 1e3;
        default: return 1.0;
        }
    }

    Clock clock;
};

#endif // FASTESTRUNREPORTER_H
