// Cycle harness: runs the real engine on the built-in device with the spectrum
// view drawing offscreen, about ten cycles per configuration, and prints per
// configuration the passes per cycle (the figure the statistics line shows,
// median of the last eight cycles) and the work of one pass in milliseconds of
// the timer thread's CPU time (median).
//
//   bench_capture [cycles per configuration, default 10] [--no-drawing]
//                 [--ratio R]
//
// --no-drawing keeps the frames from the view, to tell the cycle's own work
// (ring, transforms, peak tracking) from the drawing's. --ratio R runs on a
// screen of R device pixels per logical pixel (as QT_SCALE_FACTOR=R does);
// sizes stay logical.
#include <QApplication>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <vector>

#include "capture/CaptureEngine.h"
#include "devices/TestSignalDevice.h"
#include "view/SpectrumView.h"

namespace {

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Passes the calls on to the real view and, on the timer thread, notes where
// each cycle begins and how much CPU time each pass took.
class CMeasuringView : public IEngineView {
public:
    CMeasuringView(CSpectrumView& view, const CCaptureEngine& engine, bool bDraw)
        : m_view(view), m_engine(engine), m_bDraw(bDraw) {}

    void BindChannels(CAnalysisChannel* pLeft, CAnalysisChannel* pRight, int nFftSize,
                      int nSampleRate) override {
        m_view.BindChannels(pLeft, pRight, nFftSize, nSampleRate);
    }
    void DrawScale() override { m_view.DrawScale(); }
    bool IsScaleBusy() const override { return m_view.IsScaleBusy(); }
    void SetFftsPerCycle(int nPasses) override { m_view.SetFftsPerCycle(nPasses); }
    void SetSignalLost(bool bLost) override { m_view.SetSignalLost(bLost); }
    void RenderFrame(int nFlags) override {
        if (m_bDraw)
            m_view.RenderFrame(nFlags);
        const double now = ThreadCpuMs();
        std::lock_guard lock(m_lock);
        if (m_engine.m_nPassCount.load() == 0) {
            m_cyclePasses.push_back(0); // the first pass of a new cycle
        } else {
            m_passCpuMs.push_back(now - m_lastCpuMs);
        }
        ++m_cyclePasses.back();
        m_lastCpuMs = now;
    }

    int CompletedCycles() {
        std::lock_guard lock(m_lock);
        return static_cast<int>(m_cyclePasses.size()) - 1;
    }
    std::vector<int> CyclePasses() {
        std::lock_guard lock(m_lock);
        return m_cyclePasses;
    }
    std::vector<double> PassCpuMs() {
        std::lock_guard lock(m_lock);
        return m_passCpuMs;
    }

private:
    CSpectrumView& m_view;
    const CCaptureEngine& m_engine;
    const bool m_bDraw;
    std::mutex m_lock;
    std::vector<int> m_cyclePasses{0};
    std::vector<double> m_passCpuMs;
    double m_lastCpuMs = 0.0;
};

template <typename T> T Median(std::vector<T> v) {
    if (v.empty())
        return T{};
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct SConfig {
    int nWidth;
    int nHeight;
    int nFftSize;
    int bStereo;
    int nMinXSpace;
};

void HandleEventsUntil(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
}

void RunConfig(const SConfig& c, int nCycles, bool bDraw) {
    constexpr int kRate = 44100;
    CSpectrumView view;
    view.resize(c.nWidth, c.nHeight);
    view.show();
    view.UpdateBackBuffer();
    // What Start sets up: the full span, one whole block, the dialog's defaults.
    view.m_nSpanLowHz = static_cast<int>(2.0 * kRate / c.nFftSize + 0.5);
    view.m_nSpanHighHz = kRate / 2;
    view.m_nFftSize = c.nFftSize;
    view.m_nSampleRate = kRate;
    view.m_nMinXSpace = c.nMinXSpace;

    auto* pEngine = new CCaptureEngine();
    CMeasuringView measuring(view, *pEngine, bDraw);
    pEngine->m_pView = &measuring;
    pEngine->m_nSampleRate = kRate;
    pEngine->m_nFftSize = c.nFftSize;
    pEngine->m_nWindowType = 2;
    pEngine->m_nInertia = 3;
    pEngine->m_bStereo = c.bStereo;
    pEngine->m_nLengthMs = static_cast<int>(1000.0 * c.nFftSize / kRate + 0.5);
    pEngine->m_nSpanLowHz = view.m_nSpanLowHz.load();
    pEngine->m_nSpanHighHz = view.m_nSpanHighHz.load();
    view.DrawScale();
    const SCaptureGuid device = CTestSignalDevice::Guid();
    if (pEngine->Open(&device) != 1 || pEngine->Start() != 1) {
        std::printf("could not open the built-in device\n");
        std::exit(1);
    }
    HandleEventsUntil([&] { return measuring.CompletedCycles() >= nCycles; });
    pEngine->m_bStopCycle = 1;
    pEngine->m_nPassCount = 20000;
    pEngine->Stop();
    delete pEngine;
    view.m_pLeftChannel = nullptr;
    view.m_pRightChannel = nullptr;

    std::vector<int> cycles = measuring.CyclePasses();
    cycles.pop_back(); // the one Stop cut short
    const size_t keep = std::min<size_t>(8, cycles.size());
    const std::vector<int> last(cycles.end() - static_cast<long>(keep), cycles.end());
    std::printf("%4dx%-4d  %5d  %-6s  %d            %3d               %6.3f\n", c.nWidth, c.nHeight,
                c.nFftSize, c.bStereo ? "stereo" : "mono", c.nMinXSpace, Median(last),
                Median(measuring.PassCpuMs()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int nCycles = 10;
    bool bDraw = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-drawing") == 0)
            bDraw = false;
        else if (std::strcmp(argv[i], "--ratio") == 0 && i + 1 < argc)
            qputenv("QT_SCALE_FACTOR", argv[++i]); // read when the application starts
        else
            nCycles = std::max(2, std::atoi(argv[i]));
    }
    QApplication app(argc, argv);

    std::printf("Built-in device, 44100 Hz, Hanning, one whole block, %d cycles each%s, "
                "device pixel ratio %.2f\n",
                nCycles, bDraw ? "" : ", frames not drawn", qApp->devicePixelRatio());
    std::printf("view       N      mode    Min X-space  passes/cycle  ms CPU per pass\n");
    struct SSize {
        int nWidth;
        int nHeight;
    };
    for (const SSize size : {SSize{784, 405}, SSize{1920, 1000}})
        for (int n : {4096, 16384})
            for (int stereo : {0, 1})
                for (int minX : {2, 0})
                    RunConfig(SConfig{size.nWidth, size.nHeight, n, stereo, minX}, nCycles, bDraw);
    return 0;
}
