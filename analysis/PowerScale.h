#pragma once

// How the power a run's channels hold relates to a level that no setting of
// the run changes: in it, a sine of full-scale amplitude (32768) at a bin
// centre has the power 1, 0 dB, whatever the transform size, the window, its
// length and "Pink 2 Flat". A channel holds, for a sine of amplitude A at a
// bin centre k,
//     (A / 2 * sum of w)^2 * (k with Pink 2 Flat, else 1),
// the window w summed over its length; Gain(k) is that for A = 32768.
struct SPowerScale {
    double dWindowSum = 0.0;        // the window's entries over its length
    double dWindowSumSquares = 0.0; // their squares
    int nSize = 0;                  // the transform size N
    bool bPinkToFlat = false;

    static constexpr double kFullScale = 32768.0;

    // The scale of a run with this window (type as the channels number them,
    // nLength samples of nSize), built as the channels build it.
    static SPowerScale OfWindow(int nType, int nLength, int nSize, bool bPinkToFlat);

    // The power a channel holds at (fractional) bin dBin for the level 1; 0
    // where the run holds nothing (bin 0 with Pink 2 Flat) or has no window.
    double Gain(double dBin) const {
        const double dSine = dWindowSum * kFullScale / 2;
        return dSine * dSine * (bPinkToFlat ? dBin : 1.0);
    }
    // The window's equivalent noise bandwidth in bins, N * sum w^2 / (sum w)^2:
    // a sine's power summed over all bins is this many times its peak's, and
    // noise puts this many bins' worth of its power into each bin.
    double NoiseBandwidthBins() const {
        return dWindowSum > 0.0 ? nSize * dWindowSumSquares / (dWindowSum * dWindowSum) : 0.0;
    }
};
