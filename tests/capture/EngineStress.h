#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "capture/CaptureEngine.h"
#include "capture/EngineView.h"
#include "devices/TestSignalDevice.h"
#include "platform/Clock.h"

// Starts and stops the engine on the built-in device nRuns times, the way the
// dialog does, while a second thread keeps changing the settings a user can
// change during a run: inertia, window function, Hold, the span, stereo and the
// analysis length. Most runs end before their first tick; every tenth lasts
// long enough for one or two cycles, and is stopped in the middle of one.
//
// wait(ms) passes the time of a run on this thread (a user-interface thread
// handles its events meanwhile); betweenRuns() runs after each run's Stop (the
// dialog clears the view's channels there).
template <typename Wait, typename BetweenRuns>
void RunStartStopStress(IEngineView& view, int nRuns, Wait wait, BetweenRuns betweenRuns) {
    struct SSetup {
        int nRate;
        int nFftSize;
        int nMaxLengthMs;
    };
    static constexpr SSetup kSetups[] = {
        {44100, 4096, 93}, {8000, 16384, 2048}, {22050, 1024, 46}, {11025, 8192, 743}};

    std::mutex lock; // guards pEngine: the engine lives while the mutator holds it
    CCaptureEngine* pEngine = nullptr;
    std::atomic<bool> done{false};
    std::atomic<int> changes{0};

    std::thread mutator([&] {
        unsigned step = 0;
        while (!done.load()) {
            {
                std::lock_guard guard(lock);
                if (pEngine) {
                    CCaptureEngine& e = *pEngine;
                    const SSetup& setup = kSetups[(step / 7) % 4];
                    const int inertia = 1 + static_cast<int>(step % 50);
                    e.m_nInertia = inertia;
                    e.m_chanLeft.m_nInertia = inertia;
                    e.m_chanRight.m_nInertia = inertia;
                    e.m_chanLeft.m_bFastAttack = static_cast<int>(step % 2);
                    e.m_chanRight.m_bPinkToFlat = (step % 3) == 0;
                    switch (step % 6) {
                    case 0: {
                        const int type = static_cast<int>(step / 6 % 4);
                        e.m_nWindowType = type;
                        for (CAnalysisChannel* c : {&e.m_chanLeft, &e.m_chanRight}) {
                            c->m_nWindowType = type;
                            c->SetWindow(type, 0);
                        }
                        break;
                    }
                    case 1:
                        e.m_chanLeft.ClearHold();
                        e.m_chanRight.ClearHold();
                        break;
                    case 2:
                        e.m_nSpanLowHz = 5 + static_cast<int>(step % 400);
                        e.m_nSpanHighHz = 500 + static_cast<int>(step * 37 % 20000);
                        break;
                    case 3:
                        e.m_bStereo = static_cast<int>(step / 6 % 2);
                        break;
                    default:
                        e.m_nLengthMs = 1 + static_cast<int>(step * 13 % setup.nMaxLengthMs);
                        break;
                    }
                    ++changes;
                }
            }
            ++step;
            SleepMs(1);
        }
    });

    const SCaptureGuid device = CTestSignalDevice::Guid();
    for (int run = 0; run < nRuns; ++run) {
        const SSetup& setup = kSetups[run % 4];
        auto* pNew = new CCaptureEngine();
        pNew->m_pView = &view;
        pNew->m_nSampleRate = setup.nRate;
        pNew->m_nFftSize = setup.nFftSize;
        pNew->m_nLengthMs = setup.nMaxLengthMs;
        pNew->m_nWindowType = run % 4;
        pNew->m_nSpanLowHz = 40;
        pNew->m_nSpanHighHz = setup.nRate / 2;
        {
            std::lock_guard guard(lock);
            pEngine = pNew;
        }
        ASSERT_EQ(pNew->Open(&device), 1);
        ASSERT_EQ(pNew->Start(), 1);
        wait(run % 10 == 0 ? 650 + static_cast<uint32_t>(run * 53 % 500)
                           : static_cast<uint32_t>(run * 7 % 25));
        pNew->m_bStopCycle = 1;
        pNew->m_nPassCount = 20000;
        EXPECT_EQ(pNew->Stop(), 0);
        {
            std::lock_guard guard(lock);
            pEngine = nullptr;
        }
        delete pNew;
        betweenRuns();
    }
    done = true;
    mutator.join();
    EXPECT_GT(changes.load(), 0);
}
