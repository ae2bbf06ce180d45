#pragma once

// Frequency weightings of IEC 61672-1, as closed forms of the frequency. Both A and C read
// 0 dB at 1 kHz; Z is flat.

enum class EWeighting { Z = 0, A = 1, C = 2 };

// The weighting in dB at dHz: 0 for Z; -infinity for A and C at dHz <= 0.
double WeightingDb(EWeighting w, double dHz);

// The weighting as a factor on power, 10^(dB/10): 1 for Z, 0 for A and C at dHz <= 0.
double WeightingPowerGain(EWeighting w, double dHz);

// "Z", "A" or "C", for labels and stored settings.
const char* WeightingLetter(EWeighting w);
