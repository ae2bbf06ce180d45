#include "view/Spectrogram.h"

#include "platform/DC.h"
#include "view/Inferno.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr std::uint32_t kOpaque = 0xff000000u;
constexpr std::uint32_t kCleared = kOpaque; // black: nothing recorded there

// The unit rows are kept in: the bars' own, or dBFS without weighting as
// designed, so that the history keeps its levels whatever the unit.
SLevelSettings StorageSettings(SLevelSettings settings) {
    if (settings.IsDesigned()) {
        settings = SLevelSettings{};
        settings.eUnit = ELevelUnit::Dbfs;
    }
    return settings;
}

} // namespace

CSpectrogram::CSpectrogram() {
    const auto& aInferno = InfernoTable();
    for (std::size_t i = 0; i < aInferno.size(); ++i) {
        m_aColours[i] = kOpaque | aInferno[i];
    }
    m_storage.Update(StorageSettings({}), 0, 0);
}

SSpectrogramShape CSpectrogram::Shape() const {
    std::lock_guard lock(m_lock);
    return m_shape;
}

void CSpectrogram::SetShape(const SSpectrogramShape& shape) {
    std::lock_guard lock(m_lock);
    if (shape == m_shape) {
        return;
    }
    Remap(shape);
    m_storage.Update(StorageSettings(m_storage.Settings()), shape.nSampleRate, shape.nFftSize);
    m_nGeneration.fetch_add(1);
}

void CSpectrogram::Clear() {
    std::lock_guard lock(m_lock);
    std::fill(m_anLevels.begin(), m_anLevels.end(), kNoLevel);
    m_imgRing.fill(kCleared);
    m_nHead = 0;
    m_nRecorded = 0;
    m_nGeneration.fetch_add(1);
}

void CSpectrogram::SetLevels(const SLevelSettings& settings) {
    std::lock_guard lock(m_lock);
    m_storage.Update(StorageSettings(settings), m_shape.nSampleRate, m_shape.nFftSize);
}

// The frame's floor and top as stored levels, then as a colour index per
// hundredth of a dB in fixed point. A change colours the history anew.
void CSpectrogram::SetColours(double dFloorValue, double dTopValue, const SPowerScale& scale,
                              bool bDesigned) {
    std::lock_guard lock(m_lock);
    const double dFactor = bDesigned ? m_storage.ChannelFactor(scale) : 1.0;
    const double dFloor = CSpectrogramColumns::LevelOf(dFloorValue * dFactor);
    const double dTop = CSpectrogramColumns::LevelOf(dTopValue * dFactor);
    const std::int64_t nFloor = static_cast<std::int64_t>(dFloor);
    const std::int64_t nScale =
        static_cast<std::int64_t>(std::llround(255.0 * 65536.0 / std::max(dTop - dFloor, 1.0)));
    if (nFloor == m_nFloorLevel && nScale == m_nLevelScale) {
        return;
    }
    m_nFloorLevel = nFloor;
    m_nLevelScale = nScale;
    ColourAll();
}

std::uint32_t CSpectrogram::Colour(std::int16_t nLevel) const {
    if (nLevel == kNoLevel) {
        return kCleared;
    }
    const std::int64_t nIndex = ((nLevel - m_nFloorLevel) * m_nLevelScale + 32768) >> 16;
    return m_aColours[static_cast<std::size_t>(std::clamp<std::int64_t>(nIndex, 0, 255))];
}

void CSpectrogram::ColourRow(int nRing) {
    const std::int16_t* pLevel = LevelRow(nRing);
    auto* pPixel = reinterpret_cast<std::uint32_t*>(m_imgRing.scanLine(nRing));
    for (int c = 0; c < m_shape.nColumns; ++c) {
        pPixel[c] = Colour(pLevel[c]);
    }
}

void CSpectrogram::ColourAll() {
    for (int r = 0; r < m_shape.nRows && !m_imgRing.isNull(); ++r) {
        ColourRow(r);
    }
}

