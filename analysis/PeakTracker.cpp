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

SPeakBracket PeakBracket(const double* pPower, int v, int nFftSize, int nSampleRate) {
    if (v > 0 && pPower[v - 1] > pPower[v + 1]) {
        const double hi = static_cast<double>(v) * nSampleRate / nFftSize;
        const int below = (v - 1) * nSampleRate / nFftSize;
        return SPeakBracket{(below + hi) * 0.5, hi};
    }
    const double lo = static_cast<double>(v) * nSampleRate / nFftSize;
    const int above = (v + 1) * nSampleRate / nFftSize;
    return SPeakBracket{lo, (above + lo) * 0.5};
}

SPeakBracket RefinePeak(const CAnalysisChannel& chan, SPeakBracket bracket) {
    double eLo = chan.EvaluateAt(bracket.lo);
    double eHi = chan.EvaluateAt(bracket.hi);
    for (int step = 0; step < 10; ++step) {
        const double mid = (bracket.lo + bracket.hi) * 0.5;
        if (eLo > eHi) {
            bracket.hi = mid;
            eHi = chan.EvaluateAt(mid);
        } else {
            bracket.lo = mid;
            eLo = chan.EvaluateAt(mid);
        }
    }
    return bracket;
}

void TrackPeak(CAnalysisChannel& chan, int nFftSize, int nSampleRate, int nSpanLowHz,
               int nSpanHighHz) {
    if (nFftSize < 16 || nFftSize != chan.m_nSize || nSampleRate <= 0)
        return;
    const double* power = chan.GetPower();
    const int v =
        FindStrongestBin(power, PeakSearchBins(nFftSize, nSampleRate, nSpanLowHz, nSpanHighHz));
    const SPeakBracket refined = RefinePeak(chan, PeakBracket(power, v, nFftSize, nSampleRate));
    const double previous = chan.m_dPeakHz.load(std::memory_order_relaxed);
    chan.m_dPeakHz.store((refined.lo + refined.hi) * 0.05 + previous * 0.9,
                         std::memory_order_relaxed);
}
