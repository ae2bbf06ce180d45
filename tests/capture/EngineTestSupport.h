#pragma once

#include <cstdint>

#include "capture/CaptureEngine.h"
#include "tests/capture/RecordingEngineView.h"
#include "tests/devices/ScriptedCaptureBuffer.h"
#include "tests/devices/ScriptedCaptureDevice.h"

// An engine opened on a scripted device, with a recording view.
struct SScriptedEngine {
    CScriptedCaptureDevice* pDevice = CScriptedCaptureDevice::Create();
    CRecordingEngineView view;
    CCaptureEngine engine;

    SScriptedEngine(int nRate, int nFftSize, int nLengthMs) {
        engine.m_pView = &view;
        engine.m_nSampleRate = nRate;
        engine.m_nFftSize = nFftSize;
        engine.m_nLengthMs = nLengthMs;
        engine.m_nWindowType = 2;
        engine.m_nSpanLowHz = 20;
        engine.m_nSpanHighHz = nRate / 2;
    }
    ~SScriptedEngine() {
        engine.Stop();
        pDevice->Release();
    }
    int Open() {
        const SCaptureGuid guid = pDevice->Guid();
        return engine.Open(&guid);
    }
    CScriptedCaptureBuffer& Buffer() { return *pDevice->LastBuffer(); }
    uint32_t RingFrames() { return Buffer().BufferBytes() / 4; }
    // Makes the running cycle end after nPasses passes (at the next pass's check).
    void StopAfter(int nPasses) {
        view.m_onPass = [this, nStopAt = nPasses](int nSoFar) {
            if (nSoFar >= nStopAt)
                engine.m_bStopCycle = 1;
        };
    }
};

// A recognisable sample value for every frame index of the ring.
inline int16_t LeftOf(uint32_t nFrame) {
    return static_cast<int16_t>(nFrame % 30000 + 1);
}
inline int16_t RightOf(uint32_t nFrame) {
    return static_cast<int16_t>(-(int)(nFrame % 30000) - 1);
}
