// Cycle harness: runs the real engine on the built-in device with the spectrum
// view drawing offscreen, about ten cycles per configuration, and prints per
// configuration the passes per cycle (the figure the statistics line shows,
// median of the last eight cycles), the frames drawn and painted per second,
// the mean work of one pass in milliseconds of the timer thread's CPU time
// (the view draws its frames on a thread of its own), and the age of the
// newest frame when it is painted: the time since the pass whose arrays it
// shows ended (median and largest).
//
//   bench_capture [cycles per configuration, default 10] [--no-drawing]
//                 [--ratio R] [--spectrogram]
//
// The view is a shown window of the offscreen platform, whose screen refreshes
// at 60 Hz, and this thread handles its events every few milliseconds: the
// frames are drawn for a window that is painted at each refresh, as on a
// desktop. --no-drawing keeps the frames from the view, to tell the cycle's
// own work (ring, transforms, peak tracking) from the drawing's. --ratio R
// runs on a screen of R device pixels per logical pixel (as QT_SCALE_FACTOR=R
// does); sizes stay logical. --spectrogram runs each configuration twice, the
// second time with the spectrogram shown (10 s of history), to compare in
// one run.
#include <QApplication>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
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

double SteadyMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The view, noting the age of the newest frame at each paint that shows one
// it has not shown before: the time since the pass whose arrays it shows.
class CTimedView : public CSpectrumView {
public:
    std::vector<double> m_adAgeMs; // user-interface thread only
    int m_nPaints = 0;             // user-interface thread only

protected:
    void paintEvent(QPaintEvent* pEvent) override {
        const double dPassMs = static_cast<double>(FrontPassNs()) / 1e6;
        CSpectrumView::paintEvent(pEvent);
        if (dPassMs > m_dLastShownMs) {
            m_adAgeMs.push_back(SteadyMs() - dPassMs);
            m_dLastShownMs = dPassMs;
        }
        ++m_nPaints;
    }

private:
    double m_dLastShownMs = 0.0;
};

// Passes the calls on to the real view and, on the timer thread, notes where
// each cycle begins, how much CPU time the passes took and how many frames
// they drew.
class CMeasuringView : public IEngineView {
public:
    CMeasuringView(CTimedView& view, const CCaptureEngine& engine, bool bDraw)
        : m_view(view), m_engine(engine), m_bDraw(bDraw) {}

    void BindChannels(CAnalysisChannel* pLeft, CAnalysisChannel* pRight, int nFftSize,
                      int nSampleRate) override {
        m_view.BindChannels(pLeft, pRight, nFftSize, nSampleRate);
    }
    void BindTransfer(const CTransferFunction* pTransfer) override {
        m_view.BindTransfer(pTransfer);
    }
    void DrawScale() override { m_view.DrawScale(); }
    bool IsScaleBusy() const override { return m_view.IsScaleBusy(); }
    void SetSignalLost(bool bLost) override { m_view.SetSignalLost(bLost); }
    // The frames are the view's own, drawn on its frame thread.
    void NewArrays(int nFlags) override {
        if (m_bDraw)
            m_view.NewArrays(nFlags);
    }
    // Every pass hands its count on, drawing or not.
    void SetFftsPerCycle(int nPasses) override {
        m_view.SetFftsPerCycle(nPasses);
        const double now = ThreadCpuMs();
        std::lock_guard lock(m_lock);
        if (m_engine.m_nPassCount.load() == 0) {
            m_cycles.push_back(SCycle{}); // the first pass of a new cycle
        } else {
            m_dPassCpuMs += now - m_lastCpuMs;
            ++m_nPassesTimed;
        }
        ++m_cycles.back().nPasses;
        m_lastCpuMs = now;
    }
    struct SCycle {
        int nPasses = 0;
    };
    int CompletedCycles() {
        std::lock_guard lock(m_lock);
        return static_cast<int>(m_cycles.size()) - 1;
    }
    std::vector<SCycle> Cycles() {
        std::lock_guard lock(m_lock);
        return m_cycles;
    }
    double MeanPassCpuMs() {
        std::lock_guard lock(m_lock);
        return m_nPassesTimed > 0 ? m_dPassCpuMs / m_nPassesTimed : 0.0;
    }

private:
    CTimedView& m_view;
    const CCaptureEngine& m_engine;
    const bool m_bDraw;
    std::mutex m_lock;
    std::vector<SCycle> m_cycles{SCycle{}};
    double m_dPassCpuMs = 0.0;
    int m_nPassesTimed = 0;
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
    bool bSpectrogram = false;
    bool bTransfer = false; // the transfer-function mode (both channels whatever bStereo says)
};

void HandleEventsUntil(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
}

