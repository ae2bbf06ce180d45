// Generator harness: what the signal generator costs a core.
//
//   build/bench/bench_generator            synthesis alone, per signal
//   build/bench/bench_generator --live     also 10 s of pink noise played
//                                          through the sound server
//
// The synthesis runs in the stream's own chunks (10 ms at 48 kHz) and is
// timed on the thread's CPU clock: its time over the sound's gives the share
// of a core. Played live, the whole process's CPU over the wall time gives
// it with the server connection's own thread included.

#include "devices/generator/GeneratorPlayer.h"
#include "devices/generator/SignalGenerator.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kChunk = 480;
constexpr int kSeconds = 20;

double CpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

void Synthesis(ESignal eSignal, const char* pszName) {
    CSignalGenerator gen;
    gen.Prepare(kRate, 16384);
    SGeneratorSettings settings;
    settings.eSignal = eSignal;
    gen.SetSettings(settings);
    gen.Play();
    std::vector<int16_t> frames(2 * kChunk);
    const double dStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    for (int n = 0; n < kSeconds * kRate / kChunk; ++n)
        gen.Render(frames.data(), kChunk);
    const double dCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - dStart;
    std::printf("%-20s %7.3f %% of a core (%.1f ms CPU for %d s of sound)\n", pszName,
                100.0 * dCpu / kSeconds, 1000.0 * dCpu, kSeconds);
}

int Live() {
    CGeneratorPlayer player;
    if (player.Play(SPlaybackOutput{}, kRate, 16384, SGeneratorSettings{}) < 0) {
        std::printf("live: no sound server to play through\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double dCpu0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double dCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - dCpu0;
    const double dWall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    std::printf("live pink noise      %7.3f %% of a core, latency %.1f ms, %lld underruns\n",
                100.0 * dCpu / dWall, 1000.0 * player.LatencySeconds(), player.Underruns());
    player.Shutdown();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Synthesis(ESignal::PinkNoise, "pink noise");
    Synthesis(ESignal::WhiteNoise, "white noise");
    Synthesis(ESignal::PeriodicPinkNoise, "periodic pink noise");
    Synthesis(ESignal::Sine, "sine");
    Synthesis(ESignal::LogSweep, "log sweep");
    if (argc > 1 && std::strcmp(argv[1], "--live") == 0)
        return Live();
    return 0;
}
