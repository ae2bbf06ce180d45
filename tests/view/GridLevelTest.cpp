// The grid's level scale without the pixel rows: what the cursor readout
// reads off a frame's row, to within the rounding of a few rows, at every
// plot height, Y-scale and offset.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/view/ViewTestSupport.h"
#include "view/GridLevel.h"

TEST(GridLevel, IsTheReadoutsScaleWithoutItsRounding) {
    const double dLn10 = std::log(10.0);
    for (int nPlotH : {100, 237, 405, 1000, 4000})
        for (int nYScale : {1, 37, 100, 500})
            for (int nOffset : {0, 100, 333, 1000})
                for (double dPower : {0.0, 1.0, 10.0, 1e5, 1e11, 1e15}) {
                    const SExpectedLevels lv = ExpectedLevels(nPlotH, nYScale, nOffset);
                    const int y = lv.Y(dPower);
                    const double dReadout = 10 * (lv.nZeroY - y) / (dLn10 * lv.dYScale);
                    // Three rows rounded down: the base, the zero line and the value's.
                    const double dPerRow = 10 / (dLn10 * lv.dYScale);
                    EXPECT_NEAR(GridLevelDb(dPower, nOffset, nYScale), dReadout, 3 * dPerRow)
                        << nPlotH << " " << nYScale << " " << nOffset << " " << dPower;
                }
}

TEST(GridLevel, TenTimesThePowerIsTenDecibelsAndTheOffsetAddsItself) {
    EXPECT_NEAR(GridLevelDb(1e6, 100, 100) - GridLevelDb(1e5, 100, 100), 10.0, 1e-12);
    EXPECT_NEAR(GridLevelDb(1e6, 120, 100) - GridLevelDb(1e6, 100, 100), 20.0, 1e-12);
    // Below 1.0 a power stands where 1.0 does, as in the frames.
    EXPECT_EQ(GridLevelDb(0.0, 100, 100), GridLevelDb(1.0, 100, 100));
}
