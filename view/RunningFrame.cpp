#include "view/RunningFrame.h"

#include "view/BandBars.h"
#include "view/DistortionReadout.h"
#include "view/FormatText.h"
#include "view/LevelGrid.h"
#include "view/LevelReadout.h"
#include "view/LoudnessReadout.h"
#include "view/MarkerOverlay.h"
#include "view/NoteOverlay.h"
#include "view/ReferenceLine.h"
#include "view/Spectrogram.h"
#include "view/TimeRuler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kMarginGrey = RGB(32, 32, 32);

// The logical pixels that cover a region of device pixels.
QRegion LogicalRegion(const QRegion& rgnDevice, double dRatio) {
    if (dRatio == 1.0) {
        return rgnDevice;
    }
    QRegion rgn;
    for (const QRect& rc : rgnDevice) {
        const int l = static_cast<int>(std::floor(rc.left() / dRatio));
        const int t = static_cast<int>(std::floor(rc.top() / dRatio));
        const int r = static_cast<int>(std::ceil((rc.right() + 1) / dRatio));
        const int b = static_cast<int>(std::ceil((rc.bottom() + 1) / dRatio));
        rgn |= QRect(l, t, r - l, b - t);
    }
    return rgn;
}

} // namespace

// The left bars are built first, so that the plot is filled around them only
// and the reference line can pass through them; each pass then draws its
// bars and readouts, the right channel's over the left's.
QRegion CRunningFrame::Compose(CDC& dc, const SFrame& f, const SPalette& palette,
                               const QRegion* pRefill, CNoteOverlay& notes,
                               CReferenceLine& reference, CSpectrogram& spectrogram) {
    if (f.transfer.bOn) {
        // A picture of its own, drawn whole: no spectrum, reference line,
        // spectrogram or bands.
        reference.ClearLine();
        dc.ResetTouched();
        m_transferPlot.Compose(dc, f, palette);
        DrawTexts(dc, f);
        return LogicalRegion(dc.Touched(), dc.GetDevicePixelRatio());
    }
    const SPass left = MakePass(f, 0);
    if (f.left.HasArrays()) {
        BuildBars(f, left);
        reference.Build(
            m_aBars, m_aBarBins, f.left.scale, f.IsDesigned() ? nullptr : &f.left.adUnitGain,
            SReferenceScale{left.dYScale, left.nYBase, left.dFloor}, f.nPlotBottom - 16 * f.nMode,
            f.pBands != nullptr ? &m_anBarBand : nullptr, f.pBands);
        if (f.aids.bDifference) {
            ReshapeToDifference(f, left, reference);
            reference.ClearLine(); // the 0 dB line is the reference now
        }
    } else {
        m_aBars.clear();
        reference.ClearLine();
    }
    const bool bMarkers = f.aids.HasMarker(0) || f.aids.HasMarker(1);
    const bool bDistortion = f.measures.bHasDistortion;
    if (bMarkers || bDistortion) {
        m_aLeftBars = m_aBars;
    }
    FillPlot(dc, f, pRefill);

    for (int nPass = 0; nPass < (f.IsStereo() ? 2 : 1); ++nPass) {
        const SPass pass = nPass == 0 ? left : MakePass(f, 1);
        if (nPass == 0) {
            dc.SelectObject(palette.pPenGrid);
            if (f.aids.bDifference) {
                CDifferenceBars::DrawGrid(dc, f, pass.dYScale, *palette.pPenReference);
            } else if (f.IsDesigned()) {
                CLevelGrid::DrawDesigned(dc, f, pass.dYScale);
            } else {
                CLevelGrid::DrawUnit(dc, f, pass.dYScale, pass.nYBase);
            }
            if (f.nSpectrogramBottom > 0) {
                CTimeRuler::Draw(dc, f, *palette.pPenScale);
            }
            dc.ResetTouched(); // from here on, all changes with the frame
            if (f.nSpectrogramBottom > 0) {
                DrawSpectrogram(dc, f, pass, spectrogram);
            }
            dc.SelectObject(palette.pPenLeft);
            dc.SelectObject(palette.pBrushLeft);
            if (f.nMode == 1) {
                notes.Draw(dc, f, *palette.pPenGrid);
                dc.SelectObject(palette.pBrushLeft);
                dc.SelectObject(palette.pPenLeft);
            }
            if (!f.left.HasArrays()) {
                continue; // a channel without arrays has nothing to show
            }
        } else {
            dc.SelectObject(palette.pPenRight);
            dc.SelectObject(palette.pBrushRight);
            BuildBars(f, pass);
            if (f.aids.bDifference) {
                ReshapeToDifference(f, pass, reference);
            }
        }
        DrawBars(dc);
        if (f.nMode == 2) {
            DrawPowerReadout(dc, f, pass);
        }
        if (f.nCursorX > 30 && f.nCursorY < f.PlotBottom()) {
            DrawCursorReadout(dc, f, pass, palette);
        }
    }
    // Over the bars of both channels, under the texts.
    reference.Draw(dc, *palette.pPenReference);
    if (bMarkers) {
        // Under the statistics line, below the cursor's and the power
        // readouts' rows.
        const int nRows = f.nMode == 2 ? (f.IsStereo() ? 2 : 1) : 1;
        dc.SelectObject(palette.pPenCursor);
        CMarkerOverlay::Draw(dc, f, m_aLeftBars, 18 + 14 * nRows);
    }
    const int yFree = DrawTexts(dc, f);
    if (bDistortion) {
        dc.SelectObject(palette.pPenCursor);
        CDistortionReadout::Draw(dc, f, m_aLeftBars, yFree);
    }
    return LogicalRegion(dc.Touched(), dc.GetDevicePixelRatio());
}

