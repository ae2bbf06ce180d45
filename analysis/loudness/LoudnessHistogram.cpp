#include "analysis/loudness/LoudnessHistogram.h"

#include <algorithm>
#include <cmath>

double LoudnessOf(double dMeanSquare) {
    return -0.691 + 10.0 * std::log10(dMeanSquare);
}

void CLoudnessHistogram::Allocate() {
    m_aBins.assign(kBins, SBin{});
    Clear();
}

void CLoudnessHistogram::Clear() {
    std::fill(m_aBins.begin(), m_aBins.end(), SBin{});
    m_nCount = 0;
    m_dMeanSquares = 0.0;
}

void CLoudnessHistogram::Add(double dMeanSquare) {
    const double dLoudness = LoudnessOf(dMeanSquare);
    if (!(dLoudness > kAbsoluteGate) || m_aBins.empty()) {
        return;
    }
    const int nBin = std::min(int((dLoudness - kAbsoluteGate) / kBinWidth), kBins - 1);
    SBin& bin = m_aBins[std::size_t(nBin)];
    ++bin.nCount;
    bin.dMeanSquares += dMeanSquare;
    ++m_nCount;
    m_dMeanSquares += dMeanSquare;
}

int CLoudnessHistogram::FirstBinAbove(double dRelativeLu) const {
    const double dGate = LoudnessOf(m_dMeanSquares / double(m_nCount)) + dRelativeLu;
    const double dFirst = std::floor((dGate - kAbsoluteGate) / kBinWidth - 0.5) + 1.0;
    return int(std::clamp(dFirst, 0.0, double(kBins)));
}

std::optional<double> CLoudnessHistogram::GatedLoudness(double dRelativeLu) const {
    if (m_nCount == 0) {
        return std::nullopt;
    }
    long long nCount = 0;
    double dMeanSquares = 0.0;
    for (int i = FirstBinAbove(dRelativeLu); i < kBins; ++i) {
        nCount += m_aBins[std::size_t(i)].nCount;
        dMeanSquares += m_aBins[std::size_t(i)].dMeanSquares;
    }
    if (nCount == 0) {
        return std::nullopt;
    }
    return LoudnessOf(dMeanSquares / double(nCount));
}

double CLoudnessHistogram::ValueAtRank(int nFirst, long long nRank) const {
    long long nBelow = 0;
    for (int i = nFirst; i < kBins; ++i) {
        nBelow += m_aBins[std::size_t(i)].nCount;
        if (nBelow > nRank) {
            return Centre(i);
        }
    }
    return Centre(kBins - 1);
}

// The fractions are taken at the nearest rank of the n values: the value
// round((n - 1) p) places up from the lowest.
std::optional<double> CLoudnessHistogram::Range(double dRelativeLu, double dLow,
                                                double dHigh) const {
    if (m_nCount == 0) {
        return std::nullopt;
    }
    const int nFirst = FirstBinAbove(dRelativeLu);
    long long nCount = 0;
    for (int i = nFirst; i < kBins; ++i) {
        nCount += m_aBins[std::size_t(i)].nCount;
    }
    if (nCount == 0) {
        return std::nullopt;
    }
    const auto Rank = [&](double p) { return std::llround(double(nCount - 1) * p); };
    return ValueAtRank(nFirst, Rank(dHigh)) - ValueAtRank(nFirst, Rank(dLow));
}
