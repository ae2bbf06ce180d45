#include "view/RoundLabels.h"

#include "analysis/OctaveBands.h"
#include "platform/DC.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The labels placed so far, as their boxes, and whether a new one has room.
class CPlacement {
public:
    CPlacement(const SSpanGeometry& geo, int nWidth, const CRoundLabels::TextWidth& textWidth)
        : m_geo(geo), m_nWidth(nWidth), m_textWidth(textWidth) {}

    // Places the label of dHz at column x where it has room.
    bool Place(int x, const std::string& strText) {
        if (x < 28 || x >= m_nWidth) {
            return false;
        }
        const int w = m_textWidth(strText);
        const int l = x - w / 2;
        const int r = l + w;
        if (l < 0 || r > m_nWidth) {
            return false;
        }
        for (const auto& [bl, br] : m_aBoxes) {
            if (l < br + CRoundLabels::kGap && r + CRoundLabels::kGap > bl) {
                return false;
            }
        }
        m_aBoxes.emplace_back(l, r);
        m_aLabels.push_back(SAxisLabel{x, strText});
        return true;
    }
    bool PlaceHz(double dHz) {
        if (!(dHz > 0.0) || HasHz(dHz)) {
            return false;
        }
        const double dBin = dHz / m_geo.dBinWidth;
        if (dBin < m_geo.nBinLow || dBin > m_geo.nBinMax) {
            return false;
        }
        if (!Place(static_cast<int>(m_geo.XOf(dBin)), CRoundLabels::Text(dHz))) {
            return false;
        }
        m_adHz.push_back(dHz);
        return true;
    }
    std::size_t Count() const { return m_aLabels.size(); }
    std::vector<SAxisLabel> Labels() {
        std::sort(m_aLabels.begin(), m_aLabels.end(),
                  [](const SAxisLabel& a, const SAxisLabel& b) { return a.x < b.x; });
        return m_aLabels;
    }

private:
    bool HasHz(double dHz) const {
        return std::any_of(m_adHz.begin(), m_adHz.end(),
                           [dHz](double d) { return std::abs(d - dHz) < 1e-6 * dHz; });
    }

    SSpanGeometry m_geo;
    int m_nWidth;
    const CRoundLabels::TextWidth& m_textWidth;
    std::vector<std::pair<int, int>> m_aBoxes;
    std::vector<SAxisLabel> m_aLabels;
    std::vector<double> m_adHz;
};

// Decades first, then their doubles and halves, then the tens between.
void PlaceRoundFrequencies(CPlacement& placement) {
    const int anSteps[][6] = {{1}, {2, 5}, {3, 4, 6, 7, 8, 9}};
    const int anCount[] = {1, 2, 6};
    for (int nRank = 0; nRank < 3; ++nRank) {
        for (double dDecade = 1.0; dDecade <= 1e5; dDecade *= 10) {
            for (int i = 0; i < anCount[nRank]; ++i) {
                placement.PlaceHz(anSteps[nRank][i] * dDecade);
            }
        }
    }
}

// A narrow span: multiples of ever finer round steps, until three stand.
void PlaceFinerSteps(CPlacement& placement, const SSpanGeometry& geo) {
    const double dLowHz = geo.nBinLow * geo.dBinWidth;
    const double dHighHz = geo.nBinMax * geo.dBinWidth;
    for (double dDecade = 1e4; dDecade >= 0.01 && placement.Count() < 3; dDecade /= 10) {
        for (double dFactor : {5.0, 2.0, 1.0}) {
            const double dStep = dFactor * dDecade;
            if ((dHighHz - dLowHz) / dStep > 200) {
                return; // no finer step has room either
            }
            for (long m = std::lround(std::ceil(dLowHz / dStep)); m * dStep <= dHighHz; ++m) {
                placement.PlaceHz(m * dStep);
            }
            if (placement.Count() >= 3) {
                return;
            }
        }
    }
}

// The octaves' bands first, outwards from 1 kHz (1k, 500, 2k, 250 ...), then
// the bands between, so that where only some have room they spread evenly.
void PlaceBandNames(CPlacement& placement, const SSpanGeometry& geo, const COctaveBands& bands) {
    const int nFraction = std::max(bands.Fraction(), 1);
    std::vector<std::pair<long, int>> aOrder; // (rank, band)
    for (int i = 0; i < bands.Count(); ++i) {
        const long nStep = std::lround(std::log2(bands.Band(i).dCentreHz / 1000.0) * nFraction);
        const bool bOctave = nStep % nFraction == 0;
        aOrder.emplace_back((bOctave ? 0 : 1000) + 2 * std::labs(nStep) + (nStep < 0 ? 0 : 1), i);
    }
    std::sort(aOrder.begin(), aOrder.end());
    for (const auto& [nRank, i] : aOrder) {
        const SOctaveBand& band = bands.Band(i);
        placement.Place(static_cast<int>(geo.XOf(band.dCentreHz / geo.dBinWidth)), band.strNominal);
    }
}

} // namespace

std::string CRoundLabels::Text(double dHz) {
    return COctaveBands::FrequencyLabel(dHz);
}

std::vector<SAxisLabel> CRoundLabels::Choose(const SSpanGeometry& geo, int nWidth,
                                             const TextWidth& textWidth,
                                             const COctaveBands* pBands) {
    CPlacement placement(geo, nWidth, textWidth);
    if (!(geo.dBinWidth > 0.0) || !(geo.dXScale > 0.0)) {
        return {};
    }
    if (pBands != nullptr && pBands->Count() > 0) {
        PlaceBandNames(placement, geo, *pBands);
    } else {
        PlaceRoundFrequencies(placement);
        PlaceFinerSteps(placement, geo);
    }
    return placement.Labels();
}

void CRoundLabels::Draw(CDC& dc, const SSpanGeometry& geo, int nWidth, int nPlotBottom,
                        const COctaveBands* pBands) {
    const auto textWidth = [&dc](const std::string& str) { return dc.GetTextExtent(str).cx; };
    for (const SAxisLabel& label : Choose(geo, nWidth, textWidth, pBands)) {
        const CSize size = dc.GetTextExtent(label.strText);
        dc.TextOut(label.x - size.cx / 2, nPlotBottom + 5, label.strText);
        dc.MoveTo(label.x, nPlotBottom + 1);
        dc.LineTo(label.x, nPlotBottom + 5);
    }
}
