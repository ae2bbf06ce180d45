#include "view/TransferPlot.h"

#include "view/FormatText.h"
#include "view/MarkerOverlay.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr COLORREF kPlotBlack = RGB(0, 0, 0);
constexpr COLORREF kPlotMargin = RGB(32, 32, 32);

COLORREF Dimmed(COLORREF cr, double dShare) {
    const auto part = [dShare](int v) { return static_cast<int>(std::lround(v * dShare)); };
    return RGB(part(GetRValue(cr)), part(GetGValue(cr)), part(GetBValue(cr)));
}

// The grid's step in dB: the smallest of 3, 6, 10 and 20 dB whose lines stand
// at least 12 pixels apart.
double GridStepDb(double dPixelsPerDb) {
    for (double dStep : {3.0, 6.0, 10.0, 20.0}) {
        if (dStep * dPixelsPerDb >= 12.0) {
            return dStep;
        }
    }
    return 40.0;
}

double At(const std::vector<double>& ad, int k) {
    return k >= 0 && k < static_cast<int>(ad.size()) ? ad[std::size_t(k)] : std::nan("");
}

} // namespace

CTransferPlot::CTransferPlot() {
    for (int i = 0; i <= kFadeSteps; ++i) {
        m_aMagnitudePens[std::size_t(i)].CreatePen(PS_SOLID, 1,
                                                   Dimmed(kMagnitude, double(i) / kFadeSteps));
        m_aPhasePens[std::size_t(i)].CreatePen(PS_SOLID, 1, Dimmed(kPhase, double(i) / kFadeSteps));
    }
    m_penCoherence.CreatePen(PS_SOLID, 1, kCoherence);
}

double CTransferPlot::PixelsPerDb(const SFrame& f) {
    return kLn10 * f.nPlotBottom * f.nYScale * 0.0005 * 0.1;
}

double CTransferPlot::ZeroDbY(const SFrame& f) {
    return f.nPlotBottom / 2.0 - (f.nOffset - 100) * PixelsPerDb(f);
}

double CTransferPlot::PhaseY(const SFrame& f, double dDeg) {
    const double dTop = PhaseTop(f) + 1;
    const double dBottom = PhaseBottom(f) - 1;
    return dTop + (180.0 - dDeg) / 360.0 * (dBottom - dTop);
}

double CTransferPlot::Visibility(double dCoherence, double dThreshold) {
    if (std::isnan(dCoherence) || dCoherence < dThreshold) {
        return 0.0;
    }
    return std::clamp((dCoherence - dThreshold) / (kFullCoherence - dThreshold), 0.0, 1.0);
}

int CTransferPlot::BinAt(const SFrame& f, int x) {
    const int nLast = f.nFftSize / 2;
    const double dBin = f.geo.BinAt(x + 0.5);
    return std::isfinite(dBin) ? std::clamp(static_cast<int>(std::lround(dBin)), 1, nLast) : 1;
}

std::string CTransferPlot::Readout(const SFrame& f, int nBin) {
    const CTransferFunction::SResults& r = f.transfer.results;
    const double dDb = At(r.adMagnitudeDb, nBin);
    const double dDeg = At(r.adPhaseDeg, nBin);
    const double dCoherence = At(r.adCoherence, nBin);
    const std::string strHz = FormatText("%.1f Hz", nBin * f.geo.dBinWidth);
    if (std::isnan(dDb)) {
        return strHz + "  -- dB  --\xC2\xB0  \xCE\xB3\xC2\xB2 --";
    }
    return strHz + FormatText("  %+.1f dB  %.1f\xC2\xB0  \xCE\xB3\xC2\xB2 ", dDb, dDeg) +
           (std::isnan(dCoherence) ? std::string("--") : FormatText("%.2f", dCoherence));
}

std::string CTransferPlot::DelayText(const SFrame& f) {
    return FormatText("Delay %.2f ms", f.transfer.dDelayMs);
}

void CTransferPlot::Compose(CDC& dc, const SFrame& f, const SPalette& palette) {
    dc.FillSolidRect(28, 0, f.nWidth - 28, f.PlotBottom() + 1, kPlotBlack);
    dc.FillSolidRect(0, 0, 27, f.PlotBottom() + 5, kPlotMargin);
    dc.FillSolidRect(28, f.nPlotBottom + 1, f.nWidth - 28, 1, kPlotMargin);
    dc.SetBkColor(kPlotMargin);
    DrawGrids(dc, f, palette);
    if (f.transfer.pKept != nullptr) {
        DrawKept(dc, f, *palette.pPenReference);
    }
    if (f.transfer.bHasResults) {
        DrawCurves(dc, f);
    }
    DrawReadouts(dc, f, palette);
}

