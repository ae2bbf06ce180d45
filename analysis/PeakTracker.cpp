#include "analysis/PeakTracker.h"

#include "analysis/AnalysisChannel.h"

SPeakBins PeakSearchBins(int nFftSize, int nSampleRate, int nSpanLowHz, int nSpanHighHz) {
    const double binsPerHz = static_cast<double>(nFftSize) / static_cast<double>(nSampleRate);
    int hiBin = static_cast<int>(binsPerHz * nSpanHighHz + 0.5);
    if (hiBin >= nFftSize / 2)
        hiBin = nFftSize / 2;
    if (hiBin <= 6)
        hiBin = 6;
    int loBin = static_cast<int>(binsPerHz * nSpanLowHz + 0.5);
    if (loBin >= hiBin)
        loBin = hiBin - 2;
    if (loBin <= 2)
        loBin = 2;
    return SPeakBins{loBin, hiBin};
}

// Four bins a round while at least four remain: the comparisons stay in bin
// order, so the first of equal maxima still wins.
int FindStrongestBin(const double* pPower, SPeakBins bins) {
    double best = 0.0;
    int bestBin = 0;
    int i = bins.loBin;
    for (; i + 4 <= bins.hiBin; i += 4) {
        for (int k = i; k < i + 4; ++k) {
            if (pPower[k] > best) {
                best = pPower[k];
                bestBin = k;
            }
        }
    }
    for (; i < bins.hiBin; ++i) {
        if (pPower[i] > best) {
            best = pPower[i];
            bestBin = i;
        }
    }
    return bestBin;
}

// The neighbour's frequency is kept in full precision: truncated to whole hertz
// it would pull the bracket off the peak, or even invert it, wherever a bin is
// only a few hertz wide (large N, low rates).
SPeakBracket PeakBracket(const double* pPower, int v, int nFftSize, int nSampleRate) {
    auto binHz = [&](int bin) { return static_cast<double>(bin) * nSampleRate / nFftSize; };
    if (v > 0 && pPower[v - 1] > pPower[v + 1])
        return SPeakBracket{(binHz(v - 1) + binHz(v)) * 0.5, binHz(v)};
    return SPeakBracket{binHz(v), (binHz(v + 1) + binHz(v)) * 0.5};
}

void TrackPeak(CAnalysisChannel& chan, int nFftSize, int nSampleRate, int nSpanLowHz,
               int nSpanHighHz) {
    if (nFftSize < 16 || nFftSize != chan.m_nSize || nSampleRate <= 0)
        return;
    const double* power = chan.GetPower();
    const int v =
        FindStrongestBin(power, PeakSearchBins(nFftSize, nSampleRate, nSpanLowHz, nSpanHighHz));
    const SPeakBracket refined =
        RefinePeakInPairs([&chan](double hz1, double hz2, double& e1,
                                  double& e2) { chan.EvaluateAt(hz1, hz2, e1, e2); },
                          PeakBracket(power, v, nFftSize, nSampleRate));
    const double previous = chan.m_dPeakHz.load(std::memory_order_relaxed);
    chan.m_dPeakHz.store((refined.lo + refined.hi) * 0.05 + previous * 0.9,
                         std::memory_order_relaxed);
}
