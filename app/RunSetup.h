#pragma once

#include <QString>
#include <QStringList>

// What Start sets up from the sample rate R and the transform size N chosen
// while stopped: the lists' entries, the spin ranges and positions of a new
// run, and what a failed start tells the user. Pure functions of their
// arguments.

// The rates and sizes the set-up lists offer, in list order.
inline constexpr int kSampleRates[] = {8000, 11025, 22050, 44100, 48000, 96000};
inline constexpr int kFftSizes[] = {1024, 2048, 4096, 8192, 16384};
// Selected at start-up: 44100 Hz and 4096 samples.
inline constexpr int kDefaultRateIndex = 3;
inline constexpr int kDefaultSizeIndex = 2;

QStringList SampleRateEntries(); // "8000 Hz" ...
QStringList FftSizeEntries();    // "1024" ...
// The value at a list index, or nFallback where the index selects nothing.
int SampleRateAt(int nIndex, int nFallback);
int FftSizeAt(int nIndex, int nFallback);

// The span spins' ranges and positions for the full span of a run, and the
// length spin's for one whole block. Both span spins reach up to R/2.
struct SRunRanges {
    int nSpanTop;       // R/2, the upper end of both span ranges
    int nSpanLowFloor;  // ⌊2R/N + 0.5⌋: the low edge's range starts and stands here
    int nSpanHighFloor; // ⌊6R/N + 0.5⌋: the high edge's range starts here, it stands at the top
    int nBlockMs;       // ⌊1000N/R + 0.5⌋: the length's range ends and stands here

    bool operator==(const SRunRanges&) const = default;
};
SRunRanges RunRanges(int nSampleRate, int nFftSize);

// The line under the apology of a failed Start: why the device could not be
// opened or started, in words, for a capture error code.
QString OpenFailureReason(int nResult, int nSampleRate);
