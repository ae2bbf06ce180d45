#include "analysis/Weighting.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/analysis/Iec61672Table.h"

namespace {

TEST(Weighting, MatchesTheStandardsTable) {
    for (const SIec61672Row& row : kIec61672Table3) {
        const double dHz = row.Hz();
        EXPECT_NEAR(WeightingDb(EWeighting::A, dHz), row.dA, 0.1) << dHz << " Hz";
        EXPECT_NEAR(WeightingDb(EWeighting::C, dHz), row.dC, 0.1) << dHz << " Hz";
        EXPECT_NEAR(10.0 * std::log10(WeightingPowerGain(EWeighting::A, dHz)), row.dA, 0.1);
    }
    EXPECT_NEAR(WeightingDb(EWeighting::A, 1000.0), 0.0, 0.001);
    EXPECT_NEAR(WeightingDb(EWeighting::C, 1000.0), 0.0, 0.001);
}

TEST(Weighting, ZIsFlatAndZeroHertzIsSilentForAAndC) {
    for (double dHz : {0.0, 10.0, 1000.0, 24000.0}) {
        EXPECT_EQ(WeightingDb(EWeighting::Z, dHz), 0.0);
        EXPECT_EQ(WeightingPowerGain(EWeighting::Z, dHz), 1.0);
    }
    for (EWeighting w : {EWeighting::A, EWeighting::C}) {
        EXPECT_EQ(WeightingPowerGain(w, 0.0), 0.0);
        EXPECT_TRUE(std::isinf(WeightingDb(w, 0.0)) && WeightingDb(w, 0.0) < 0.0);
    }
}

} // namespace
