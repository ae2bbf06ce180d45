#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "devices/RingCaptureBuffer.h"
#include "devices/TestSignal.h"

// The built-in device's ring: while capturing, a writer thread renders the test
// signal in real time, paced by the steady clock in blocks of about 10 ms, as a
// sound card would deliver them.
class CTestSignalCaptureBuffer : public CRingCaptureBuffer {
public:
    CTestSignalCaptureBuffer(uint32_t nBytes, uint32_t nSampleRate);

    static constexpr int kBlockMs = 10;

protected:
    ~CTestSignalCaptureBuffer() override;
    int OnStart() override;
    void OnStop() override;

private:
    void WriterLoop();

    uint32_t m_nSampleRate;
    CTestSignal m_signal;
    std::vector<int16_t> m_block;
    std::mutex m_lockWriter;
    std::condition_variable m_wakeWriter;
    bool m_bStopWriter = false;
    std::thread m_writer;
};
