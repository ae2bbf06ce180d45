#pragma once

#include "analysis/LevelScale.h"
#include "analysis/PowerScale.h"
#include "view/SpanGeometry.h"
#include "view/SpectrogramColumns.h"

#include <QImage>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

class CDC;

// Where the spectrogram lies and what it maps: its device columns (the plot's,
// from x = 28 to the right edge, on the span's axis) and rows, the bins of the
// run, and the time a row covers (the history over the rows).
struct SSpectrogramShape {
    SSpanGeometry geo{};
    double dRatio = 1.0;
    int nFirstColumn = 0; // the device column of the plot's x = 28
    int nColumns = 0;
    int nRows = 0;
    int nBins = 0; // N/2 + 1
    int nSampleRate = 0;
    int nFftSize = 0;
    std::int64_t nRowNs = 0;

    bool IsEmpty() const { return nColumns <= 0 || nRows <= 0 || nBins < 8 || nRowNs <= 0; }
    bool operator==(const SSpectrogramShape&) const = default;
};

// The spectrogram's history: a ring of rows at device-pixel size, newest at
// the top. Each pass's power is folded into the row being gathered (the
// maximum of each bin, so that short events are not lost); a row is written
// whenever the time of one has passed, so that the ring's height holds the
// history. Rows keep coming while nobody looks: the passes write them, not
// the frames. A frame shows the ring as two unscaled blocks.
//
// Each pixel keeps its level (dB on the full-scale linear scale of the unit,
// weighted as the bars are, in hundredths) beside its colour, so that a new
// Y-scale, Offset or unit colours the whole history anew, and a new span,
// size or history re-maps it: each new pixel takes the old one of its
// frequency and time where there was one, and is cleared where not.
//
// Threads: Pass runs on the acquisition cycle's thread, and only there; the
// rest on any thread. m_lock guards the ring and everything it is drawn with.
class CSpectrogram {
public:
    static constexpr std::int16_t kNoLevel = INT16_MIN; // nothing recorded

    CSpectrogram();

    // The shape rows take from now on; the history is re-mapped into it.
    void SetShape(const SSpectrogramShape& shape);
    SSpectrogramShape Shape() const;
    // Forgets the history.
    void Clear();
    // The unit of the bars, whose weighting the rows take.
    void SetLevels(const SLevelSettings& settings);
    // The frame's levels at the plot's floor (black) and the grid's top (pale
    // yellow), as values of its bars: on the unit's linear scale, or as
    // designed the channel's power, whose scale is given.
    void SetColours(double dFloorValue, double dTopValue, const SPowerScale& scale, bool bDesigned);

    // A pass over the left channel's power, bins 0 to N/2, at nNowNs on the
    // steady clock. Acquisition cycle's thread only.
    void Pass(const double* pPower, int nBins, const SPowerScale& scale, std::int64_t nNowNs);

    // Shows the ring with its newest row at logical y = nTop, as the shape
    // lies on dc.
    void Draw(CDC& dc, int nTop) const;
    // While frozen, Draw shows the history as it stood when it froze (until
    // the shape changes); the passes go on writing rows underneath.
    void Freeze(bool bFrozen);

    // Rows written since the view was made, and rows recorded in the history now.
    int RowsWritten() const { return m_nRowsWritten.load(); }
    int RowsRecorded() const;
    // The rows' colours and levels as shown: newest row first (tests).
    QImage Picture() const;
    std::vector<std::int16_t> LevelsShown() const;
    // The column that shows bin nBin (tests).
    int ColumnOfBin(int nBin) const;

private:
    std::int16_t* LevelRow(int nRing) { return &m_anLevels[std::size_t(nRing) * m_shape.nColumns]; }
    void Remap(const SSpectrogramShape& shape);
    void WriteRow(const std::int16_t* pLevels);
    void ColourRow(int nRing);
    void ColourAll();
    std::uint32_t Colour(std::int16_t nLevel) const;
    int RingRow(int nShown) const { return (m_nHead + nShown) % m_shape.nRows; }

    mutable std::mutex m_lock;
    // Under m_lock.
    SSpectrogramShape m_shape;
    CSpectrogramColumns m_columns;
    CLevelScale m_storage;                // the bars' unit, or dBFS as designed
    std::vector<std::int16_t> m_anLevels; // rows x columns, ring order
    QImage m_imgRing;                     // the same rows' colours
    int m_nHead = 0;                      // the ring row shown at the top
    int m_nRecorded = 0;                  // rows holding history, from the top
    QImage m_imgFrozen;                   // the ring as it froze; null while live
    int m_nFrozenHead = 0;
    std::array<std::uint32_t, 256> m_aColours{};
    std::int64_t m_nFloorLevel = 0;         // hundredths of a dB: black
    std::int64_t m_nLevelScale = 0;         // colour index per hundredth, in 1/65536
    std::vector<std::int16_t> m_anRow;      // the row being written
    std::atomic<unsigned> m_nGeneration{0}; // a new shape or a cleared history
    std::atomic<int> m_nRowsWritten{0};

    // The acquisition cycle's thread only.
    std::vector<double> m_adGathered; // the maximum of each bin since the last row
    std::int64_t m_nNextRowNs = 0;    // when the next row is due; 0 at the first pass
    unsigned m_nPassGeneration = ~0u;
};
