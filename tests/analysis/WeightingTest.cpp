#include "analysis/Weighting.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// IEC 61672-1 Table 3: nominal A and C weightings in dB at the one-third-octave frequencies
// 1000 * 10^(n/10), n = -15 (31.5 Hz) .. 13 (20 kHz).
struct SNominal {
    int n;
    double dA;
    double dC;
};
constexpr SNominal kTable[] = {
    {-15, -39.4, -3.0}, {-14, -34.6, -2.0}, {-13, -30.2, -1.3}, {-12, -26.2, -0.8},
    {-11, -22.5, -0.5}, {-10, -19.1, -0.3}, {-9, -16.1, -0.2},  {-8, -13.4, -0.1},
    {-7, -10.9, 0.0},   {-6, -8.6, 0.0},    {-5, -6.6, 0.0},    {-4, -4.8, 0.0},
    {-3, -3.2, 0.0},    {-2, -1.9, 0.0},    {-1, -0.8, 0.0},    {0, 0.0, 0.0},
    {1, 0.6, 0.0},      {2, 1.0, -0.1},     {3, 1.2, -0.2},     {4, 1.3, -0.3},
    {5, 1.2, -0.5},     {6, 1.0, -0.8},     {7, 0.5, -1.3},     {8, -0.1, -2.0},
    {9, -1.1, -3.0},    {10, -2.5, -4.4},   {11, -4.3, -6.2},   {12, -6.6, -8.5},
    {13, -9.3, -11.2},
};

TEST(Weighting, MatchesTheStandardsTable) {
    for (const SNominal& row : kTable) {
        const double dHz = 1000.0 * std::pow(10.0, row.n / 10.0);
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
