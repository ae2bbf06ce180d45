#include "capture/CaptureEngine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/Calibration.h"
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

// A little-endian 16-bit sample; on a little-endian machine straight from
// memory, which lets the copy loops run several frames at a time.
int16_t SampleAt(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        int16_t n;
        std::memcpy(&n, p, sizeof n);
        return n;
    }
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
    m_transfer.Setup(n, rate);
    m_distortion.Configure(rate, n);
    m_loudness.Configure(rate);
    m_bLoudnessFed = false;
    m_nTransferPassNs = 0;
    m_nDelayAnswered = m_nDelayRequest.load(); // a request of an earlier run is not this one's
    const int inertia = m_nInertia.load(kRelaxed);
    m_chanLeft.m_nInertia.store(inertia, kRelaxed);
    m_chanRight.m_nInertia.store(inertia, kRelaxed);

    m_nOpenFftSize = n;
    m_nOpenSampleRate = rate;
    m_nReadOffset = 0;
    m_bMeterAnchored = false;
    m_bMeterLost = false;
    m_chanLeft.m_meter.Configure(m_chanLeft.m_meter.Weighting(), rate);
    m_chanLeft.m_recentSamples.SetSize(CalibrationSamples(rate));
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
    AnchorMeter();
    IEngineView* pView = m_pView.load();
    m_bSignalLost = false;
    if (pView) {
        pView->SetSignalLost(false);
        pView->BindTransfer(&m_transfer);
        pView->BindDistortion(&m_distortion);
        pView->BindLoudness(&m_loudness);
        pView->BindChannels(&m_chanLeft, &m_chanRight, m_nOpenFftSize, m_nOpenSampleRate);
    }
    m_pTimer = new CPeriodicTimer();
    if (!m_pTimer->Create(kTimerPeriodMs, kTimerResolutionMs, this)) {
        delete m_pTimer;
        m_pTimer = nullptr;
        m_pCaptureBuffer->Stop();
        if (pView) {
            pView->BindChannels(nullptr, nullptr, m_nOpenFftSize, m_nOpenSampleRate);
            pView->BindTransfer(nullptr);
            pView->BindDistortion(nullptr);
            pView->BindLoudness(nullptr);
        }
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
        if (IEngineView* pView = m_pView.load()) {
            pView->BindChannels(nullptr, nullptr, m_nOpenFftSize, m_nOpenSampleRate);
            pView->BindTransfer(nullptr);
            pView->BindDistortion(nullptr);
            pView->BindLoudness(nullptr);
        }
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

void CCaptureEngine::SetMeterLevels(const SLevelSettings& settings, bool bSlow) {
    const int nRate = m_nOpenSampleRate > 0 ? m_nOpenSampleRate : m_nSampleRate.load(kRelaxed);
    const int nSize = m_nOpenFftSize > 0 ? m_nOpenFftSize : m_nFftSize.load(kRelaxed);
    CLevelMeter& meter = m_chanLeft.m_meter;
    meter.Configure(settings.IsDesigned() ? EWeighting::Z : settings.eWeighting, nRate);
    meter.SetSlow(bSlow);
    const bool bMic = settings.eUnit == ELevelUnit::DbSpl && settings.pMic != nullptr &&
                      !settings.pMic->IsEmpty();
    if (!bMic) {
        m_chanLeft.SetMeterGains({}, {});
        return;
    }
    CLevelScale scale;
    scale.Update(settings, nRate, nSize);
    m_chanLeft.SetMeterGains(scale.WeightingGains(), scale.BinGains());
}

int CCaptureEngine::RunCycle() {
    if (m_nOpenFftSize == 0 || m_bStopping.load())
        return m_pCaptureBuffer ? 1 : 0;

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
        // A new length or window reaches this very pass.
        const int nLength = BlockLength();
        const bool bPositionsHad = ReadNewestBlock(f, nLength);
        ZeroTail(f);
        f = m_nOpenFftSize;
        const bool bTransfer = m_bTransfer.load(kRelaxed) != 0;
        if (bTransfer && bPositionsHad) {
            if (m_nDelayRequest.load() != m_nDelayAnswered)
                FindDelay();
            ReadDelayedBlock(nLength);
        }

        const int stereo = bTransfer || m_bStereo.load(kRelaxed) == 1 ? 1 : 0;
        AnalyseBlock(stereo, nLength);

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
// The meter takes the frames that came since the previous pass first.
bool CCaptureEngine::ReadNewestBlock(int& f, int nLength) {
    uint32_t capturePos = 0;
    uint32_t readPos = 0;
    if (m_pCaptureBuffer->GetCurrentPosition(&capturePos, &readPos) != 0) {
        m_bMeterLost = m_bMeterAnchored;
        return false;
    }
    // At 8000 Hz a long block can exceed the two-second ring: take what it holds.
    const uint32_t bytes = std::min<uint32_t>(kFrameBytes * nLength, m_nBufferBytes);
    MeterNewFrames(readPos);
    m_nNewestEnd = readPos;
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

// Where the meter begins: the read position as the ring starts.
void CCaptureEngine::AnchorMeter() {
    uint32_t capturePos = 0;
    uint32_t readPos = 0;
    m_bMeterAnchored = m_pCaptureBuffer->GetCurrentPosition(&capturePos, &readPos) == 0;
    m_nMeterPos = readPos;
    m_nMeterNs = SteadyNs();
    m_bMeterLost = false;
}

// The meter takes every frame once, in order: those between where it stopped
// and the read position. Time it cannot have is a gap: the time the positions
// were lost, and, when so long has passed that the ring may have gone round
// (its distance then says too little), the time its frames do not cover.
// Without a start of its own (a cycle run by itself) it starts at the read
// position.
void CCaptureEngine::MeterNewFrames(uint32_t readPos) {
    const std::int64_t nNow = SteadyNs();
    FollowLoudnessSwitch();
    if (!m_bMeterAnchored || m_bMeterLost) {
        if (m_bMeterLost)
            AddMeterGap(static_cast<double>(nNow - m_nMeterNs) * 1e-9);
        m_nMeterPos = readPos;
        m_nMeterNs = nNow;
        m_bMeterAnchored = true;
        m_bMeterLost = false;
        return;
    }
    const uint32_t nBytes = (readPos + m_nBufferBytes - m_nMeterPos) % m_nBufferBytes;
    const double dSeconds = static_cast<double>(nNow - m_nMeterNs) * 1e-9;
    const double dRingSeconds =
        static_cast<double>(m_nBufferBytes) / kFrameBytes / m_nOpenSampleRate;
    if (dSeconds > kRingTrustShare * dRingSeconds) {
        const double dCovered = static_cast<double>(nBytes) / kFrameBytes / m_nOpenSampleRate;
        if (dSeconds - dCovered > kGapToleranceSeconds)
            AddMeterGap(dSeconds - dCovered);
    }
    if (nBytes == 0)
        return;
    if (FeedMeter(m_nMeterPos, nBytes)) {
        m_nMeterPos = readPos;
        m_nMeterNs = nNow;
    }
}

void CCaptureEngine::AddMeterGap(double dSeconds) {
    m_chanLeft.m_meter.AddGap(dSeconds);
    if (m_bLoudnessFed)
        m_loudness.AddGap(dSeconds);
}

// Switched on, the loudness meter starts afresh: what it held from before it
// was switched off is not of this measurement.
void CCaptureEngine::FollowLoudnessSwitch() {
    const bool bOn = m_bLoudness.load(kRelaxed) != 0;
    if (bOn && !m_bLoudnessFed)
        m_loudness.Restart();
    m_bLoudnessFed = bOn;
}

// Feeds the left channel of the ring's bytes from nOffset on to the meter
// (both to the loudness meter while it is on), a chunk at a time. False when
// the ring will not lock.
bool CCaptureEngine::FeedMeter(uint32_t nOffset, uint32_t nBytes) {
    void* apRegion[2] = {nullptr, nullptr};
    uint32_t anBytes[2] = {0, 0};
    if (m_pCaptureBuffer->Lock(nOffset, nBytes, &apRegion[0], &anBytes[0], &apRegion[1],
                               &anBytes[1], 0) < 0)
        return false;
    for (int r = 0; r < 2; ++r) {
        const auto* p = static_cast<const uint8_t*>(apRegion[r]);
        for (uint32_t nFrames = p != nullptr ? anBytes[r] / kFrameBytes : 0; nFrames > 0;) {
            const uint32_t nChunk = std::min<uint32_t>(nFrames, kMeterChunk);
            for (uint32_t i = 0; i < nChunk; ++i)
                m_anMeterChunk[i] = SampleAt(p + i * kFrameBytes);
            m_chanLeft.m_meter.Feed(m_anMeterChunk.data(), static_cast<int>(nChunk));
            m_chanLeft.m_recentSamples.Feed(m_anMeterChunk.data(), static_cast<int>(nChunk));
            if (m_bLoudnessFed) {
                for (uint32_t i = 0; i < nChunk; ++i)
                    m_anMeterChunkRight[i] = SampleAt(p + i * kFrameBytes + 2);
                m_loudness.Feed(m_anMeterChunk.data(), m_anMeterChunkRight.data(),
                                static_cast<int>(nChunk));
            }
            p += nChunk * kFrameBytes;
            nFrames -= nChunk;
        }
    }
    m_pCaptureBuffer->Unlock(apRegion[0], anBytes[0], apRegion[1], anBytes[1]);
    return true;
}

int CCaptureEngine::CopyFrames(const void* pRegion, uint32_t nBytes, int f, int nLength) {
    const auto* p = static_cast<const uint8_t*>(pRegion);
    int32_t* pLeft = m_chanLeft.GetSamples() + f;
    int32_t* pRight = m_chanRight.GetSamples() + f;
    const int nFrames = static_cast<int>(std::min<long long>(nLength - f, nBytes / kFrameBytes));
    for (int i = 0; i < nFrames; ++i) {
        pLeft[i] = SampleAt(p + i * kFrameBytes);
        pRight[i] = SampleAt(p + i * kFrameBytes + 2);
    }
    return f + std::max(nFrames, 0);
}

void CCaptureEngine::ZeroTail(int f) {
    const int n = m_nOpenFftSize;
    if (f >= n)
        return;
    std::fill(m_chanLeft.GetSamples() + f, m_chanLeft.GetSamples() + n, 0);
    std::fill(m_chanRight.GetSamples() + f, m_chanRight.GetSamples() + n, 0);
}

// Both channels' windows follow the length of this pass's block (the
// right one's table only where it is transformed).
void CCaptureEngine::AnalyseBlock(int nStereo, int nLength) {
    {
        const auto lockPass = LockPass();
        m_chanLeft.m_nWindowLength.store(nLength, kRelaxed);
        m_chanRight.m_nWindowLength.store(nLength, kRelaxed);
        m_chanLeft.Transform(nLength);
        if (nStereo)
            m_chanRight.Transform(nLength);
        // Both transforms of this pass, straight from the channels' work
        // arrays: nothing is copied while the mode is off.
        if (nStereo && m_bTransfer.load(kRelaxed) != 0) {
            const bool bRightIsReference = m_nReferenceChannel.load(kRelaxed) == 1;
            const CAnalysisChannel& ref = bRightIsReference ? m_chanRight : m_chanLeft;
            const CAnalysisChannel& meas = bRightIsReference ? m_chanLeft : m_chanRight;
            const std::int64_t nNow = SteadyNs();
            const double dSeconds =
                m_nTransferPassNs > 0 ? static_cast<double>(nNow - m_nTransferPassNs) * 1e-9 : 0.0;
            m_nTransferPassNs = nNow;
            m_transfer.Pass(ref.m_pWork, meas.m_pWork, dSeconds);
        }
    }
    m_chanLeft.CorrectMeter();
    TrackPeak(m_chanLeft, m_nOpenFftSize, m_nOpenSampleRate, m_nSpanLowHz.load(kRelaxed),
              m_nSpanHighHz.load(kRelaxed));
    if (m_bDistortion.load(kRelaxed) != 0)
        FeedDistortion(nLength);
}

// The whole block only: a zero-padded one would read its own edges as
// distortion.
void CCaptureEngine::FeedDistortion(int nLength) {
    m_distortion.SetAveraging(m_chanLeft.m_nInertia.load(kRelaxed),
                              m_chanLeft.m_bFastAttack.load(kRelaxed) != 0);
    m_distortion.SetSpan(m_nSpanLowHz.load(kRelaxed), m_nSpanHighHz.load(kRelaxed));
    if (nLength < m_nOpenFftSize)
        m_distortion.MarkBlockShort();
    else
        m_distortion.Feed(m_chanLeft.GetSamples(), m_nOpenFftSize);
}

// The channel that must come later by the delay takes its block from that
// many frames before the newest: the reference for a positive delay, the
// measurement for a negative one.
void CCaptureEngine::ReadDelayedBlock(int nLength) {
    const int nDelay =
        std::clamp(m_nDelaySamples.load(kRelaxed), -MaxDelaySamples(), MaxDelaySamples());
    if (nDelay == 0)
        return;
    const int nReference = m_nReferenceChannel.load(kRelaxed) == 1 ? 1 : 0;
    const int nChannel = nDelay > 0 ? nReference : 1 - nReference;
    const uint32_t nBack = kFrameBytes * static_cast<uint32_t>(std::abs(nDelay));
    const uint32_t nEnd = (m_nNewestEnd + m_nBufferBytes - nBack % m_nBufferBytes) % m_nBufferBytes;
    CAnalysisChannel& chan = nChannel == 0 ? m_chanLeft : m_chanRight;
    ReadChannel(nChannel, nEnd, nLength, chan.GetSamples());
}

// Before Open, of the ring Open will make: two seconds at the rate set.
int CCaptureEngine::MaxDelaySamples() const {
    const int nRingFrames = m_nBufferBytes > 0 ? static_cast<int>(m_nBufferBytes / kFrameBytes)
                                               : 2 * m_nSampleRate.load(kRelaxed);
    const int nBlock = m_nOpenFftSize > 0 ? m_nOpenFftSize : m_nFftSize.load(kRelaxed);
    return std::max(0, nRingFrames - nBlock);
}

// Copies nLength frames of one channel, those ending at ring offset nEnd,
// into pSamples (what the ring does not hold stays zero).
bool CCaptureEngine::ReadChannel(int nChannel, uint32_t nEnd, int nLength, int32_t* pSamples) {
    const uint32_t nBytes = std::min<uint32_t>(kFrameBytes * nLength, m_nBufferBytes);
    const uint32_t nOffset = nEnd >= nBytes ? nEnd - nBytes : m_nBufferBytes - nBytes + nEnd;
    void* apRegion[2] = {nullptr, nullptr};
    uint32_t anBytes[2] = {0, 0};
    if (m_pCaptureBuffer->Lock(nOffset, nBytes, &apRegion[0], &anBytes[0], &apRegion[1],
                               &anBytes[1], 0) < 0)
        return false;
    int f = 0;
    for (int r = 0; r < 2; ++r) {
        if (apRegion[r] != nullptr && anBytes[r] > 0)
            f = CopyChannel(apRegion[r], anBytes[r], nChannel, f, nLength);
    }
    m_pCaptureBuffer->Unlock(apRegion[0], anBytes[0], apRegion[1], anBytes[1]);
    std::fill(pSamples + f, pSamples + nLength, 0);
    return true;
}

int CCaptureEngine::CopyChannel(const void* pRegion, uint32_t nBytes, int nChannel, int f,
                                int nLength) {
    const auto* p = static_cast<const uint8_t*>(pRegion) + 2 * nChannel;
    int32_t* pOut = (nChannel == 0 ? m_chanLeft : m_chanRight).GetSamples() + f;
    const int nFrames = static_cast<int>(std::min<long long>(nLength - f, nBytes / kFrameBytes));
    for (int i = 0; i < nFrames; ++i)
        pOut[i] = SampleAt(p + i * kFrameBytes);
    return f + std::max(nFrames, 0);
}

// Over the longest block the ring holds, both channels ending at the newest
// frame; a delay found replaces the one in use and starts the averages again.
void CCaptureEngine::FindDelay() {
    m_nDelayAnswered = m_nDelayRequest.load();
    const int nRingFrames = static_cast<int>(m_nBufferBytes / kFrameBytes);
    const int n = CDelayFinder::BlockLength(nRingFrames);
    const int nReference = m_nReferenceChannel.load(kRelaxed) == 1 ? 1 : 0;
    std::vector<double> adBlock[2];
    const uint32_t nBytes = kFrameBytes * static_cast<uint32_t>(n);
    const uint32_t nOffset =
        m_nNewestEnd >= nBytes ? m_nNewestEnd - nBytes : m_nBufferBytes - nBytes + m_nNewestEnd;
    void* apRegion[2] = {nullptr, nullptr};
    uint32_t anBytes[2] = {0, 0};
    SDelayResult result;
    if (m_pCaptureBuffer->Lock(nOffset, nBytes, &apRegion[0], &anBytes[0], &apRegion[1],
                               &anBytes[1], 0) < 0) {
        result.strWhy = "The capture buffer could not be read.";
    } else {
        for (int c = 0; c < 2; ++c) {
            adBlock[c].reserve(static_cast<std::size_t>(n));
            for (int r = 0; r < 2; ++r) {
                const auto* p = static_cast<const uint8_t*>(apRegion[r]);
                for (uint32_t i = 0; p != nullptr && i < anBytes[r] / kFrameBytes; ++i)
                    adBlock[c].push_back(SampleAt(p + i * kFrameBytes + 2 * c));
            }
            adBlock[c].resize(static_cast<std::size_t>(n), 0.0);
        }
        m_pCaptureBuffer->Unlock(apRegion[0], anBytes[0], apRegion[1], anBytes[1]);
        result =
            CDelayFinder::Find(adBlock[nReference], adBlock[1 - nReference], m_nOpenSampleRate);
    }
    if (result.bFound) {
        if (std::abs(result.nSamples) > MaxDelaySamples()) {
            result.bFound = false;
            result.strWhy = "The delay found is longer than the ring leaves room for.";
        } else {
            m_nDelaySamples.store(result.nSamples);
            m_transfer.Reset();
        }
    }
    {
        std::lock_guard lock(m_lockDelay);
        m_delayResult = result;
    }
    m_nDelayAnsweredShown.store(m_nDelayAnswered);
}

SDelayResult CCaptureEngine::DelayResult(int* pAnswered) const {
    std::lock_guard lock(m_lockDelay);
    *pAnswered = m_nDelayAnsweredShown.load();
    return m_delayResult;
}
