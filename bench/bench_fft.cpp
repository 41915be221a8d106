// Speed of FFTReal::forward_fft for N = 2^10 ... 2^20, measured beside FFTW's
// real-to-complex transform on the same input in the same run. FFTW is only the
// yardstick: the program never links it. At the end the ratio of the times,
// ours / FFTW, is printed for every N with the targets (at most 2.0 at
// N = 16384, the analysis length of a default session, and 3.0 at 2^20).
// FFTReal runs twice: with the kernels it picks for this processor, and with
// the two-lane kernels that machines without AVX2 run.

#include "FastestRunReporter.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "FFTReal/FFTReal.h"
#include "FFTReal/FFTRealKernels.h"

#ifdef TARQUEL_HAVE_FFTW3
#include <fftw3.h>
#endif

namespace {

const int MIN_BITS = 10;
const int MAX_BITS = 20;
const int ROUNDS = 3;

// The same pseudo-random input in [-1, 1) for both transforms.
std::vector<double> benchInput(int64_t n)
{
    std::mt19937_64 gen(12345);
    std::vector<double> x(static_cast<size_t>(n));
    for (double &v : x) {
        v = static_cast<double>(gen() >> 11) * 0x1.0p-52 - 1.0;
    }
    return x;
}

void BM_FFTReal(benchmark::State &state)
{
    const int32_t n = static_cast<int32_t>(state.range(0));
    FFTReal<double> fft(n);
    const std::vector<double> x = benchInput(n);
    std::vector<double> f(x.size());
    for (auto _ : state) {
        fft.forward_fft(f.data(), x.data());
        benchmark::DoNotOptimize(f.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_FFTReal_two_lanes(benchmark::State &state)
{
    FFTReal_select_kernels(FFTRealKernels::Narrow);
    BM_FFTReal(state);
    FFTReal_select_kernels(FFTRealKernels::Automatic);
}

#ifdef TARQUEL_HAVE_FFTW3
void BM_FFTW_r2c(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    double *in = fftw_alloc_real(static_cast<size_t>(n));
    fftw_complex *out = fftw_alloc_complex(static_cast<size_t>(n / 2 + 1));
    // Planning with FFTW_MEASURE overwrites the arrays, so the input is filled
    // afterwards.
    fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    const std::vector<double> x = benchInput(n);
    for (int i = 0; i < n; ++i) {
        in[i] = x[static_cast<size_t>(i)];
    }
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
}
#endif


} // namespace

int main(int argc, char **argv)
{
    // Each length of ours right beside the same length of FFTW, so that both
    // see the same state of the machine, in ROUNDS alternating rounds: the
    // ratio table takes the fastest run of each, which irons out the moments
    // when other work slows the machine down.
    for (int bits = MIN_BITS; bits <= MAX_BITS; ++bits) {
        const int64_t n = int64_t(1) << bits;
        for (int round = 0; round < ROUNDS; ++round) {
            benchmark::RegisterBenchmark("FFTReal_forward_fft", BM_FFTReal)->Arg(n)->Unit(benchmark::kMicrosecond);
#ifdef TARQUEL_HAVE_FFTW3
            benchmark::RegisterBenchmark("FFTW_r2c_measure", BM_FFTW_r2c)->Arg(n)->Unit(benchmark::kMicrosecond);
#endif
            benchmark::RegisterBenchmark("FFTReal_two_lanes", BM_FFTReal_two_lanes)
                ->Arg(n)
                ->Unit(benchmark::kMicrosecond);
        }
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    FastestRunReporter reporter(FastestRunReporter::Clock::Wall);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nFFTReal kernels on this processor: %s\n",
                FFTReal_wide_kernels_active() ? "four lanes (AVX2)" : "two lanes");
#ifdef TARQUEL_HAVE_FFTW3
    const auto ours = reporter.timesByArgument("FFTReal_forward_fft");
    const auto twoLanes = reporter.timesByArgument("FFTReal_two_lanes");
    const auto fftw = reporter.timesByArgument("FFTW_r2c_measure");
    std::printf("%10s %14s %14s %12s %8s %16s %12s\n", "N", "FFTReal (us)", "FFTW (us)", "ours/FFTW", "target",
                "two lanes (us)", "2 lanes/FFTW");
    for (const auto &entry : ours) {
        const auto other = fftw.find(entry.first);
        if (other == fftw.end()) {
            continue;
        }
        const double ratio = entry.second / other->second;
        const char *target = entry.first == 16384 ? "<= 2.0" : entry.first == (int64_t(1) << 20) ? "<= 3.0" : "";
        const auto narrow = twoLanes.find(entry.first);
        const double narrowNs = narrow != twoLanes.end() ? narrow->second : 0.0;
        std::printf("%10lld %14.2f %14.2f %12.2f %8s %16.2f %12.2f\n", static_cast<long long>(entry.first),
                    entry.second / 1e3, other->second / 1e3, ratio, target, narrowNs / 1e3, narrowNs / other->second);
    }
#else
    std::printf("FFTW3 not found at build time: no ratios.\n");
#endif
    return 0;
}