bool CRunningFrame::CanRefill(const SFrame& f, const QRegion& rgnChanging) {
    const int nPlotH = f.PlotBottom();
    const QRegion rgnFilled =
        QRegion(28, 0, f.nWidth - 28, nPlotH + 1).united(QRect(0, 0, 27, nPlotH + 5));
    return rgnChanging.subtracted(rgnFilled).isEmpty();
}

// ln(b) for every bin index up to nEntries - 1, kept while the size stays.
const std::vector<double>& CRunningFrame::LogTable(int nEntries) {
    if (static_cast<int>(m_adLogBin.size()) != nEntries) {
        m_adLogBin.resize(static_cast<std::size_t>(nEntries));
        for (int b = 0; b < nEntries; ++b) {
            m_adLogBin[static_cast<std::size_t>(b)] = std::log(static_cast<double>(b));
        }
    }
    return m_adLogBin;
}

// The level scale and the arrays of one pass over a channel.
CRunningFrame::SPass CRunningFrame::MakePass(const SFrame& f, int nIndex) {
    const int nPlotH = f.nPlotBottom;
    SPass pass{};
    pass.nIndex = nIndex;
    pass.pArrays = nIndex == 0 ? &f.left : &f.right;
    pass.dYScale = nPlotH * f.nYScale * 0.0005;
    const int nOffset = nIndex == 0 ? f.nOffset : f.nOffsetRight;
    pass.nYBase = static_cast<int>((130 - nOffset) * kLn10 * pass.dYScale * 0.1 + nPlotH * 1.6);
    pass.dFloor = 1.0;
    if (!f.IsDesigned()) {
        // A value v of the unit's linear scale stands at nYBase - dYScale ln v,
        // so the grid's top level lands on the top line; the floor lies just
        // under the plot.
        const double dPixelsPerDb = kLn10 * pass.dYScale * 0.1;
        const double dBase =
            f.ZeroY() + (CLevelGrid::TopDb(f, nOffset) - f.pLevels->DbOffset()) * dPixelsPerDb;
        pass.nYBase = static_cast<int>(std::clamp(dBase, -1e6, 1e6));
        pass.dFloor =
            pass.dYScale > 0.0 ? std::exp((pass.nYBase - (nPlotH + 1)) / pass.dYScale) : 1.0;
    }
    return pass;
}

