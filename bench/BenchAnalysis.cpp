// Analysis benchmarks: the channel's transform and single-frequency evaluation,
// the peak-tracking step, and FFTW's complex forward transform of the same sizes
// as the yardstick. Prints the ratio ours / FFTW per size at the end.
//
//   build/bench/bench_analysis [--benchmark_filter=...]

#include "analysis/AnalysisChannel.h"
#include "analysis/LevelScale.h"
#include "analysis/PeakTracker.h"
#include "analysis/distortion/DistortionAnalyser.h"
#include "analysis/loudness/LoudnessMeter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#ifdef VEMRA_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

void FillNoisyTone(CAnalysisChannel& chan) {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> noise(-300, 300);
    for (int i = 0; i < chan.m_nSize; ++i)
        chan.GetSamples()[i] = static_cast<int32_t>(10000 * std::sin(i * 0.1234)) + noise(rng);
}

void BM_Transform(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    CAnalysisChannel chan;
    chan.m_nWindowType = 2;
    chan.Setup(n, n / 44100.0);
    FillNoisyTone(chan);
    for (auto _ : state) {
        chan.Transform();
        benchmark::DoNotOptimize(chan.m_pPower[1]);
    }
}
BENCHMARK(BM_Transform)->RangeMultiplier(2)->Range(1024, 16384);

// The level meter's share of a pass: 10 ms of samples at 44.1 kHz through
// the A weighting and the time weighting.
void BM_MeterPass(benchmark::State& state) {
    std::vector<std::int32_t> anSamples(441);
    for (std::size_t i = 0; i < anSamples.size(); ++i)
        anSamples[i] = static_cast<std::int32_t>(8000 * std::sin(0.1 * double(i)));
    CLevelMeter meter;
    meter.Configure(EWeighting::A, 44100);
    for (auto _ : state) {
        meter.Feed(anSamples.data(), static_cast<int>(anSamples.size()));
        benchmark::DoNotOptimize(meter.ClippedFeeds());
    }
}
BENCHMARK(BM_MeterPass)->Unit(benchmark::kMicrosecond);

void BM_EvaluateAt(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    CAnalysisChannel chan;
    chan.Setup(n, n / 44100.0);
    FillNoisyTone(chan);
    double hz = 1000.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(chan.EvaluateAt(hz));
        hz = hz < 2000.0 ? hz + 0.37 : 1000.0;
    }
}
BENCHMARK(BM_EvaluateAt)->Arg(4096)->Arg(16384);

// Two frequencies in one walk over the block, as the peak tracker's bisection
// takes them: against BM_EvaluateAt, what a pair costs over one.
void BM_EvaluateAtPair(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    CAnalysisChannel chan;
    chan.Setup(n, n / 44100.0);
    FillNoisyTone(chan);
    double hz = 1000.0;
    double e1 = 0.0, e2 = 0.0;
    for (auto _ : state) {
        chan.EvaluateAt(hz, hz + 0.5, e1, e2);
        benchmark::DoNotOptimize(e1 + e2);
        hz = hz < 2000.0 ? hz + 0.37 : 1000.0;
    }
}
BENCHMARK(BM_EvaluateAtPair)->Arg(4096)->Arg(16384);

void BM_TrackPeak(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    CAnalysisChannel chan;
    chan.m_nWindowType = 2;
    chan.Setup(n, n / 44100.0);
    FillNoisyTone(chan);
    chan.Transform();
    for (auto _ : state) {
        TrackPeak(chan, n, 44100, 40, 16000);
        benchmark::DoNotOptimize(chan.m_dPeakHz.load());
    }
}
BENCHMARK(BM_TrackPeak)->Arg(4096)->Arg(16384);

#ifdef VEMRA_HAVE_FFTW
void BM_Fftw(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    fftw_complex* in = fftw_alloc_complex(n);
    fftw_complex* out = fftw_alloc_complex(n);
    fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE);
    for (int i = 0; i < n; ++i) {
        in[i][0] = 10000 * std::sin(i * 0.1234);
        in[i][1] = 0.0;
    }
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out[1][0]);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_Fftw)->RangeMultiplier(2)->Range(1024, 16384);
#endif

// Keeps each run's time per iteration so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

// The distortion readout's work per pass: its own window and transform of
// the block, and the averaging.
void BM_DistortionPass(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    CDistortionAnalyser analyser;
    analyser.Configure(48000, n);
    std::vector<std::int32_t> an(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        an[std::size_t(i)] = static_cast<std::int32_t>(16000 * std::sin(i * 0.1234));
    for (auto _ : state) {
        analyser.Feed(an.data(), n);
        benchmark::DoNotOptimize(analyser.Result().dThdDb);
    }
}
BENCHMARK(BM_DistortionPass)->Arg(4096)->Arg(16384)->Unit(benchmark::kMicrosecond);

// The loudness meter's work for one second of 48 kHz stereo, fed as the
// engine feeds it: its time is the share of a core it takes.
void BM_LoudnessSecond(benchmark::State& state) {
    constexpr int kRate = 48000;
    constexpr int kChunk = 1024;
    CLoudnessMeter meter;
    meter.Configure(kRate);
    std::mt19937 rng(2);
    std::uniform_int_distribution<int> noise(-8000, 8000);
    std::vector<std::int32_t> anLeft(kChunk), anRight(kChunk);
    for (int i = 0; i < kChunk; ++i) {
        anLeft[std::size_t(i)] = noise(rng);
        anRight[std::size_t(i)] = noise(rng);
    }
    for (auto _ : state) {
        for (int n = 0; n < kRate; n += kChunk)
            meter.Feed(anLeft.data(), anRight.data(), std::min(kChunk, kRate - n));
    }
    benchmark::DoNotOptimize(meter.Figures().oShortTerm);
}
BENCHMARK(BM_LoudnessSecond)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
#ifdef VEMRA_HAVE_FFTW
    std::printf("\nTransform / FFTW complex forward (FFTW_MEASURE), same run:\n");
    for (int n = 1024; n <= 16384; n *= 2) {
        const auto ours = reporter.times.find("BM_Transform/" + std::to_string(n));
        const auto fftw = reporter.times.find("BM_Fftw/" + std::to_string(n));
        if (ours != reporter.times.end() && fftw != reporter.times.end())
            std::printf("  N = %5d: %8.2f us / %8.2f us = %.2fx\n", n, ours->second / 1e3,
                        fftw->second / 1e3, ours->second / fftw->second);
    }
#endif
    benchmark::Shutdown();
    return 0;
}
