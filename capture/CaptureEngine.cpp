#include "capture/CaptureEngine.h"

#include <algorithm>
#include <cstring>

#include "analysis/PeakTracker.h"
#include "capture/EngineView.h"
#include "capture/PeriodicTimer.h"
#include "devices/CaptureBuffer.h"
#include "devices/CaptureDevice.h"
#include "devices/CaptureDevices.h"
#include "devices/TestSignalDevice.h"
#include "platform/Clock.h"

std::atomic<int> g_nLastCyclePasses{1};

namespace {

constexpr uint32_t kFrameBytes = 4;
constexpr auto kRelaxed = std::memory_order_relaxed;

int16_t SampleAt(const uint8_t* p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

} // namespace

CCaptureEngine::CCaptureEngine() = default;

CCaptureEngine::~CCaptureEngine() {
    Stop();
}

int CCaptureEngine::Open(const SCaptureGuid* pDevice) {
    if (m_pTimer)
        return kCaptureErrBusy;
    ReleaseDevice();
    m_nBufferBytes = 0;

    const int created = CaptureCreate(pDevice, &m_pCapture);
    if (created < 0) {
        m_pCapture = nullptr;
        return created;
    }

    const int rate = m_nSampleRate.load(kRelaxed);
    const uint32_t rateHz = rate > 0 ? static_cast<uint32_t>(rate) : 0;
    m_wfx = SWaveFormat{kWaveFormatPcm, 2, rateHz, 4 * rateHz, 4, 16, 0};
    const SCaptureBufferDesc desc{
        kCaptureBufferDescSize, 0, 2 * m_wfx.nAvgBytesPerSec, 0, &m_wfx, 0, nullptr};
    m_nBufferBytes = desc.dwBufferBytes;
    const int buffer = m_pCapture->CreateCaptureBuffer(&desc, &m_pCaptureBuffer);
    if (buffer < 0) {
        m_pCaptureBuffer = nullptr;
        ReleaseDevice();
        return buffer;
    }

    // Setup builds each window with the channel's type, so the type goes first.
    const int windowType = m_nWindowType.load(kRelaxed);
    m_chanLeft.m_nWindowType.store(windowType, kRelaxed);
    m_chanRight.m_nWindowType.store(windowType, kRelaxed);
    const int n = m_nFftSize.load(kRelaxed);
    const double binsPerHz = static_cast<double>(n) / static_cast<double>(rate);
    if (!m_chanLeft.Setup(n, binsPerHz) || !m_chanRight.Setup(n, binsPerHz)) {
        ReleaseDevice();
        return kCaptureErrOutOfMemory;
    }
    const int inertia = m_nInertia.load(kRelaxed);
    m_chanLeft.m_nInertia.store(inertia, kRelaxed);
    m_chanRight.m_nInertia.store(inertia, kRelaxed);

    m_nOpenFftSize = n;
    m_nOpenSampleRate = rate;
    m_bRightWindowStale = false;
    m_nReadOffset = 0;
    m_bMetered = false;
    m_bStopping.store(false);
    return 1;
}

int CCaptureEngine::Start() {
    if (m_pTimer)
        return 1;
    if (!m_pCaptureBuffer)
        return kCaptureErrNotOpen;
    // A stream that opened but will not run is a failed start: nothing is
    // shown as running, and the engine stays as Open left it.
    if (const int started = m_pCaptureBuffer->Start(kCaptureStartLooping); started < 0)
        return started;
    IEngineView* pView = m_pView.load();
    m_bSignalLost = false;
    if (pView) {
        pView->SetSignalLost(false);
        pView->BindChannels(&m_chanLeft, &m_chanRight, m_nOpenFftSize, m_nOpenSampleRate);
    }
    m_pTimer = new CPeriodicTimer();
    if (!m_pTimer->Create(kTimerPeriodMs, kTimerResolutionMs, this)) {
        delete m_pTimer;
        m_pTimer = nullptr;
        m_pCaptureBuffer->Stop();
        if (pView)
            pView->BindChannels(nullptr, nullptr, m_nOpenFftSize, m_nOpenSampleRate);
        return kCaptureErrGeneric;
    }
    if (pView)
        pView->DrawScale();
    return 1;
}

int CCaptureEngine::Stop() {
    // A cycle may have reset the owner's stop flag as it began; this one it
    // never resets, so a running cycle ends within its current pass.
    m_bStopping.store(true);
    m_bStopCycle.store(1);
    if (m_pTimer) {
        m_pCaptureBuffer->Stop();
        delete m_pTimer; // waits for a cycle in progress to return
        m_pTimer = nullptr;
        // The channels go with the engine: the view that Start bound to them
        // lets go of them first.
        if (IEngineView* pView = m_pView.load())
            pView->BindChannels(nullptr, nullptr, m_nOpenFftSize, m_nOpenSampleRate);
    }
    ReleaseDevice();
    return 0;
}

bool CCaptureEngine::IsBuiltInSignal() const {
    return CTestSignalDevice::Is(m_pCapture);
}

void CCaptureEngine::ReleaseDevice() {
    if (m_pCaptureBuffer) {
        m_pCaptureBuffer->Release();
        m_pCaptureBuffer = nullptr;
    }
    if (m_pCapture) {
        m_pCapture->Release();
        m_pCapture = nullptr;
    }
}

// L = length in ms times the rate, at least one frame and at most N.
int CCaptureEngine::BlockLength() const {
    const long long frames =
        static_cast<long long>(m_nLengthMs.load(kRelaxed)) * m_nOpenSampleRate / 1000;
    return static_cast<int>(std::clamp<long long>(frames, 1, m_nOpenFftSize));
}

void CCaptureEngine::RebuildWindows(int nLength) {
    m_chanLeft.m_nWindowLength.store(nLength, kRelaxed);
    m_chanRight.m_nWindowLength.store(nLength, kRelaxed);
    m_chanLeft.SetWindow(m_chanLeft.m_nWindowType.load(kRelaxed), nLength);
    if (m_bStereo.load(kRelaxed) == 1) {
        m_chanRight.SetWindow(m_chanRight.m_nWindowType.load(kRelaxed), nLength);
        m_bRightWindowStale = false;
    } else {
        m_bRightWindowStale = true;
    }
}

int CCaptureEngine::RunCycle() {
    if (m_nOpenFftSize == 0 || m_bStopping.load())
        return m_pCaptureBuffer ? 1 : 0;
    const int nLength = BlockLength();
    if (nLength != m_chanLeft.m_nWindowLength.load(kRelaxed))
        RebuildWindows(nLength);

    const uint32_t start = TimeGetTime();
    m_bStopCycle.store(0);
    m_nPassCount.store(0);
    int f = 0;
    int nPassesMade = 0;
    for (;;) {
        if (m_bStopCycle.load() != 0 || m_bStopping.load()) {
            EndCycle(nPassesMade);
            return 1;
        }
        if (!m_pCaptureBuffer)
            return 0;
        const bool bPositionsHad = ReadNewestBlock(f);
        ZeroTail(f);
        f = m_nOpenFftSize;

        const int stereo = m_bStereo.load(kRelaxed) == 1 ? 1 : 0;
        AnalyseBlock(stereo);

        IEngineView* pView = m_pView.load();
        if (pView) {
            ReportSignal(pView, bPositionsHad);
            if (pView->IsScaleBusy())
                return 1;
            pView->SetFftsPerCycle(g_nLastCyclePasses.load(kRelaxed));
            // The view draws its frames on a thread of its own.
            pView->NewArrays(2 + stereo);
        }
        if (static_cast<uint32_t>(TimeGetTime() - start) > kCycleBudgetMs)
            m_bStopCycle.store(1);
        SleepMs(kPassSleepMs);
        ++nPassesMade;
        if (m_nPassCount.fetch_add(1) + 1 >= kMaxPasses) {
            EndCycle(nPassesMade);
            return 1;
        }
    }
}

// The passes the cycle made, not the count Stop forces to end it. A cycle
// stopped before its first pass leaves the previous figure standing.
void CCaptureEngine::EndCycle(int nPassesMade) {
    if (nPassesMade > 0)
        g_nLastCyclePasses.store(nPassesMade, kRelaxed);
}

// A device whose positions cannot be had has stopped delivering (server gone,
// device unplugged, stream failed, or a backend that saw no data for seconds).
// The rest of the cycle analyses its last block again; the next cycle starts
// with an empty block, so the spectrum falls to nothing. The view says why, and
// stops saying so when positions come back.
void CCaptureEngine::ReportSignal(IEngineView* pView, bool bPositionsHad) {
    const bool bLost = !bPositionsHad;
    if (bLost == m_bSignalLost)
        return;
    m_bSignalLost = bLost;
    pView->SetSignalLost(bLost);
}

// Copies the newest L frames, those that end at the read position, into the
// channels' blocks; f ends as the number of frames copied. Leaves f alone when
// the position or the lock cannot be had. Returns whether the position could.
bool CCaptureEngine::ReadNewestBlock(int& f) {
    uint32_t capturePos = 0;
    uint32_t readPos = 0;
    if (m_pCaptureBuffer->GetCurrentPosition(&capturePos, &readPos) != 0)
        return false;
    const int nLength = BlockLength();
    // At 8000 Hz a long block can exceed the two-second ring: take what it holds.
    const uint32_t bytes = std::min<uint32_t>(kFrameBytes * nLength, m_nBufferBytes);
    const uint32_t newBytes =
        m_bMetered ? (readPos + m_nBufferBytes - m_nPrevReadPos) % m_nBufferBytes : bytes;
    m_nNewFrames = static_cast<int>(std::min(newBytes, bytes) / kFrameBytes);
    m_nPrevReadPos = readPos;
    m_nReadOffset = readPos >= bytes ? readPos - bytes : m_nBufferBytes - bytes + readPos;

    void* pRegion1 = nullptr;
    void* pRegion2 = nullptr;
    uint32_t bytes1 = 0;
    uint32_t bytes2 = 0;
    if (m_pCaptureBuffer->Lock(m_nReadOffset, bytes, &pRegion1, &bytes1, &pRegion2, &bytes2, 0) < 0)
        return true;
    if (bytes1 > 0 || bytes2 > 0) {
        f = 0;
        if (bytes1 > 0)
            f = CopyFrames(pRegion1, bytes1, f, nLength);
        m_nReadOffset = (m_nReadOffset + bytes1) % m_nBufferBytes;
        if (pRegion2 && bytes2 > 0) {
            f = CopyFrames(pRegion2, bytes2, f, nLength);
            m_nReadOffset = (m_nReadOffset + bytes2) % m_nBufferBytes;
        }
    }
    m_pCaptureBuffer->Unlock(pRegion1, bytes1, pRegion2, bytes2);
    return true;
}

int CCaptureEngine::CopyFrames(const void* pRegion, uint32_t nBytes, int f, int nLength) {
    const auto* p = static_cast<const uint8_t*>(pRegion);
    int32_t* pLeft = m_chanLeft.GetSamples();
    int32_t* pRight = m_chanRight.GetSamples();
    for (uint32_t offset = 0; f < nLength && offset + kFrameBytes <= nBytes;
         offset += kFrameBytes, ++f) {
        pLeft[f] = SampleAt(p + offset);
        pRight[f] = SampleAt(p + offset + 2);
    }
    return f;
}

void CCaptureEngine::ZeroTail(int f) {
    const int n = m_nOpenFftSize;
    if (f >= n)
        return;
    std::fill(m_chanLeft.GetSamples() + f, m_chanLeft.GetSamples() + n, 0);
    std::fill(m_chanRight.GetSamples() + f, m_chanRight.GetSamples() + n, 0);
}

void CCaptureEngine::AnalyseBlock(int nStereo) {
    {
        const auto lockPass = LockPass();
        m_chanLeft.Transform();
        if (nStereo) {
            // In mono the right window was left at another length; stereo needs it now.
            if (m_bRightWindowStale) {
                m_chanRight.SetWindow(m_chanRight.m_nWindowType.load(kRelaxed),
                                      m_chanRight.m_nWindowLength.load(kRelaxed));
                m_bRightWindowStale = false;
            }
            m_chanRight.Transform();
        }
    }
    MeterBlock(nStereo);
    TrackPeak(m_chanLeft, m_nOpenFftSize, m_nOpenSampleRate, m_nSpanLowHz.load(kRelaxed),
              m_nSpanHighHz.load(kRelaxed));
}

// The meter takes each pass's new samples once, over the time since the
// previous pass it took. A pass that found no new samples analysed the block
// the meter has seen already: it waits for one that brings some.
void CCaptureEngine::MeterBlock(int nStereo) {
    if (m_bMetered && m_nNewFrames == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    const double dSeconds =
        m_bMetered ? std::chrono::duration<double>(now - m_prevMeterTime).count() : 0.0;
    m_bMetered = true;
    m_prevMeterTime = now;
    const auto lockPass = LockPass();
    m_chanLeft.MeterPass(m_nNewFrames, dSeconds);
    if (nStereo)
        m_chanRight.MeterPass(m_nNewFrames, dSeconds);
    m_nNewFrames = 0;
}