// One bar per group of bins at least Min X-space wide, from the previous bar's
// right edge to the geometric middle of the group's last bin, at the group's
// mean power as designed (its strongest bin's in a level unit); the hold
// level is taken of the group's held values alike.
void CRunningFrame::BuildBars(const SFrame& f, const SPass& pass) {
    if (f.pBands != nullptr) {
        CBandBars::Build(f, *pass.pArrays, pass.dYScale, pass.nYBase, pass.dFloor,
                         {m_aBars, m_aBarBins, m_aHoldLevels, m_anBarBand, m_abHollow});
        m_adBarValue.clear();
        for (int nBand : m_anBarBand) {
            const std::vector<double>& adPower = pass.pArrays->adBandPower;
            m_adBarValue.push_back(nBand >= 0 && nBand < static_cast<int>(adPower.size())
                                       ? adPower[std::size_t(nBand)]
                                       : std::nan(""));
        }
        m_aFilledBars.clear();
        for (std::size_t i = 0; i < m_aBars.size(); ++i) {
            if (!m_abHollow[i]) {
                m_aFilledBars.push_back(m_aBars[i]);
            }
        }
        return;
    }
    m_anBarBand.clear();
    m_abHollow.clear();
    const SSpanGeometry& geo = f.geo;
    const SChannelArrays& arrays = *pass.pArrays;
    const int nBottom = f.nPlotBottom - 16 * f.nMode;
    const int nMinXSpace = f.nMinXSpace;
    const int nBins = arrays.Bins();
    const int nBinEnd = std::min(geo.nBinMax, nBins);
    const std::vector<double>& adLn = LogTable(std::max(geo.nBinMax, nBins) + 1);
    m_aBars.clear();
    m_aBarBins.clear();
    m_aHoldLevels.clear();
    m_adBarValue.clear();
    int nPrevX = 28;
    int nFirst = geo.nBinLow;
    SBarValue power{!f.IsDesigned()};
    SBarValue hold{!f.IsDesigned()};
    for (int b = geo.nBinLow; b < nBinEnd; ++b) {
        const int x = static_cast<int>(geo.nXOff + geo.dXScale * (adLn[b] + adLn[b + 1]) * 0.5);
        const double dP = power.With(arrays.adPower[b]);
        const double dH = hold.With(arrays.adHold[b]);
        if (x < nPrevX + nMinXSpace) {
            power.Add(arrays.adPower[b]);
            hold.Add(arrays.adHold[b]);
            continue;
        }
        // A bar of no width shows nothing, neither outline nor hold level.
        if (x > nPrevX) {
            const int nTop = std::min(LevelY(pass.dYScale, pass.nYBase, dP, pass.dFloor), nBottom);
            m_aBars.push_back(SRectangle{nPrevX, nTop, x, nBottom});
            m_aBarBins.emplace_back(nFirst, b + 1);
            m_adBarValue.push_back(dP);
            if (f.bHold) {
                m_aHoldLevels.push_back(SRectangle{
                    nPrevX, std::min(LevelY(pass.dYScale, pass.nYBase, dH, pass.dFloor), nBottom),
                    x, 0});
            }
        }
        nPrevX = x;
        nFirst = b + 1;
        power.Restart();
        hold.Restart();
    }
}

void CRunningFrame::ReshapeToDifference(const SFrame& f, const SPass& pass,
                                        const CReferenceLine& reference) {
    m_difference.Reshape(f, pass.dYScale, m_adBarValue, reference.BarValues(), m_aBars, m_aBarBins,
                         m_anBarBand, m_abHollow);
    m_aHoldLevels.clear();
    if (!m_abHollow.empty()) {
        m_aFilledBars.clear();
        for (std::size_t i = 0; i < m_aBars.size(); ++i) {
            if (!m_abHollow[i]) {
                m_aFilledBars.push_back(m_aBars[i]);
            }
        }
    }
}

// The black plot around the left bars, then the grey margin. Only the part
// given, if any, holds something else than what these fills would leave.
void CRunningFrame::FillPlot(CDC& dc, const SFrame& f, const QRegion* pRefill) const {
    const int nPlotH = f.nPlotBottom;
    QRegion rgnPlot(28, 0, f.nWidth - 28, nPlotH + 1);
    QRegion rgnMargin(0, 0, 27, nPlotH + 5);
    if (pRefill != nullptr) {
        rgnPlot &= *pRefill;
        rgnMargin &= *pRefill;
    }
    const std::vector<SRectangle>& aFilled = m_abHollow.empty() ? m_aBars : m_aFilledBars;
    for (const QRect& rc : rgnPlot) {
        dc.FillSolidRectAround(rc.x(), rc.y(), rc.width(), rc.height(), kBlack, aFilled.data(),
                               static_cast<int>(aFilled.size()));
    }
    for (const QRect& rc : rgnMargin) {
        dc.FillSolidRect(rc.x(), rc.y(), rc.width(), rc.height(), kMarginGrey);
    }
    // Texts stand on the margin's grey, as after the fill.
    dc.SetBkColor(kMarginGrey);
}

