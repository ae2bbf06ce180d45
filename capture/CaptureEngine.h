#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "analysis/AnalysisChannel.h"
#include "analysis/LevelScale.h"
#include "analysis/distortion/DistortionAnalyser.h"
#include "analysis/loudness/LoudnessMeter.h"
#include "analysis/transfer/DelayFinder.h"
#include "analysis/transfer/TransferFunction.h"
#include "devices/CaptureFormat.h"

class CPeriodicTimer;
class ICaptureBuffer;
class ICaptureDevice;
class IEngineView;

// Passes of the most recently ended acquisition cycle, for the statistics line.
// One value for the whole program; 1 before the first cycle ends.
extern std::atomic<int> g_nLastCyclePasses;

// The running analyser: the capture device and its two-second looping ring, the
// left and right analysis channels, and the periodic timer whose ticks run the
// acquisition cycle.
//
// Use: construct, write the settings (and the channels' m_nInertia and
// m_bFastAttack), Open, Start. To end a run set m_bStopCycle = 1 and
// m_nPassCount = 20000, call Stop, then delete the engine. Nothing of an engine
// survives Stop: the next run builds a new one.
//
// Threads: Open, Start, Stop and the destructor run on the user-interface
// thread; RunCycle runs on the timer's thread. The settings are atomics the
// user interface may write at any time; the cycle reads each where it uses it.
class CCaptureEngine {
public:
    CCaptureEngine();
    // Stops a run that is still going (waiting for a cycle in progress).
    virtual ~CCaptureEngine();
    CCaptureEngine(const CCaptureEngine&) = delete;
    CCaptureEngine& operator=(const CCaptureEngine&) = delete;

    // Opens the device (null: the default input), creates the two-second ring and
    // sets up both channels. Returns 1, or a negative code: the device's own when
    // it cannot be opened, passed on unchanged; the buffer's when the ring cannot
    // be created; kCaptureErrOutOfMemory when a channel cannot be set up. After a
    // failure the engine holds nothing and must not be started.
    int Open(const SCaptureGuid* pDevice);
    // Starts the ring, binds the view to the channels, starts the 600 ms timer and
    // draws the scale. Returns 1 (also when already running); kCaptureErrNotOpen
    // when Open has not succeeded; the ring's own code when it will not start
    // (kCaptureErrGeneric when the timer will not): then nothing runs, the view
    // is left unbound, and the owner stops and deletes the engine as usual.
    int Start();
    // Ends the run: waits for a cycle in progress to return, kills the timer,
    // has the view let go of the channels and releases the ring and the
    // device. Returns 0.
    int Stop();
    // The left channel's level meter: the weighting of the levels (Z as
    // designed) and, in dB SPL, the microphone's correction; Fast or Slow.
    // User-interface thread, after Open.
    void SetMeterLevels(const SLevelSettings& settings, bool bSlow);
    // Whether the device opened is the built-in test signal (user-interface
    // thread, after Open).
    bool IsBuiltInSignal() const;
    // One acquisition cycle (timer thread). 0 when there is no capture buffer, else 1.
    int RunCycle();
    // Held by a pass while it transforms its block in both channels: whoever
    // copies the two channels under it gets left and right of the same pass.
    // Taken before the channels' own locks.
    std::unique_lock<std::mutex> LockPass() const { return std::unique_lock(m_lockPass); }

    // Settings, written by the owner; the cycle reads them at each use.
    std::atomic<IEngineView*> m_pView{nullptr};
    std::atomic<int> m_nPassCount{0};
    std::atomic<int> m_nSampleRate{44100};
    std::atomic<int> m_nFftSize{4096};
    std::atomic<int> m_nWindowType{0};
    std::atomic<int> m_nInertia{2};
    std::atomic<int> m_bStereo{0};
    std::atomic<int> m_nLengthMs{93};
    std::atomic<int> m_bStopCycle{0};
    std::atomic<int> m_nSpanLowHz{40};
    std::atomic<int> m_nSpanHighHz{16000};

    CAnalysisChannel m_chanLeft;
    CAnalysisChannel m_chanRight;

    // The transfer function between the two channels: while m_bTransfer is
    // set, every pass analyses both channels and feeds the estimate from the
    // reference channel (m_nReferenceChannel: 0 left, 1 right) and the other,
    // the reference's block taken m_nDelaySamples earlier from the ring (the
    // measurement's, for a negative delay).
    std::atomic<int> m_bTransfer{0};
    std::atomic<int> m_nReferenceChannel{0};
    std::atomic<int> m_nDelaySamples{0};
    CTransferFunction m_transfer;
    // Asks the next pass to find the delay between the channels over the
    // longest block the ring holds; the result follows as DelayResult's
    // generation moves on. Any thread.
    void RequestFindDelay() { m_nDelayRequest.fetch_add(1); }
    // The last delay found (or why none was), and the number of requests
    // answered so far.
    SDelayResult DelayResult(int* pAnswered) const;
    // The largest delay the ring leaves room for beside a block of the run.
    int MaxDelaySamples() const;