// The pass's maximum per bin joins the row being gathered; each row whose
// time has come is written from it, and after a gap of more than the whole
// history (a stall) the rows start anew from now.
void CSpectrogram::Pass(const double* pPower, int nBins, const SPowerScale& scale,
                        std::int64_t nNowNs) {
    const unsigned nGeneration = m_nGeneration.load();
    if (nGeneration != m_nPassGeneration || static_cast<int>(m_adGathered.size()) != nBins) {
        m_nPassGeneration = nGeneration;
        m_adGathered.assign(static_cast<std::size_t>(std::max(nBins, 0)), 0.0);
        m_nNextRowNs = 0;
    }
    for (int b = 0; b < nBins; ++b) {
        m_adGathered[std::size_t(b)] = std::max(m_adGathered[std::size_t(b)], pPower[b]);
    }
    if (m_nNextRowNs == 0) {
        m_nNextRowNs = nNowNs;
    }
    if (nNowNs < m_nNextRowNs) {
        return;
    }
    std::lock_guard lock(m_lock);
    const SSpectrogramShape& shape = m_shape;
    if (shape.IsEmpty() || shape.nBins != nBins || m_nGeneration.load() != nGeneration) {
        return;
    }
    std::int64_t nRows = (nNowNs - m_nNextRowNs) / shape.nRowNs + 1;
    if (nRows > shape.nRows) {
        nRows = shape.nRows;
        m_nNextRowNs = nNowNs + shape.nRowNs;
    } else {
        m_nNextRowNs += nRows * shape.nRowNs;
    }
    const std::vector<double>& adGain = m_storage.ChannelGains(scale);
    if (static_cast<int>(adGain.size()) < nBins) {
        return;
    }
    m_columns.Levels(m_adGathered.data(), adGain.data(), m_anRow.data());
    for (std::int64_t i = 0; i < nRows; ++i) {
        WriteRow(m_anRow.data());
    }
    std::fill(m_adGathered.begin(), m_adGathered.end(), 0.0);
}

void CSpectrogram::WriteRow(const std::int16_t* pLevels) {
    m_nHead = (m_nHead + m_shape.nRows - 1) % m_shape.nRows;
    std::memcpy(LevelRow(m_nHead), pLevels, sizeof(std::int16_t) * std::size_t(m_shape.nColumns));
    ColourRow(m_nHead);
    m_nRecorded = std::min(m_nRecorded + 1, m_shape.nRows);
    m_nRowsWritten.fetch_add(1, std::memory_order_relaxed);
}

