#include <gtest/gtest.h>

#include "tests/capture/EngineStress.h"
#include "tests/capture/RecordingEngineView.h"

TEST(CaptureStress, TwoHundredStartStopRunsWhileTheSettingsChange) {
    CRecordingEngineView view;
    RunStartStopStress(view, 200, SleepMs, [&view] {
        EXPECT_EQ(view.m_nInside.load(), 0); // no frame outlives its engine's Stop
        view.BindChannels(nullptr, nullptr, 0, 0);
    });
    EXPECT_EQ(view.m_nBinds, 400);
    EXPECT_GT(view.m_nRenders.load(), 100);
}
