#pragma once

#include <cmath>
#include <limits>

// IEC 61672-1:2013 Table 3: the A and C weightings in dB at the exact
// one-third-octave frequencies 1000 * 10^(n/10), n = -20 (10 Hz) .. 13
// (20 kHz), with the class 1 acceptance limits on a meter's deviation from
// them (upper, lower; no lower limit at 10, 12.5 and 20000 Hz).
struct SIec61672Row {
    int n;
    double dA;
    double dC;
    double dUpper;
    double dLower;

    double Hz() const { return 1000.0 * std::pow(10.0, n / 10.0); }
};

inline constexpr double kNoLimit = -std::numeric_limits<double>::infinity();

inline constexpr SIec61672Row kIec61672Table3[] = {
    {-20, -70.4, -14.3, 3.0, kNoLimit}, {-19, -63.4, -11.2, 2.5, kNoLimit},
    {-18, -56.7, -8.5, 2.0, -4.0},      {-17, -50.5, -6.2, 2.0, -2.0},
    {-16, -44.7, -4.4, 2.0, -1.5},      {-15, -39.4, -3.0, 1.5, -1.5},
    {-14, -34.6, -2.0, 1.0, -1.0},      {-13, -30.2, -1.3, 1.0, -1.0},
    {-12, -26.2, -0.8, 1.0, -1.0},      {-11, -22.5, -0.5, 1.0, -1.0},
    {-10, -19.1, -0.3, 1.0, -1.0},      {-9, -16.1, -0.2, 1.0, -1.0},
    {-8, -13.4, -0.1, 1.0, -1.0},       {-7, -10.9, 0.0, 1.0, -1.0},
    {-6, -8.6, 0.0, 1.0, -1.0},         {-5, -6.6, 0.0, 1.0, -1.0},
    {-4, -4.8, 0.0, 1.0, -1.0},         {-3, -3.2, 0.0, 1.0, -1.0},
    {-2, -1.9, 0.0, 1.0, -1.0},         {-1, -0.8, 0.0, 1.0, -1.0},
    {0, 0.0, 0.0, 0.7, -0.7},           {1, 0.6, 0.0, 1.0, -1.0},
    {2, 1.0, -0.1, 1.0, -1.0},          {3, 1.2, -0.2, 1.0, -1.0},
    {4, 1.3, -0.3, 1.0, -1.0},          {5, 1.2, -0.5, 1.0, -1.0},
    {6, 1.0, -0.8, 1.0, -1.0},          {7, 0.5, -1.3, 1.5, -1.5},
    {8, -0.1, -2.0, 1.5, -2.0},         {9, -1.1, -3.0, 1.5, -2.5},
    {10, -2.5, -4.4, 2.0, -3.0},        {11, -4.3, -6.2, 2.0, -5.0},
    {12, -6.6, -8.5, 2.5, -16.0},       {13, -9.3, -11.2, 3.0, kNoLimit},
};

// IEC 61672-1:2013 Table 4: the response to a 4 kHz tone burst of duration
// Tb re the steady tone's level, 10 lg(1 - e^(-Tb/tau)) for the maximum
// time-weighted level, tabulated to 0.1 dB, with the class 1 limits.
struct SToneBurstRow {
    double dMs;
    double dFast;
    double dSlow;
    double dUpper;
    double dLower;
};

inline constexpr SToneBurstRow kIec61672Table4[] = {
    {1000, 0.0, -2.0, 0.5, -0.5},  {500, -0.1, -4.1, 0.5, -0.5},   {200, -1.0, -7.4, 0.5, -0.5},
    {100, -2.6, -10.2, 1.0, -1.0}, {50, -4.8, -13.1, 1.0, -1.0},   {20, -8.3, -17.0, 1.0, -1.0},
    {10, -11.1, -20.0, 1.0, -1.0}, {5, -14.1, -23.0, 1.0, -1.0},   {2, -18.0, -27.0, 1.0, -1.5},
    {1, -21.0, -30.0, 1.0, -2.0},  {0.5, -24.0, -33.0, 1.0, -2.5}, {0.25, -27.0, -36.0, 1.0, -3.0},
};
