#include "view/MarkerOverlay.h"

#include "analysis/LobePeak.h"
#include "view/BandBars.h"
#include "view/FormatText.h"
#include "view/GridLevel.h"

#include <algorithm>
#include <cmath>

namespace {

// The band whose edges hold dHz, or -1.
int BandOf(const SFrame& f, double dHz) {
    for (int i = 0; i < f.pBands->Count(); ++i) {
        const SOctaveBand& band = f.pBands->Band(i);
        if (dHz >= band.dLowHz && dHz < band.dHighHz) {
            return i;
        }
    }
    return -1;
}

// The strongest of the bands whose bars reach columns xFirst to xLast.
int StrongestBand(const SFrame& f, int xFirst, int xLast) {
    const std::vector<double>& adPower = f.left.adBandPower;
    int nBest = -1;
    for (int i = 0; i < f.pBands->Count() && i < static_cast<int>(adPower.size()); ++i) {
        const auto [l, r] = CBandBars::Columns(f, i);
        if (r <= xFirst || l > xLast) {
            continue;
        }
        if (nBest < 0 || adPower[std::size_t(i)] > adPower[std::size_t(nBest)]) {
            nBest = i;
        }
    }
    return nBest;
}

// The tone whose lobe holds the strongest of bins nFirst to nEnd - 1.
double ToneHz(const SFrame& f, int nFirst, int nEnd) {
    const SChannelArrays& a = f.left;
    const int nPeak = StrongestBinIn(a.adPower.data(), a.Bins(), nFirst, nEnd);
    if (nPeak < 0) {
        return std::nan("");
    }
    const SLobePeak peak =
        LobePeakAt(a.adPower.data(), a.Bins(), nPeak, a.scale.NoiseBandwidthBins(), 0);
    return peak.bFound ? peak.dBin * f.geo.dBinWidth : std::nan("");
}

} // namespace

CMarkerOverlay::SReading CMarkerOverlay::Read(const SFrame& f, double dHz) {
    SReading reading;
    if (std::isnan(dHz) || !f.left.HasArrays() || !(f.geo.dBinWidth > 0.0)) {
        return reading;
    }
    reading.dHz = dHz;
    if (f.pBands != nullptr) {
        const int nBand = BandOf(f, dHz);
        if (nBand < 0 || nBand >= static_cast<int>(f.left.adBandPower.size())) {
            return reading;
        }
        reading.dValue = f.left.adBandPower[std::size_t(nBand)];
        reading.bValid = true;
        return reading;
    }
    const SChannelArrays& a = f.left;
    const int nNear = static_cast<int>(std::lround(dHz / f.geo.dBinWidth));
    const SLobePeak peak =
        LobePeakAt(a.adPower.data(), a.Bins(), nNear, a.scale.NoiseBandwidthBins());
    reading.dValue = peak.dPower;
    reading.bValid = peak.bFound;
    return reading;
}

double CMarkerOverlay::SnapHz(const SFrame& f, int x) {
    if (!f.left.HasArrays() || x < 28 || x >= f.nWidth) {
        return std::nan("");
    }
    const int xFirst = std::max(28, x - kSnapPixels);
    const int xLast = std::min(f.nWidth - 1, x + kSnapPixels);
    if (f.pBands != nullptr) {
        const int nBand = StrongestBand(f, xFirst, xLast);
        return nBand < 0 ? std::nan("") : f.pBands->Band(nBand).dCentreHz;
    }
    const double dFirst = f.geo.BinAt(xFirst);
    const double dLast = f.geo.BinAt(xLast + 1);
    return ToneHz(f, static_cast<int>(std::floor(dFirst)), static_cast<int>(std::ceil(dLast)));
}

double CMarkerOverlay::StrongestHz(const SFrame& f) {
    if (!f.left.HasArrays()) {
        return std::nan("");
    }
    if (f.pBands != nullptr) {
        const int nBand = StrongestBand(f, 28, f.nWidth);
        return nBand < 0 ? std::nan("") : f.pBands->Band(nBand).dCentreHz;
    }
    return ToneHz(f, f.geo.nBinLow, f.geo.nBinMax);
}

int CMarkerOverlay::ColumnOf(const SFrame& f, double dHz) {
    if (!(dHz > 0.0) || !(f.geo.dBinWidth > 0.0)) {
        return -1;
    }
    const double x = f.geo.XOf(dHz / f.geo.dBinWidth);
    return x >= 28 && x < f.nWidth ? static_cast<int>(x) : -1;
}

double CMarkerOverlay::LevelDb(const SFrame& f, double dValue) {
    return f.IsDesigned() ? GridLevelDb(dValue, f.nOffset, f.nYScale) : f.pLevels->LevelDb(dValue);
}

std::string CMarkerOverlay::MarkerText(const SFrame& f, int nMarker, const SReading& r) {
    const std::string strLevel = f.IsDesigned()
                                     ? FormatText("%.1f dB", LevelDb(f, r.dValue))
                                     : f.pLevels->LevelText(r.dValue) + ' ' + f.pLevels->Caption();
    return FormatText("%s  %.1f Hz  ", kNames[nMarker], r.dHz) + strLevel;
}

std::string CMarkerOverlay::DeltaText(const SFrame& f, const SReading& a, const SReading& b) {
    return FormatText("\xCE\x94 %.1f Hz  %.1f dB  %.2f oct", b.dHz - a.dHz,
                      LevelDb(f, b.dValue) - LevelDb(f, a.dValue), std::log2(b.dHz / a.dHz));
}

int CMarkerOverlay::BarTopAt(const SFrame& f, const std::vector<SRectangle>& aBars, int x) {
    for (const SRectangle& rc : aBars) {
        if (x >= rc.l && x < rc.r) {
            return std::min(rc.t, rc.b);
        }
    }
    return f.nPlotBottom - 16 * f.nMode;
}

void CMarkerOverlay::Draw(CDC& dc, const SFrame& f, const std::vector<SRectangle>& aBars,
                          int nTopY) {
    SReading aReading[2];
    int y = nTopY;
    for (int i = 0; i < 2; ++i) {
        if (!f.aids.HasMarker(i)) {
            continue;
        }
        aReading[i] = Read(f, f.aids.adMarkerHz[i]);
        const int x = ColumnOf(f, f.aids.adMarkerHz[i]);
        if (x >= 0) {
            // On the bar that holds the marker's column, a triangle pointing
            // down at its top, the marker's name above it.
            const int yTip = std::max(BarTopAt(f, aBars, x) - 2, 24);
            for (int row = 0; row < 5; ++row) {
                dc.MoveTo(x - row, yTip - row);
                dc.LineTo(x + row + 1, yTip - row);
            }
            const CSize size = dc.GetTextExtent(kNames[i]);
            dc.TextOut(x - size.cx / 2, yTip - 5 - size.cy, kNames[i]);
        }
        if (!aReading[i].bValid) {
            continue;
        }
        const std::string str = MarkerText(f, i, aReading[i]);
        dc.TextOut(f.nWidth - dc.GetTextExtent(str).cx - 5, y, str);
        y += 14;
    }
    if (aReading[0].bValid && aReading[1].bValid) {
        const std::string str = DeltaText(f, aReading[0], aReading[1]);
        dc.TextOut(f.nWidth - dc.GetTextExtent(str).cx - 5, y, str);
    }
}
