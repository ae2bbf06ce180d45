#include "view/SpectrogramColumns.h"

#include <algorithm>
#include <cmath>

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

std::int16_t CSpectrogramColumns::LevelOf(double dPower) {
    if (!(dPower > 1e-32)) {
        return kLowestLevel;
    }
    const double dLevel = std::round(1000.0 * std::log10(dPower));
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