// The bars of a pass share no column and each hold line lies in its own bar's
// columns, so all bars are drawn in one batch and the hold lines after them:
// the same picture as drawing them in turn, written a scan line at a time.
void CRunningFrame::DrawBars(CDC& dc) const {
    const std::vector<SRectangle>& aFilled = m_abHollow.empty() ? m_aBars : m_aFilledBars;
    dc.Rectangles(aFilled.data(), static_cast<int>(aFilled.size()));
    CBandBars::DrawHollow(dc, m_aBars, m_abHollow);
    for (const SRectangle& line : m_aHoldLevels) {
        dc.MoveTo(line.l, line.t);
        dc.LineTo(line.r, line.t);
    }
}

// The mean power of the whole spectrum, in units of 1e10.
void CRunningFrame::DrawPowerReadout(CDC& dc, const SFrame& f, const SPass& pass) {
    const std::string str = FormatText(pass.nIndex == 0 ? "Power L: %.1f" : "R: %.1f",
                                       pass.pArrays->dMeanPower * 1e-10);
    const CSize size = dc.GetTextExtent(str);
    dc.TextOut(f.nWidth - size.cx - 5, 18 + 14 * pass.nIndex, str);
}

bool CRunningFrame::UnderCursor(const SFrame& f, const SPass& pass, double* pHz,
                                double* pValue) const {
    const SSpanGeometry& geo = f.geo;
    const int cx = f.nCursorX;
    if (f.pBands != nullptr) {
        const int nBand = CBandBars::BandAt(f, cx);
        if (nBand < 0 || nBand >= static_cast<int>(pass.pArrays->adBandPower.size())) {
            return false;
        }
        *pHz = f.pBands->Band(nBand).dCentreHz;
        *pValue = pass.pArrays->adBandPower[std::size_t(nBand)];
        return true;
    }
    const double dBin = std::exp((cx - geo.nXOff) / geo.dXScale);
    // The nearest bin, kept inside the array whatever the cursor and the span.
    double dIndex = std::trunc(dBin - 0.5) + 1.0;
    dIndex = std::isnan(dIndex) ? 0.0 : std::clamp(dIndex, 0.0, pass.pArrays->Bins() - 1.0);
    *pHz = dBin * geo.dBinWidth;
    *pValue = pass.pArrays->adPower[static_cast<std::size_t>(dIndex)];
    return true;
}

// A line and a dot on the level of the bin (or band) under the cursor, its
// frequency (a band's centre) beside the line and its level at the top right.
void CRunningFrame::DrawCursorReadout(CDC& dc, const SFrame& f, const SPass& pass,
                                      const SPalette& palette) const {
    const int nPlotH = f.nPlotBottom;
    const int nWidth = f.nWidth;
    const int cx = f.nCursorX;
    double dHz = 0.0;
    double dValue = 0.0;
    if (!UnderCursor(f, pass, &dHz, &dValue)) {
        return;
    }
    double dDifferenceDb = 0.0;
    if (f.aids.bDifference && !m_difference.At(cx, &dDifferenceDb)) {
        return; // no bar, no reference to read against
    }
    int yc = f.aids.bDifference
                 ? static_cast<int>(CDifferenceBars::ZeroY(f) -
                                    dDifferenceDb * CDifferenceBars::PixelsPerDb(pass.dYScale))
                 : LevelY(pass.dYScale, pass.nYBase, dValue, pass.dFloor);
    if (f.aids.bDifference) {
        yc = std::max(yc, 2);
    }
    if (yc + 2 > nPlotH) {
        yc = nPlotH - 2;
    }
    dc.SelectObject(palette.pPenCursor);
    dc.MoveTo(cx, nPlotH);
    dc.LineTo(cx, yc);
    dc.Ellipse(cx - 2, yc - 2, cx + 2, yc + 2);

    const std::string strHz = FormatText("%.1f Hz", dHz);
    const CSize sizeHz = dc.GetTextExtent(strHz);
    const int xHz = cx > nWidth / 2 ? cx - sizeHz.cx - 5 : cx + 5;
    dc.TextOut(xHz, nPlotH - 14 * (f.nMode + 1), strHz);

    // In a level unit the bin's own level, not its pixel row's, or that it
    // lies below what the input can show.
    const std::string strDb =
        f.aids.bDifference ? FormatText("%+.1f dB", dDifferenceDb)
        : f.IsDesigned()   ? FormatText("%.1f dB", 10 * (f.ZeroY() - yc) / (kLn10 * pass.dYScale))
                           : f.pLevels->LevelText(dValue) + " dB";
    const CSize sizeDb = dc.GetTextExtent(strDb);
    dc.TextOut(nWidth - sizeDb.cx - 5, 18, strDb);
}

