#pragma once

#include <optional>
#include <vector>

// Loudness = -0.691 + 10 log10 of the channels' summed mean squares (full
// scale 1.0); digital silence reads minus infinity.
double LoudnessOf(double dMeanSquare);

// Loudness values of blocks, kept for runs of any length in bounded memory:
// each in a bin 0.01 LU wide from the absolute gate, -70 LUFS, up to +10
// LUFS (louder ones in the top bin), which keeps their count and the sum of
// their mean squares. Means over the bins are then exact, and what a bin
// loses is only where in it a value lay: a gate or a percentile is off by
// at most the bin's width.
class CLoudnessHistogram {
public:
    static constexpr double kAbsoluteGate = -70.0;
    static constexpr double kTop = 10.0;
    static constexpr double kBinWidth = 0.01;
    static constexpr int kBins = 8000; // (kTop - kAbsoluteGate) / kBinWidth

    // Sets the bins aside (the only allocation) and empties them.
    void Allocate();
    void Clear();
    // A block's channel-summed mean square; left out unless it is above the
    // absolute gate.
    void Add(double dMeanSquare);
    long long Count() const { return m_nCount; }

    // BS.1770's gated loudness: that of the mean square of the values above
    // the gate dRelativeLu from the loudness of the mean of them all.
    std::optional<double> GatedLoudness(double dRelativeLu) const;
    // Tech 3342's loudness range: of the values above the gate dRelativeLu
    // from the loudness of the mean of them all, the distance from the
    // dLow to the dHigh fraction of the way up their sorted list.
    std::optional<double> Range(double dRelativeLu, double dLow, double dHigh) const;

private:
    struct SBin {
        long long nCount = 0;
        double dMeanSquares = 0.0;
    };

    // The first bin whose centre lies above the relative gate of dRelativeLu.
    int FirstBinAbove(double dRelativeLu) const;
    // The centre of the bin holding the value nRank places up from bin nFirst.
    double ValueAtRank(int nFirst, long long nRank) const;
    static double Centre(int nBin) { return kAbsoluteGate + (nBin + 0.5) * kBinWidth; }

    std::vector<SBin> m_aBins;
    long long m_nCount = 0;
    double m_dMeanSquares = 0.0;
};
