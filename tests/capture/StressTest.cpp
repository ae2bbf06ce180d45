#include <gtest/gtest.h>

#include "tests/capture/EngineStress.h"
#include "tests/capture/RecordingEngineView.h"

TEST(CaptureStress, TwoHundredStartStopRunsWhileTheSettingsChange) {
    CRecordingEngineView view;
    RunStartStopStress(view, 200, SleepMs, [&view] {
        EXPECT_EQ(view.m_nInside.load(), 0); // no pass outlives its engine's Stop
        // and the view let go of the channels before they went
        std::lock_guard lock(view.m_lock);
        EXPECT_EQ(view.m_pLeft, nullptr);
    });
    EXPECT_EQ(view.m_nBinds, 400);
    EXPECT_GT(view.m_nPasses.load(), 100);
}
