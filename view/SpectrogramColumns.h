#pragma once

#include "view/SpanGeometry.h"

#include <cstdint>
#include <vector>

// Which bins each device column of the spectrogram shows, built once per
// geometry. A column takes the strongest of the bins whose centres fall in
// it, so that a narrow tone never vanishes where many bins share a column; a
// column without a bin centre (low frequencies on a wide window) lies between
// two bins and takes the level between theirs, interpolated in dB.
//
// Levels are kept in hundredths of a dB, as 16-bit numbers.
class CSpectrogramColumns {
public:
    static constexpr int kLowestLevel = -32000; // -320 dB: no power at all

    // The columns from device column nFirstColumn on, nColumns of them, at
    // dRatio device pixels per logical pixel, for a span over nBins bins
    // (0 to N/2).
    void Build(const SSpanGeometry& geo, double dRatio, int nFirstColumn, int nColumns, int nBins);
    int Columns() const { return static_cast<int>(m_aColumns.size()); }
    // One row: the level of each column from the power per bin times its gain.
    void Levels(const double* pPower, const double* pGain, std::int16_t* pOut) const;
    // The column whose range holds bin nBin's centre, or -1 (tests).
    int ColumnOfBin(int nBin) const;

    static std::int16_t LevelOf(double dPower);

private:
    // Bins nFirst up to nEnd; where nEnd == nFirst, between bins nFirst and
    // nFirst + 1, at fFraction of the way.
    struct SColumn {
        int nFirst;
        int nEnd;
        float fFraction;
    };
    std::vector<SColumn> m_aColumns;
};
