#pragma once

#include <chrono>
#include <mutex>
#include <vector>

#include "devices/RingCaptureBuffer.h"
#include "devices/TestSignal.h"

// The built-in device's ring: while capturing, the test signal arrives in real
// time in blocks of about 10 ms, as a sound card would deliver them. No thread
// renders it: whoever asks for the positions first has the blocks whose time
// has come written, so that the device wakes nobody.
class CTestSignalCaptureBuffer : public CRingCaptureBuffer {
public:
    CTestSignalCaptureBuffer(uint32_t nBytes, uint32_t nSampleRate);

    int GetCurrentPosition(uint32_t* pCapturePos, uint32_t* pReadPos) override;

    static constexpr int kBlockMs = 10;

protected:
    ~CTestSignalCaptureBuffer() override;
    int OnStart() override;
    void OnStop() override;

private:
    void CatchUp();

    using Clock = std::chrono::steady_clock;

    uint32_t m_nSampleRate;
    std::mutex m_lockSignal; // guards the fields below
    CTestSignal m_signal;
    std::vector<int16_t> m_block;
    bool m_bRunning = false;
    Clock::time_point m_start;
    uint64_t m_nFirstFrame = 0;
};
