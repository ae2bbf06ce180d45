// Its own program: the figure a run's first cycle shows depends on no cycle
// having ended before it in the process.
#include <gtest/gtest.h>

#include "tests/capture/EngineTestSupport.h"

TEST(CaptureFirstCycle, TheFirstCycleAfterStartUpHandsTheViewAPassCountOfOne) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    s.StopAfter(3);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.view.PassCounts(), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(g_nLastCyclePasses, 3);
}
