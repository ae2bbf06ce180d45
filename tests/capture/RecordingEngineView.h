#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/AnalysisChannel.h"
#include "capture/EngineView.h"

// Stands in for the spectrum view: records what the engine asks of it and, like
// the real view, reads both channels' spectra under their locks for each frame.
class CRecordingEngineView : public IEngineView {
public:
    void BindChannels(CAnalysisChannel* pLeft, CAnalysisChannel* pRight, int nFftSize,
                      int nSampleRate) override {
        std::lock_guard guard(m_lock);
        m_pLeft = pLeft;
        m_pRight = pRight;
        m_nFftSize = nFftSize;
        m_nSampleRate = nSampleRate;
        ++m_nBinds;
    }
    void DrawScale() override {
        ++m_nScaleDraws;
        m_nRendersBeforeScale = m_nRenders.load();
    }
    bool IsScaleBusy() const override { return m_bScaleBusy.load(); }
    void SetFftsPerCycle(int nPasses) override {
        std::lock_guard guard(m_lock);
        m_passCounts.push_back(nPasses);
    }
    bool IsFrameWanted() override {
        const int nAsked = ++m_nAsked;
        return m_fnFrameWanted ? m_fnFrameWanted(nAsked) : m_bFrameWanted.load();
    }
    void RenderFrame(int nFlags) override {
        ++m_nInside;
        {
            std::lock_guard guard(m_lock);
            m_flags.push_back(nFlags);
            m_renderThread = std::this_thread::get_id();
            ReadSpectra(nFlags);
        }
        ++m_nRenders;
        if (m_onRender)
            m_onRender(m_nRenders.load());
        --m_nInside;
    }

    void SetSignalLost(bool bLost) override {
        std::lock_guard guard(m_lock);
        m_signalStates.push_back(bLost);
        m_nRendersAtSignalChange = m_nRenders.load();
    }

    std::vector<int> PassCounts() {
        std::lock_guard guard(m_lock);
        return m_passCounts;
    }
    std::vector<int> Flags() {
        std::lock_guard guard(m_lock);
        return m_flags;
    }
    // Every state the engine told, in order.
    std::vector<bool> SignalStates() {
        std::lock_guard guard(m_lock);
        return m_signalStates;
    }
    int RendersAtSignalChange() {
        std::lock_guard guard(m_lock);
        return m_nRendersAtSignalChange;
    }

    std::mutex m_lock;
    CAnalysisChannel* m_pLeft = nullptr;
    CAnalysisChannel* m_pRight = nullptr;
    int m_nFftSize = 0;
    int m_nSampleRate = 0;
    int m_nBinds = 0;
    std::thread::id m_renderThread;
    std::atomic<int> m_nScaleDraws{0};
    std::atomic<int> m_nRendersBeforeScale{-1};
    std::atomic<bool> m_bScaleBusy{false};
    std::atomic<int> m_nRenders{0};
    // The answer to IsFrameWanted (or, when set, the answer to its nth asking),
    // and how often the engine asked.
    std::atomic<bool> m_bFrameWanted{true};
    std::function<bool(int)> m_fnFrameWanted;
    mutable std::atomic<int> m_nAsked{0};
    std::atomic<int> m_nInside{0};
    double m_dLastSum = 0.0;
    // Called after each frame with the number of frames so far (timer thread).
    std::function<void(int)> m_onRender;

private:
    std::vector<int> m_passCounts;
    std::vector<int> m_flags;
    std::vector<bool> m_signalStates;
    int m_nRendersAtSignalChange = -1;

    void ReadSpectra(int nFlags) {
        double sum = 0.0;
        for (CAnalysisChannel* pChan : {m_pLeft, nFlags == 3 ? m_pRight : nullptr}) {
            if (!pChan)
                continue;
            auto arrays = pChan->LockArrays();
            if (!pChan->m_pPower)
                continue;
            for (int i = 0; i < pChan->m_nSize / 2; ++i)
                sum += pChan->m_pPower[i] + pChan->m_pHold[i];
        }
        m_dLastSum = sum;
    }
};
