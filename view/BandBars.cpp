#include "view/BandBars.h"

#include <algorithm>

std::pair<int, int> CBandBars::Columns(const SFrame& f, int i) {
    const SOctaveBand& band = f.pBands->Band(i);
    const int l = static_cast<int>(f.geo.XOf(band.dLowHz / f.geo.dBinWidth));
    const int r = static_cast<int>(f.geo.XOf(band.dHighHz / f.geo.dBinWidth)) - 1;
    return {l, r};
}

void CBandBars::Build(const SFrame& f, const SChannelArrays& arrays, double dYScale, int nYBase,
                      double dFloor, const SBars& out) {
    out.aBars.clear();
    out.aBins.clear();
    out.aHoldLevels.clear();
    out.anBand.clear();
    out.abHollow.clear();
    const COctaveBands& bands = *f.pBands;
    const int nBottom = f.nPlotBottom - 16 * f.nMode;
    const int nBands = std::min(bands.Count(), static_cast<int>(arrays.adBandPower.size()));
    for (int i = 0; i < nBands; ++i) {
        const auto [l, r] = Columns(f, i);
        if (r <= l) {
            continue; // too narrow to show on this window
        }
        const double dPower = arrays.adBandPower[std::size_t(i)];
        const int nTop = std::min(LevelY(dYScale, nYBase, dPower, dFloor), nBottom);
        out.aBars.push_back(SRectangle{l, nTop, r, nBottom});
        out.aBins.push_back(bands.Bins(i));
        out.anBand.push_back(i);
        out.abHollow.push_back(!bands.IsResolved(i));
        if (f.bHold && i < static_cast<int>(arrays.adBandHold.size())) {
            const double dHold = arrays.adBandHold[std::size_t(i)];
            out.aHoldLevels.push_back(
                SRectangle{l, std::min(LevelY(dYScale, nYBase, dHold, dFloor), nBottom), r, 0});
        }
    }
}

int CBandBars::BandAt(const SFrame& f, int x) {
    for (int i = 0; f.pBands != nullptr && i < f.pBands->Count(); ++i) {
        const auto [l, r] = Columns(f, i);
        if (x >= l && x < r) {
            return i;
        }
    }
    return -1;
}

void CBandBars::DrawHollow(CDC& dc, const std::vector<SRectangle>& aBars,
                           const std::vector<bool>& abHollow) {
    for (std::size_t i = 0; i < aBars.size() && i < abHollow.size(); ++i) {
        if (!abHollow[i]) {
            continue;
        }
        const SRectangle& rc = aBars[i];
        dc.MoveTo(rc.l, rc.b - 1);
        dc.LineTo(rc.l, rc.t);
        dc.LineTo(rc.r - 1, rc.t);
        dc.LineTo(rc.r - 1, rc.b - 1);
        dc.LineTo(rc.l, rc.b - 1);
    }
}