void RunConfig(const SConfig& c, int nCycles, bool bDraw) {
    constexpr int kRate = 44100;
    CTimedView view;
    view.resize(c.nWidth, c.nHeight);
    view.show();
    view.UpdateBackBuffer();
    // What Start sets up: the full span, one whole block, the dialog's defaults.
    view.m_nSpanLowHz = static_cast<int>(2.0 * kRate / c.nFftSize + 0.5);
    view.m_nSpanHighHz = kRate / 2;
    view.m_nFftSize = c.nFftSize;
    view.m_nSampleRate = kRate;
    view.m_nMinXSpace = c.nMinXSpace;
    view.SetSpectrogram(c.bSpectrogram, CSpectrumView::kDefaultHistorySeconds);
    view.SetTransferMode(c.bTransfer);

    auto* pEngine = new CCaptureEngine();
    CMeasuringView measuring(view, *pEngine, bDraw);
    pEngine->m_pView = &measuring;
    pEngine->m_nSampleRate = kRate;
    pEngine->m_nFftSize = c.nFftSize;
    pEngine->m_nWindowType = 2;
    pEngine->m_nInertia = 3;
    pEngine->m_bStereo = c.bStereo;
    pEngine->m_bTransfer = c.bTransfer ? 1 : 0;
    pEngine->m_nLengthMs = static_cast<int>(1000.0 * c.nFftSize / kRate + 0.5);
    pEngine->m_nSpanLowHz = view.m_nSpanLowHz.load();
    pEngine->m_nSpanHighHz = view.m_nSpanHighHz.load();
    view.DrawScale();
    const SCaptureGuid device = CTestSignalDevice::Guid();
    if (pEngine->Open(&device) != 1 || pEngine->Start() != 1) {
        std::printf("could not open the built-in device\n");
        std::exit(1);
    }
    // Frames, paints and frame ages per second, from the third cycle on.
    HandleEventsUntil([&] { return measuring.CompletedCycles() >= 2; });
    const int nPaintsBefore = view.m_nPaints;
    const int nFramesBefore = view.PresentedFrames();
    const double dStartMs = SteadyMs();
    view.m_adAgeMs.clear();
    HandleEventsUntil([&] { return measuring.CompletedCycles() >= nCycles; });
    const double dSeconds = (SteadyMs() - dStartMs) / 1000.0;
    const double dPaintsPerSecond = (view.m_nPaints - nPaintsBefore) / dSeconds;
    const double dFramesPerSecond = (view.PresentedFrames() - nFramesBefore) / dSeconds;
    pEngine->m_bStopCycle = 1;
    pEngine->m_nPassCount = 20000;
    pEngine->Stop();
    delete pEngine;
    view.m_pLeftChannel = nullptr;
    view.m_pRightChannel = nullptr;

    std::vector<CMeasuringView::SCycle> cycles = measuring.Cycles();
    cycles.pop_back(); // the one Stop cut short
    const size_t keep = std::min<size_t>(8, cycles.size());
    std::vector<int> passes;
    for (size_t i = cycles.size() - keep; i < cycles.size(); ++i)
        passes.push_back(cycles[i].nPasses);
    const double dMaxAge = view.m_adAgeMs.empty()
                               ? 0.0
                               : *std::max_element(view.m_adAgeMs.begin(), view.m_adAgeMs.end());
    std::printf("%4dx%-4d  %5d  %-6s  %d  %-3s   %3d     %5.1f   %5.1f   %6.3f   %5.1f  %5.1f\n",
                c.nWidth, c.nHeight, c.nFftSize,
                c.bTransfer ? "tf"
                : c.bStereo ? "stereo"
                            : "mono",
                c.nMinXSpace, c.bSpectrogram ? "on" : "off", Median(passes), dFramesPerSecond,
                dPaintsPerSecond, measuring.MeanPassCpuMs(), Median(view.m_adAgeMs), dMaxAge);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int nCycles = 10;
    bool bDraw = true;
    bool bCompareSpectrogram = false;
    bool bCompareTransfer = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-drawing") == 0)
            bDraw = false;
        else if (std::strcmp(argv[i], "--spectrogram") == 0)
            bCompareSpectrogram = true;
        else if (std::strcmp(argv[i], "--transfer") == 0)
            bCompareTransfer = true;
        else if (std::strcmp(argv[i], "--ratio") == 0 && i + 1 < argc)
            qputenv("QT_SCALE_FACTOR", argv[++i]); // read when the application starts
        else
            nCycles = std::max(2, std::atoi(argv[i]));
    }
    QApplication app(argc, argv);

    std::printf("Built-in device, 44100 Hz, Hanning, one whole block, %d cycles each%s, "
                "device pixel ratio %.2f\n",
                nCycles, bDraw ? "" : ", frames not drawn", qApp->devicePixelRatio());
    std::printf(
        "                                      passes    per second     ms CPU    frame age ms\n");
    std::printf(
        "view       N      mode    Min X sg  /cycle  frames  paints  per pass  median  max\n");
    struct SSize {
        int nWidth;
        int nHeight;
    };
    // With --transfer: the stereo spectrum and the transfer-function mode,
    // side by side at each size.
    if (bCompareTransfer) {
        for (const SSize size : {SSize{784, 405}, SSize{1920, 1000}})
            for (int n : {4096, 16384})
                for (bool bTransfer : {false, true})
                    RunConfig(SConfig{size.nWidth, size.nHeight, n, 1, 2, false, bTransfer},
                              nCycles, bDraw);
        return 0;
    }
    for (const SSize size : {SSize{784, 405}, SSize{1920, 1000}})
        for (int n : {4096, 16384})
            for (int stereo : {0, 1})
                for (int minX : {2, 0})
                    for (bool bSpectrogram : {false, true})
                        if (!bSpectrogram || bCompareSpectrogram)
                            RunConfig(
                                SConfig{size.nWidth, size.nHeight, n, stereo, minX, bSpectrogram},
                                nCycles, bDraw);
    return 0;
}
