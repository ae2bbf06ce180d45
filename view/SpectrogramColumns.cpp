#include "view/SpectrogramColumns.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

void CSpectrogramColumns::Build(const SSpanGeometry& geo, double dRatio, int nFirstColumn,
                                int nColumns, int nBins) {
    m_aColumns.clear();
    const int nLow = std::max(geo.nBinLow, 1);
    const int nLast = std::min(geo.nBinMax, nBins - 1);
    if (nColumns <= 0 || nLast <= nLow || !(dRatio > 0.0) || !(geo.dXScale > 0.0)) {
        return;
    }
    m_aColumns.reserve(static_cast<std::size_t>(nColumns));
    for (int c = 0; c < nColumns; ++c) {
        const int d = nFirstColumn + c;
        // The bin centres b with BinAt(left edge) <= b < BinAt(right edge).
        const int nFirst = std::max(static_cast<int>(std::ceil(geo.BinAt(d / dRatio))), nLow);
        const int nEnd =
            std::min(static_cast<int>(std::ceil(geo.BinAt((d + 1) / dRatio))), nLast + 1);
        if (nEnd > nFirst) {
            m_aColumns.push_back(SColumn{nFirst, nEnd, 0.0f});
            continue;
        }
        const double dCentre = std::clamp(geo.BinAt((d + 0.5) / dRatio), static_cast<double>(nLow),
                                          static_cast<double>(nLast));
        const int nBelow = std::min(static_cast<int>(dCentre), nLast - 1);
        m_aColumns.push_back(SColumn{nBelow, nBelow, static_cast<float>(dCentre - nBelow)});
    }
}

namespace {

// log2 of a positive, finite, normal v to within 1e-6: the exponent from the
// bits, the mantissa's logarithm from the series of atanh. A row takes one per
// column, which the library's logarithm made the larger part of its time.
double FastLog2(double v) {
    std::uint64_t nBits;
    std::memcpy(&nBits, &v, sizeof nBits);
    const int nExponent = static_cast<int>(nBits >> 52) - 1023;
    nBits = (nBits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL;
    double m;
    std::memcpy(&m, &nBits, sizeof m); // in [1, 2)
    const double t = (m - 1.0) / (m + 1.0);
    const double t2 = t * t;
    const double dLn = 2.0 * t * (1.0 + t2 * (1.0 / 3 + t2 * (1.0 / 5 + t2 * (1.0 / 7 + t2 / 9))));
    return nExponent + dLn * std::numbers::log2e;
}

} // namespace

std::int16_t CSpectrogramColumns::LevelOf(double dPower) {
    if (!(dPower > 1e-32)) {
        return kLowestLevel;
    }
    if (!(dPower < 1e32)) {
        return 32000;
    }
    // Hundredths of a dB: 1000 log10 P.
    const double dLevel =
        std::round(1000.0 * std::numbers::ln2 / std::numbers::ln10 * FastLog2(dPower));
    return static_cast<std::int16_t>(std::clamp(dLevel, double(kLowestLevel), 32000.0));
}

void CSpectrogramColumns::Levels(const double* pPower, const double* pGain,
                                 std::int16_t* pOut) const {
    // Neighbouring interpolated columns mostly lie between the same two bins.
    int nPair = -1;
    double dBelow = 0.0;
    double dAbove = 0.0;
    for (const SColumn& col : m_aColumns) {
        if (col.nEnd > col.nFirst) {
            double dMax = 0.0;
            for (int b = col.nFirst; b < col.nEnd; ++b) {
                dMax = std::max(dMax, pPower[b] * pGain[b]);
            }
            *pOut++ = LevelOf(dMax);
            continue;
        }
        if (col.nFirst != nPair) {
            nPair = col.nFirst;
            dBelow = LevelOf(pPower[nPair] * pGain[nPair]);
            dAbove = LevelOf(pPower[nPair + 1] * pGain[nPair + 1]);
        }
        *pOut++ =
            static_cast<std::int16_t>(std::lround(dBelow + col.fFraction * (dAbove - dBelow)));
    }
}

int CSpectrogramColumns::ColumnOfBin(int nBin) const {
    for (std::size_t c = 0; c < m_aColumns.size(); ++c) {
        const SColumn& col = m_aColumns[c];
        if (col.nFirst <= nBin && nBin < col.nEnd) {
            return static_cast<int>(c);
        }
    }
    return -1;
}
