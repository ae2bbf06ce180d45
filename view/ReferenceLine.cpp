#include "view/ReferenceLine.h"

#include "analysis/OctaveBands.h"
#include "analysis/ReferenceSpectrum.h"
#include "view/Frame.h"

#include <algorithm>
#include <cmath>

void CReferenceLine::SetReference(std::shared_ptr<const CReferenceSpectrum> pReference,
                                  double dBinWidth, int nBins) {
    m_pReference = std::move(pReference);
    MapOntoBins(dBinWidth, nBins);
}

void CReferenceLine::MapOntoBins(double dBinWidth, int nBins) {
    if (m_pReference == nullptr || nBins <= 0) {
        m_adLevel.clear();
        return;
    }
    m_pReference->MapOntoBins(dBinWidth, nBins, m_adLevel);
}

// A bar's value is taken as the bars take theirs, bin by bin; it is NaN once
// one of its bins lies beyond the reference.
void CReferenceLine::Build(const std::vector<SRectangle>& aBars,
                           const std::vector<std::pair<int, int>>& aBins, const SPowerScale& scale,
                           const std::vector<double>* padUnitGain, const SReferenceScale& y,
                           int nBottom, const std::vector<int>* panBand,
                           const COctaveBands* pBands) {
    m_aLine.clear();
    m_adBarValue.clear();
    const int nLevels = static_cast<int>(m_adLevel.size());
    if (nLevels == 0) {
        return;
    }
    const int nGains = padUnitGain != nullptr ? static_cast<int>(padUnitGain->size()) : 0;
    const auto levelAt = [&](int b) {
        if (b < 0 || b >= nLevels) {
            return std::nan("");
        }
        const double dLevel = m_adLevel[static_cast<std::size_t>(b)] * scale.Gain(b);
        if (padUnitGain == nullptr) {
            return dLevel;
        }
        return b < nGains ? dLevel * (*padUnitGain)[static_cast<std::size_t>(b)] : std::nan("");
    };
    const double dNoiseBandwidth = scale.NoiseBandwidthBins();
    for (std::size_t i = 0; i < aBars.size(); ++i) {
        double dValue = 0.0;
        if (pBands != nullptr && panBand != nullptr) {
            dValue = pBands->WeightedSum((*panBand)[i], levelAt) / dNoiseBandwidth;
        } else {
            SBarValue bar{padUnitGain != nullptr};
            for (int b = aBins[i].first; b < aBins[i].second; ++b) {
                bar.Add(levelAt(b));
            }
            dValue = bar.dValue;
        }
        m_adBarValue.push_back(dValue);
        const SRectangle& rc = aBars[i];
        m_aLine.push_back(std::isnan(dValue)
                              ? CPoint{-1, 0}
                              : CPoint{(rc.l + rc.r) / 2,
                                       std::clamp(LevelY(y.dYScale, y.nYBase, dValue, y.dFloor), 0,
                                                  nBottom - 1)});
    }
}

// From bar to bar, breaking where there is no value. A line stops short of
// its end point, so each run ends with its last point drawn.
void CReferenceLine::Draw(CDC& dc, const CPen& pen) const {
    dc.SelectObject(&pen);
    bool bDrawing = false;
    CPoint ptLast{};
    const auto endRun = [&] {
        if (bDrawing) {
            dc.LineTo(ptLast.x + 1, ptLast.y);
        }
        bDrawing = false;
    };
    for (const CPoint& pt : m_aLine) {
        if (pt.x < 0) {
            endRun();
            continue;
        }
        if (bDrawing) {
            dc.LineTo(pt.x, pt.y);
        } else {
            dc.MoveTo(pt.x, pt.y);
        }
        bDrawing = true;
        ptLast = pt;
    }
    endRun();
}