// The coherence's 1 and 0 in the margin at the top and foot of the upper
// plot, the magnitude's lines with their labels where those leave room, and
// the phase's lines.
void CTransferPlot::DrawGrids(CDC& dc, const SFrame& f, const SPalette& palette) const {
    const int nMagBottom = f.nPlotBottom;
    const COLORREF crText = dc.SetTextColor(kCoherence);
    const CSize sizeLabel = dc.GetTextExtent("0");
    const int anCoherenceRows[2] = {0, nMagBottom - sizeLabel.cy};
    dc.TextOut(26 - dc.GetTextExtent("1").cx, anCoherenceRows[0], "1");
    dc.TextOut(26 - sizeLabel.cx, anCoherenceRows[1], "0");
    dc.SetTextColor(crText);
    const double dPixels = PixelsPerDb(f);
    const double dZero = ZeroDbY(f);
    const double dStep = GridStepDb(dPixels);
    dc.SelectObject(palette.pPenGrid);
    const int nFirst = static_cast<int>(std::ceil(-dZero / (dStep * dPixels)));
    const int nLast = static_cast<int>(std::floor((nMagBottom - dZero) / (dStep * dPixels)));
    for (int k = nFirst; k <= nLast; ++k) {
        const int y = static_cast<int>(std::lround(dZero + k * dStep * dPixels));
        if (y <= 0 || y >= nMagBottom) {
            continue;
        }
        dc.MoveTo(28, y);
        dc.LineTo(f.nWidth, y);
        const std::string str = k == 0 ? std::string("0") : FormatText("%+g", -k * dStep);
        const CSize size = dc.GetTextExtent(str);
        const int yText = std::clamp(y - size.cy / 2, 0, nMagBottom - size.cy);
        const bool bFree = std::all_of(std::begin(anCoherenceRows), std::end(anCoherenceRows),
                                       [&](int yRow) { return std::abs(yText - yRow) >= size.cy; });
        if (bFree) {
            dc.TextOut(26 - size.cx, yText, str);
        }
    }
    for (double dDeg : {180.0, 90.0, 0.0, -90.0, -180.0}) {
        const int y = static_cast<int>(std::lround(PhaseY(f, dDeg)));
        dc.MoveTo(28, y);
        dc.LineTo(f.nWidth, y);
        const std::string str = FormatText("%g", dDeg);
        const CSize size = dc.GetTextExtent(str);
        dc.TextOut(26 - size.cx,
                   std::clamp(y - size.cy / 2, PhaseTop(f), f.PlotBottom() + 4 - size.cy), str);
    }
}

const CPen& CTransferPlot::Faded(const std::array<CPen, kFadeSteps + 1>& pens,
                                 double dVisibility) const {
    return pens[std::size_t(std::lround(dVisibility * kFadeSteps))];
}

