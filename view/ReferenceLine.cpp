#include "view/ReferenceLine.h"

#include "analysis/LevelScale.h"
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

// The mean over a bar's bins is taken as the bars take theirs, bin by bin;
// it is NaN once one of them lies beyond the reference.
void CReferenceLine::Build(const std::vector<SRectangle>& aBars,
                           const std::vector<std::pair<int, int>>& aBins, const SPowerScale& scale,
                           const CLevelScale* pLevels, const SReferenceScale& y, int nBottom,
                           const std::vector<int>* panBand, const COctaveBands* pBands) {
    m_aLine.clear();
    const int nLevels = static_cast<int>(m_adLevel.size());
    if (nLevels == 0) {
        return;
    }
    const double dUnitFactor = pLevels != nullptr ? pLevels->ChannelFactor(scale) : 1.0;
    const int nGains = pLevels != nullptr ? static_cast<int>(pLevels->BinGains().size()) : 0;
    const auto unitGain = [&](int b) {
        return b < nGains ? pLevels->BinGains()[static_cast<std::size_t>(b)] * dUnitFactor
                          : dUnitFactor;
    };
    const auto levelAt = [&](int b) {
        double dLevel = b >= 0 && b < nLevels
                            ? m_adLevel[static_cast<std::size_t>(b)] * scale.Gain(b)
                            : std::nan("");
        if (pLevels != nullptr) {
            dLevel *= unitGain(b);
        }
        return dLevel;
    };
    const double dNoiseBandwidth = scale.NoiseBandwidthBins();
    for (std::size_t i = 0; i < aBars.size(); ++i) {
        double dMean = 0.0;
        if (pBands != nullptr && panBand != nullptr) {
            dMean = pBands->WeightedSum((*panBand)[i], levelAt) / dNoiseBandwidth;
        } else {
            int n = 0;
            for (int b = aBins[i].first; b < aBins[i].second; ++b, ++n) {
                dMean = (dMean * n + levelAt(b)) / (n + 1);
            }
        }
        const SRectangle& bar = aBars[i];
        m_aLine.push_back(
            std::isnan(dMean)
                ? CPoint{-1, 0}
                : CPoint{(bar.l + bar.r) / 2,
                         std::clamp(LevelY(y.dYScale, y.nYBase, dMean, y.dFloor), 0, nBottom - 1)});
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