// Over everything else: the line that says no sound arrives, the name of the
// built-in signal, the statistics line and a notice.
int CRunningFrame::DrawTexts(CDC& dc, const SFrame& f) {
    if (f.bSignalLost) {
        // The spectrum stands still, and a line in the middle of the plot
        // says why.
        const CSize size = dc.GetTextExtent(kSignalLostText);
        const int x = 28 + std::max(0, (f.nWidth - 28 - size.cx) / 2);
        const int y = std::max(0, (f.nPlotBottom - size.cy) / 2);
        dc.TextOut(x, y, kSignalLostText);
    }
    if (f.aids.bFrozen) {
        const COLORREF crText = dc.SetTextColor(RGB(230, 200, 90));
        dc.TextOut(33, 4, kFrozenText);
        dc.SetTextColor(crText);
    }
    if (f.bBuiltInSignal) {
        // At the other end of the statistics line's row: the spectrum is of
        // the program's own signal, not a sound from outside.
        dc.TextOut(TopLeftX(dc, f), 4, kBuiltInSignalText);
    }
    // How many passes the previous acquisition cycle made, and the time each had.
    const std::string str = FormatText("%d FFTs á %d ms", f.nFftsPerCycle, 800 / f.nFftsPerCycle);
    const CSize size = dc.GetTextExtent(str);
    int yFree = CLevelReadout::DrawCaption(dc, f, f.nWidth - size.cx - 5);
    dc.TextOut(f.nWidth - size.cx - 5, 4, str);
    if (f.measures.bHasLoudness) {
        CLoudnessReadout::Draw(dc, f, yFree);
        yFree += 14;
    }
    DrawNotice(dc, f.strNotice, f.nWidth, f.nPlotBottom);
    return yFree;
}

int CRunningFrame::TopLeftX(CDC& dc, const SFrame& f) {
    return f.aids.bFrozen ? 33 + dc.GetTextExtent(kFrozenText).cx + 12 : 33;
}

void CRunningFrame::DrawNotice(CDC& dc, const std::string& strNotice, int nWidth, int nPlotBottom) {
    if (strNotice.empty()) {
        return;
    }
    const COLORREF crBack = dc.SetBkColor(RGB(32, 32, 32));
    const COLORREF crText = dc.SetTextColor(RGB(230, 200, 90));
    const CSize size = dc.GetTextExtent(strNotice);
    const int x = 28 + std::max(0, (nWidth - 28 - size.cx) / 2);
    const int y = std::max(0, nPlotBottom / 4 - size.cy / 2);
    dc.TextOut(x, y, strNotice);
    dc.SetBkColor(crBack);
    dc.SetTextColor(crText);
}

// The line that parts the spectrogram from the spectrum, and the spectrogram
// in colours from the bars' floor (black) to the grid's top (pale yellow).
void CRunningFrame::DrawSpectrogram(CDC& dc, const SFrame& f, const SPass& pass,
                                    CSpectrogram& spectrogram) {
    if (pass.dYScale > 0.0) {
        auto ValueAt = [&pass](int y) {
            const double dLn = std::clamp((pass.nYBase - y) / pass.dYScale, -700.0, 700.0);
            return std::max(std::exp(dLn), pass.dFloor);
        };
        spectrogram.SetColours(ValueAt(f.nPlotBottom - 16 * f.nMode), ValueAt(f.ZeroY()),
                               f.left.scale, f.IsDesigned());
    }
    dc.FillSolidRect(28, f.nPlotBottom + 1, f.nWidth - 28, 1, kMarginGrey);
    spectrogram.Draw(dc, f.SpectrogramTop());
}
