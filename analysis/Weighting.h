#pragma once

// Frequency weightings of IEC 61672-1, as closed forms of the frequency. Both A and C read
// 0 dB at 1 kHz; Z is flat.

enum class EWeighting { Z = 0, A = 1, C = 2 };

// The pole frequencies in Hz of the weighting networks: C has two poles at f1
// and two at f4, with two zeros at 0 Hz; A adds a pole at f2, one at f3 and
// two more zeros at 0 Hz.
struct SWeightingPoles {
    static constexpr double kF1 = 20.598997;
    static constexpr double kF2 = 107.65265;
    static constexpr double kF3 = 737.86223;
    static constexpr double kF4 = 12194.217;
};

// The weighting in dB at dHz: 0 for Z; -infinity for A and C at dHz <= 0.
double WeightingDb(EWeighting w, double dHz);

// The weighting as a factor on power, 10^(dB/10): 1 for Z, 0 for A and C at dHz <= 0.
double WeightingPowerGain(EWeighting w, double dHz);

// "Z", "A" or "C", for labels and stored settings.
const char* WeightingLetter(EWeighting w);