// Each pixel of the new shape takes the strongest level the old one showed
// over its column's frequencies (at its centre where that covers no old
// column) and at its row's time, where the old one reached.
void CSpectrogram::Remap(const SSpectrogramShape& shape) {
    const SSpectrogramShape old = m_shape;
    const bool bOldHolds = !old.IsEmpty() && m_nRecorded > 0 && !shape.IsEmpty();
    std::vector<std::pair<int, int>> aOldColumns(std::size_t(std::max(shape.nColumns, 0)), {0, 0});
    auto OldColumn = [&](double dNewX) {
        const double dHz = shape.geo.BinAt(dNewX / shape.dRatio) * shape.geo.dBinWidth;
        return std::floor(old.geo.XOf(dHz / old.geo.dBinWidth) * old.dRatio) - old.nFirstColumn;
    };
    for (int c = 0; bOldHolds && c < shape.nColumns; ++c) {
        const int d = shape.nFirstColumn + c;
        double dFirst = std::max(OldColumn(d), 0.0);
        double dEnd = std::min(OldColumn(d + 1), double(old.nColumns));
        if (dEnd <= dFirst) {
            dFirst = OldColumn(d + 0.5);
            dEnd = dFirst + 1;
        }
        if (dFirst >= 0 && dEnd <= old.nColumns) {
            aOldColumns[std::size_t(c)] = {int(dFirst), int(dEnd)};
        }
    }
    std::vector<std::int16_t> anLevels(
        std::size_t(std::max(shape.nColumns, 0)) * std::size_t(std::max(shape.nRows, 0)), kNoLevel);
    int nRecorded = 0;
    for (int r = 0; bOldHolds && r < shape.nRows; ++r) {
        const std::int64_t nOld = ((2 * r + 1) * shape.nRowNs) / (2 * old.nRowNs);
        if (nOld >= m_nRecorded) {
            break;
        }
        const std::int16_t* pOld = LevelRow(RingRow(static_cast<int>(nOld)));
        std::int16_t* pNew = &anLevels[std::size_t(r) * std::size_t(shape.nColumns)];
        for (int c = 0; c < shape.nColumns; ++c) {
            const auto [nFirst, nEnd] = aOldColumns[std::size_t(c)];
            if (nEnd > nFirst) {
                pNew[c] = *std::max_element(pOld + nFirst, pOld + nEnd);
            }
        }
        nRecorded = r + 1;
    }
    m_shape = shape;
    m_anLevels = std::move(anLevels);
    m_nHead = 0;
    m_nRecorded = nRecorded;
    m_anRow.assign(std::size_t(std::max(shape.nColumns, 0)), kNoLevel);
    if (shape.IsEmpty()) {
        m_imgRing = QImage();
        m_columns = CSpectrogramColumns();
        return;
    }
    m_imgRing = QImage(shape.nColumns, shape.nRows, QImage::Format_RGB32);
    m_columns.Build(shape.geo, shape.dRatio, shape.nFirstColumn, shape.nColumns, shape.nBins);
    ColourAll();
}

// Two unscaled blocks: the ring from its head down to its end, then from its
// start up to the head.
void CSpectrogram::Draw(CDC& dc, int nTop) const {
    std::lock_guard lock(m_lock);
    if (m_imgRing.isNull()) {
        return;
    }
    const bool bFrozen = !m_imgFrozen.isNull() && m_imgFrozen.size() == m_imgRing.size();
    const QImage& img = bFrozen ? m_imgFrozen : m_imgRing;
    const int nHead = bFrozen ? m_nFrozenHead : m_nHead;
    const int x = m_shape.nFirstColumn;
    const int y = dc.DeviceCoordinate(nTop);
    const int nUpper = m_shape.nRows - nHead;
    dc.SetDIBitsToDevice(x, y, m_shape.nColumns, nUpper, img, 0, nHead);
    dc.SetDIBitsToDevice(x, y + nUpper, m_shape.nColumns, nHead, img, 0, 0);
}

void CSpectrogram::Freeze(bool bFrozen) {
    std::lock_guard lock(m_lock);
    m_imgFrozen = bFrozen ? m_imgRing.copy() : QImage();
    m_nFrozenHead = m_nHead;
}

int CSpectrogram::RowsRecorded() const {
    std::lock_guard lock(m_lock);
    return m_nRecorded;
}

QImage CSpectrogram::Picture() const {
    std::lock_guard lock(m_lock);
    if (m_imgRing.isNull()) {
        return {};
    }
    QImage img(m_shape.nColumns, m_shape.nRows, QImage::Format_RGB32);
    for (int r = 0; r < m_shape.nRows; ++r) {
        std::memcpy(img.scanLine(r), m_imgRing.constScanLine(RingRow(r)),
                    std::size_t(m_shape.nColumns) * 4);
    }
    return img;
}

std::vector<std::int16_t> CSpectrogram::LevelsShown() const {
    std::lock_guard lock(m_lock);
    std::vector<std::int16_t> an;
    an.reserve(m_anLevels.size());
    for (int r = 0; r < m_shape.nRows; ++r) {
        const std::int16_t* pRow = &m_anLevels[std::size_t(RingRow(r)) * m_shape.nColumns];
        an.insert(an.end(), pRow, pRow + m_shape.nColumns);
    }
    return an;
}

int CSpectrogram::ColumnOfBin(int nBin) const {
    std::lock_guard lock(m_lock);
    return m_columns.ColumnOfBin(nBin);
}