    // The distortion of the left channel's strongest tone: while
    // m_bDistortion is set, each pass's block feeds it, averaged as the bars
    // are and within the span; a block shorter than the transform is said.
    std::atomic<int> m_bDistortion{0};
    CDistortionAnalyser m_distortion;

    // The loudness of the stereo stream: while m_bLoudness is set, every
    // captured frame feeds it once, in order, as the level meter's do; it
    // starts afresh each time it is switched on.
    std::atomic<int> m_bLoudness{0};
    CLoudnessMeter m_loudness;

    // Non-null exactly while the engine runs (user-interface thread only).
    CPeriodicTimer* m_pTimer = nullptr;
    ICaptureDevice* m_pCapture = nullptr;
    // Set by Open, released by Stop after the timer is gone.
    ICaptureBuffer* m_pCaptureBuffer = nullptr;
    SWaveFormat m_wfx{};
    uint32_t m_nBufferBytes = 0;
    // Ring offset of the block being read (acquisition cycle only after Open).
    uint32_t m_nReadOffset = 0;

    static constexpr uint32_t kTimerPeriodMs = 600;
    static constexpr uint32_t kTimerResolutionMs = 1;
    static constexpr uint32_t kCycleBudgetMs = 800;
    static constexpr uint32_t kPassSleepMs = 10;
    static constexpr int kMaxPasses = 200;
    // After this share of the ring's time the ring may have gone round, and
    // time its frames do not cover by more than the tolerance is a gap.
    static constexpr double kRingTrustShare = 0.75;
    static constexpr double kGapToleranceSeconds = 0.25;

private:
    int BlockLength() const;
    bool ReadNewestBlock(int& f, int nLength);
    void AnchorMeter();
    void MeterNewFrames(uint32_t readPos);
    bool FeedMeter(uint32_t nOffset, uint32_t nBytes);
    void ReportSignal(IEngineView* pView, bool bPositionsHad);
    int CopyFrames(const void* pRegion, uint32_t nBytes, int f, int nLength);
    void ZeroTail(int f);
    void AnalyseBlock(int nStereo, int nLength);
    void FeedDistortion(int nLength);
    void AddMeterGap(double dSeconds);
    void FollowLoudnessSwitch();
    void ReadDelayedBlock(int nLength);
    int CopyChannel(const void* pRegion, uint32_t nBytes, int nChannel, int f, int nLength);
    bool ReadChannel(int nChannel, uint32_t nEndOffset, int nLength, int32_t* pSamples);
    void FindDelay();
    void EndCycle(int nPassesMade);
    void ReleaseDevice();

    // Transform size and rate the channels were set up for; the cycle uses these
    // so that a later write to the settings cannot outgrow the channels' arrays.
    int m_nOpenFftSize = 0;
    int m_nOpenSampleRate = 0;
    // The view was told that no sound arrives (acquisition cycle only; Start
    // clears it together with the view's).
    bool m_bSignalLost = false;
    // Where the meter has read the ring up to, and when (steady clock, ns);
    // whether it has a place to start from, and whether the positions were
    // lost since (Start, then the acquisition cycle only).
    uint32_t m_nMeterPos = 0;
    std::int64_t m_nMeterNs = 0;
    bool m_bMeterAnchored = false;
    bool m_bMeterLost = false;
    static constexpr uint32_t kMeterChunk = 1024;
    std::array<int32_t, kMeterChunk> m_anMeterChunk{};
    std::array<int32_t, kMeterChunk> m_anMeterChunkRight{};
    // Acquisition cycle: whether the loudness meter was fed at the last pass.
    bool m_bLoudnessFed = false;
    // Raised by Stop: no further pass, no further cycle.
    std::atomic<bool> m_bStopping{false};
    mutable std::mutex m_lockPass;
    // The transfer function's bookkeeping (acquisition cycle only): when the
    // previous pass fed it, and the ring offset the newest block ends at.
    std::int64_t m_nTransferPassNs = 0;
    uint32_t m_nNewestEnd = 0;
    std::atomic<int> m_nDelayRequest{0};
    int m_nDelayAnswered = 0; // acquisition cycle only
    mutable std::mutex m_lockDelay;
    SDelayResult m_delayResult; // under m_lockDelay
    std::atomic<int> m_nDelayAnsweredShown{0};
};