// Column by column at each column's bin: the magnitude and the phase faded
// by the coherence, a segment taking the fainter end's pen; the phase breaks
// where it wraps. The coherence's own line over them.
void CTransferPlot::DrawCurves(CDC& dc, const SFrame& f) const {
    const CTransferFunction::SResults& r = f.transfer.results;
    const double dPixels = PixelsPerDb(f);
    const double dZero = ZeroDbY(f);
    const int nMagBottom = f.nPlotBottom;
    const auto magnitudeY = [&](double dDb) {
        return static_cast<int>(std::clamp(dZero - dDb * dPixels, 0.0, double(nMagBottom - 1)));
    };
    const auto coherenceY = [&](double d) {
        return static_cast<int>((1.0 - std::clamp(d, 0.0, 1.0)) * (nMagBottom - 2)) + 1;
    };
    int nPrevX = -1;
    int nPrevBin = -1;
    for (int x = 28; x < f.nWidth; ++x) {
        const int k = BinAt(f, x);
        if (nPrevX >= 0 && k == nPrevBin && x + 1 < f.nWidth) {
            continue; // the same bin across columns: one segment spans them
        }
        if (nPrevX >= 0) {
            const double dDb0 = At(r.adMagnitudeDb, nPrevBin);
            const double dDb1 = At(r.adMagnitudeDb, k);
            const double dVisible =
                std::min(Visibility(At(r.adCoherence, nPrevBin), f.transfer.dThreshold),
                         Visibility(At(r.adCoherence, k), f.transfer.dThreshold));
            if (dVisible > 0.0 && !std::isnan(dDb0) && !std::isnan(dDb1)) {
                dc.SelectObject(&Faded(m_aMagnitudePens, dVisible));
                dc.MoveTo(nPrevX, magnitudeY(dDb0));
                dc.LineTo(x, magnitudeY(dDb1));
                const double dDeg0 = At(r.adPhaseDeg, nPrevBin);
                const double dDeg1 = At(r.adPhaseDeg, k);
                dc.SelectObject(&Faded(m_aPhasePens, dVisible));
                const int y0 = static_cast<int>(PhaseY(f, dDeg0));
                if (std::abs(dDeg1 - dDeg0) < 180.0) {
                    dc.MoveTo(nPrevX, y0);
                    dc.LineTo(x, static_cast<int>(PhaseY(f, dDeg1)));
                } else {
                    dc.MoveTo(nPrevX, y0);
                    dc.LineTo(nPrevX + 1, y0);
                }
            }
            const double dCoh0 = At(r.adCoherence, nPrevBin);
            const double dCoh1 = At(r.adCoherence, k);
            if (!std::isnan(dCoh0) && !std::isnan(dCoh1)) {
                dc.SelectObject(&m_penCoherence);
                dc.MoveTo(nPrevX, coherenceY(dCoh0));
                dc.LineTo(x, coherenceY(dCoh1));
            }
        }
        nPrevX = x;
        nPrevBin = k;
    }
}

void CTransferPlot::DrawKept(CDC& dc, const SFrame& f, const CPen& pen) const {
    const CTransferFunction::SResults& kept = *f.transfer.pKept;
    const double dPixels = PixelsPerDb(f);
    const double dZero = ZeroDbY(f);
    dc.SelectObject(&pen);
    int nPrevX = -1;
    int nPrevBin = -1;
    for (int x = 28; x < f.nWidth; ++x) {
        const int k = BinAt(f, x);
        if (nPrevX >= 0 && k != nPrevBin) {
            const double dDb0 = At(kept.adMagnitudeDb, nPrevBin);
            const double dDb1 = At(kept.adMagnitudeDb, k);
            if (!std::isnan(dDb0) && !std::isnan(dDb1)) {
                const auto y = [&](double d) {
                    return static_cast<int>(
                        std::clamp(dZero - d * dPixels, 0.0, double(f.nPlotBottom - 1)));
                };
                dc.MoveTo(nPrevX, y(dDb0));
                dc.LineTo(x, y(dDb1));
            }
            const double dDeg0 = At(kept.adPhaseDeg, nPrevBin);
            const double dDeg1 = At(kept.adPhaseDeg, k);
            if (!std::isnan(dDeg0) && !std::isnan(dDeg1) && std::abs(dDeg1 - dDeg0) < 180.0) {
                dc.MoveTo(nPrevX, static_cast<int>(PhaseY(f, dDeg0)));
                dc.LineTo(x, static_cast<int>(PhaseY(f, dDeg1)));
            }
        }
        if (k != nPrevBin) {
            nPrevX = x;
            nPrevBin = k;
        }
    }
}

// The cursor's line and readout, the markers' readouts under it, and the
// delay at the top left.
void CTransferPlot::DrawReadouts(CDC& dc, const SFrame& f, const SPalette& palette) const {
    int y = 18;
    if (f.nCursorX > 30 && f.nCursorX < f.nWidth && f.nCursorY < f.PlotBottom()) {
        dc.SelectObject(palette.pPenCursor);
        dc.MoveTo(f.nCursorX, 0);
        dc.LineTo(f.nCursorX, f.PlotBottom());
        if (f.transfer.bHasResults) {
            const std::string str = Readout(f, BinAt(f, f.nCursorX));
            dc.TextOut(f.nWidth - dc.GetTextExtent(str).cx - 5, y, str);
        }
    }
    y += 14;
    for (int i = 0; i < 2 && f.transfer.bHasResults; ++i) {
        if (!f.aids.HasMarker(i)) {
            continue;
        }
        const int k =
            std::clamp(static_cast<int>(std::lround(f.aids.adMarkerHz[i] / f.geo.dBinWidth)), 1,
                       f.nFftSize / 2);
        const std::string str = std::string(CMarkerOverlay::kNames[i]) + "  " + Readout(f, k);
        dc.TextOut(f.nWidth - dc.GetTextExtent(str).cx - 5, y, str);
        y += 14;
    }
}
