#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/AnalysisChannel.h"
#include "capture/EngineView.h"

// Stands in for the spectrum view: records what the engine tells it and reads
// both channels' spectra under their locks at each pass, as the real view's
// frames do.
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
        m_nPassesBeforeScale = m_nPasses.load();
    }
    bool IsScaleBusy() const override { return m_bScaleBusy.load(); }
    void SetFftsPerCycle(int nPasses) override {
        std::lock_guard guard(m_lock);
        m_passCounts.push_back(nPasses);
    }
    void NewArrays(int nFlags) override {
        ++m_nInside;
        {
            std::lock_guard guard(m_lock);
            m_flags.push_back(nFlags);
            m_passThread = std::this_thread::get_id();
            ReadSpectra(nFlags);
        }
        ++m_nPasses;
        if (m_onPass)
            m_onPass(m_nPasses.load());
        --m_nInside;
    }

    void SetSignalLost(bool bLost) override {
        std::lock_guard guard(m_lock);
        m_signalStates.push_back(bLost);
        m_nPassesAtSignalChange = m_nPasses.load();
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
    int PassesAtSignalChange() {
        std::lock_guard guard(m_lock);
        return m_nPassesAtSignalChange;
    }

    std::mutex m_lock;
    CAnalysisChannel* m_pLeft = nullptr;
    CAnalysisChannel* m_pRight = nullptr;
    int m_nFftSize = 0;
    int m_nSampleRate = 0;
    int m_nBinds = 0;
    std::thread::id m_passThread;
    std::atomic<int> m_nScaleDraws{0};
    std::atomic<int> m_nPassesBeforeScale{-1};
    std::atomic<bool> m_bScaleBusy{false};
    std::atomic<int> m_nPasses{0};
    std::atomic<int> m_nInside{0};
    double m_dLastSum = 0.0;
    // Called after each pass with the number of passes so far (timer thread).
    std::function<void(int)> m_onPass;

private:
    std::vector<int> m_passCounts;
    std::vector<int> m_flags;
    std::vector<bool> m_signalStates;
    int m_nPassesAtSignalChange = -1;

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
