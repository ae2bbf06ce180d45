#include "view/SpectrumView.h"

#include <QTimer>

#include "analysis/AnalysisChannel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

const double kLn10 = std::log(10.0);

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kMarginGrey = RGB(32, 32, 32);
const double kNoReference = std::numeric_limits<double>::quiet_NaN();

// Formats a text for TextOut; the texts of a frame are short.
template <typename... Args> std::string Format(const char* pszFormat, Args... args) {
    char sz[128];
    const int n = std::snprintf(sz, sizeof sz, pszFormat, args...);
    return std::string(sz, static_cast<std::size_t>(std::clamp(n, 0, int(sizeof sz) - 1)));
}

} // namespace

// A frame: the guards, the idle page or the spectra, then the hand-over to the
// window. A frame that cannot be drawn at once (another frame, the scale or a
// buffer rebuild in progress) is skipped, never waited for.
void CSpectrumView::RenderFrame(int nFlags) {
    if (m_bScaleBusy.load() != 0) {
        return;
    }
    if (m_bFrameBusy.exchange(1) == 1) {
        return;
    }
    std::unique_lock lock(m_lockFrame, std::try_to_lock);
    if (!lock.owns_lock()) {
        m_bFrameBusy = 0;
        return;
    }
    if (m_nLastFlags < 0) {
        m_nLastFlags = 0;
    }
    if (nFlags == -1) {
        nFlags = m_nLastFlags;
    } else {
        m_nLastFlags = nFlags;
    }
    const int nWidth = m_nWidth;
    const int nHeight = m_nHeight;
    if (m_pWindowDC != nullptr && nWidth > 0 && nHeight > 0) {
        CAnalysisChannel* pLeft = m_pLeftChannel.load();
        if (pLeft == nullptr) {
            TakeFreshCanvas({});
            DrawIdlePage();
            CanvasRecord().bFrame = false;
        } else if ((nFlags & 2) != 0 && m_nSampleRate > 0 && m_nFftSize > 0) {
            const auto start = std::chrono::steady_clock::now();
            DrawRunningFrame(nFlags, pLeft);
            m_nFrameNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
        }
        m_recPresent = CanvasRecord();
        m_dcWindow.BitBlt(0, 0, nWidth, nHeight, &m_dcMemory, 0, 0, SRCCOPY);
    }
    lock.unlock();
    m_bFrameBusy = 0;
}

// A running frame repaints all but the scale's strip and axis. A canvas that
// holds an earlier frame of the same layout differs from this frame only in
// the changing parts of both: the rest of it is left as it is.
void CSpectrumView::DrawRunningFrame(int nFlags, CAnalysisChannel* pLeft) {
    const SFrameSettings set = ReadFrameSettings();
    const SFrameLayout layout{m_nWidth,    m_nHeight,      m_nPlotBottom,     set.nMode,
                              set.nYScale, m_dBufferRatio, m_nScaleGeneration};
    const QImage* pShown = SwapInSpare();
    SCanvasRecord& rec = CanvasRecord();
    const bool bRefill = rec.bFrame && rec.layout == layout && CanRefill(rec.rgnChanging);
    if (pShown != nullptr && !bRefill) {
        const int nPlotBottom = layout.nPlotBottom;
        const int nWidth = layout.nWidth;
        m_dcMemory.CopyFrom(*pShown, 0, nPlotBottom, nWidth, layout.nHeight - nPlotBottom);
        m_dcMemory.CopyFrom(*pShown, 27, 0, 1, nPlotBottom);
    }
    const QRegion rgnOld = rec.rgnChanging;
    rec.bFrame = false; // while it is being drawn
    rec.rgnChanging =
        DrawSpectra(nFlags, pLeft, m_pRightChannel.load(), set, bRefill ? &rgnOld : nullptr);
    rec.layout = layout;
    rec.bFrame = true;
}

// Whether refilling the plot and the margin covers rgnChanging: nothing of it
// lies in the axis column or the scale strip, which frames do not draw.
bool CSpectrumView::CanRefill(const QRegion& rgnChanging) const {
    const int nPlotH = m_nPlotBottom;
    const QRegion rgnFilled =
        QRegion(28, 0, m_nWidth - 28, nPlotH + 1).united(QRect(0, 0, 27, nPlotH + 5));
    return rgnChanging.subtracted(rgnFilled).isEmpty();
}

// The y of a power value: a natural-log scale with values below 1.0 at 1.0.
int CSpectrumView::LevelY(const SPass& pass, double dValue) const {
    return static_cast<int>(pass.nYBase - pass.dYScale * std::log(std::max(dValue, 1.0)));
}

// ln(b) for every bin index up to nEntries - 1, kept while the size stays.
const std::vector<double>& CSpectrumView::LogTable(int nEntries) {
    if (static_cast<int>(m_adLogBin.size()) != nEntries) {
        m_adLogBin.resize(static_cast<std::size_t>(nEntries));
        for (int b = 0; b < nEntries; ++b) {
            m_adLogBin[static_cast<std::size_t>(b)] = std::log(static_cast<double>(b));
        }
    }
    return m_adLogBin;
}

CSpectrumView::SFrameSettings CSpectrumView::ReadFrameSettings() const {
    SFrameSettings set{};
    set.nMode = m_nDisplayMode;
    set.nCursorX = m_nCursorX;
    set.nCursorY = m_nCursorY;
    set.nYScale = m_nYScale;
    set.nOffset = m_nOffset;
    set.nOffsetRight = m_nOffsetRight;
    set.nMinXSpace = m_nMinXSpace;
    set.bHold = m_bHold != 0;
    return set;
}

// The level scale and the arrays of one pass over a channel.
CSpectrumView::SPass CSpectrumView::MakePass(int nIndex, const CAnalysisChannel& chan,
                                             const SFrameSettings& set) const {
    const int nPlotH = m_nPlotBottom;
    SPass pass{};
    pass.nIndex = nIndex;
    pass.dYScale = nPlotH * set.nYScale * 0.0005;
    const int nOffset = nIndex == 0 ? set.nOffset : set.nOffsetRight;
    pass.nYBase = static_cast<int>((130 - nOffset) * kLn10 * pass.dYScale * 0.1 + nPlotH * 1.6);
    pass.pPower = chan.m_pPower;
    pass.pHold = chan.m_pHold;
    pass.nBins = chan.m_nSize;
    pass.scale = chan.PowerScale();
    return pass;
}

// Draws the spectra of a frame; returns the logical region of what changes
// from frame to frame (all but the fills and the level grid). pRefill, when
// given, is that region of the canvas's earlier frame of the same layout:
// only it needs filling.
QRegion CSpectrumView::DrawSpectra(int nFlags, CAnalysisChannel* pLeft, CAnalysisChannel* pRight,
                                   const SFrameSettings& set, const QRegion* pRefill) {
    const int nPlotH = m_nPlotBottom;
    const SSpanGeometry geo = ComputeSpanGeometry();
    const int nZeroY = static_cast<int>(nPlotH * 0.125);

    // Both channels' arrays stay put while the frame reads them.
    const bool bStereo = (nFlags & 1) != 0 && pRight != nullptr;
    auto lockLeft = pLeft->LockArrays();
    std::unique_lock<std::mutex> lockRight;
    if (bStereo && pRight != pLeft) {
        lockRight = pRight->LockArrays();
    }

    // The left bars are drawn over whatever lies under them, so the plot is
    // filled around them only.
    const SPass left = MakePass(0, *pLeft, set);
    if (HasArrays(left)) {
        BuildBars(left, geo, set);
    } else {
        m_aBars.clear();
        m_aReferenceLine.clear();
    }
    FillPlot(pRefill);

    for (int nPass = 0; nPass < (bStereo ? 2 : 1); ++nPass) {
        const SPass pass = nPass == 0 ? left : MakePass(1, *pRight, set);
        if (nPass == 0) {
            DrawLevelGrid(pass, nZeroY);
            m_dcMemory.ResetTouched(); // from here on, all changes with the frame
            m_dcMemory.SelectObject(&m_penLeft);
            m_dcMemory.SelectObject(m_pBrushLeft.get());
        } else {
            m_dcMemory.SelectObject(&m_penRight);
            m_dcMemory.SelectObject(m_pBrushRight.get());
        }
        if (nPass == 0 && set.nMode == 1) {
            DrawNoteOverlay(geo);
            m_dcMemory.SelectObject(m_pBrushLeft.get());
            m_dcMemory.SelectObject(&m_penLeft);
        }
        if (!HasArrays(pass)) {
            continue; // a channel without arrays has nothing to show
        }
        if (nPass == 1) {
            BuildBars(pass, geo, set);
        }
        DrawBars();
        if (set.nMode == 2) {
            DrawPowerReadout(pass);
        }
        if (set.nCursorX > 30 && set.nCursorY < nPlotH) {
            DrawCursorReadout(pass, geo, nZeroY, set);
        }
    }
    // Over the bars of both channels, under the texts.
    DrawReferenceLine();
    if (m_bSignalLost) {
        DrawSignalLost();
    }
    if (m_bBuiltInSignal) {
        DrawBuiltInSignal();
    }
    DrawStatistics();
    DrawNotice();
    return LogicalRegion(m_dcMemory.Touched());
}

// The black plot around the left bars, then the grey margin. Only the part
// given, if any, holds something else than what these fills would leave.
void CSpectrumView::FillPlot(const QRegion* pRefill) {
    const int nPlotH = m_nPlotBottom;
    QRegion rgnPlot(28, 0, m_nWidth - 28, nPlotH + 1);
    QRegion rgnMargin(0, 0, 27, nPlotH + 5);
    if (pRefill != nullptr) {
        rgnPlot &= *pRefill;
        rgnMargin &= *pRefill;
    }
    for (const QRect& rc : rgnPlot) {
        m_dcMemory.FillSolidRectAround(rc.x(), rc.y(), rc.width(), rc.height(), kBlack,
                                       m_aBars.data(), static_cast<int>(m_aBars.size()));
    }
    for (const QRect& rc : rgnMargin) {
        m_dcMemory.FillSolidRect(rc.x(), rc.y(), rc.width(), rc.height(), kMarginGrey);
    }
    // Texts stand on the margin's grey, as after the fill.
    m_dcMemory.SetBkColor(kMarginGrey);
}

// Lines every 10 dB from +50 to -190, labelled right-aligned in the margin.
void CSpectrumView::DrawLevelGrid(const SPass& pass, int nZeroY) {
    const int nPlotH = m_nPlotBottom;
    const int nWidth = m_nWidth;
    m_dcMemory.SelectObject(&m_penGrid);
    for (int k = -5; k <= 19; ++k) {
        const int y = static_cast<int>(k * kLn10 * pass.dYScale + nZeroY);
        if (y <= 0 || y >= nPlotH) {
            continue;
        }
        m_dcMemory.MoveTo(28, y);
        m_dcMemory.LineTo(nWidth, y);
        const std::string strLabel = Format("%d", -10 * k);
        const CSize size = m_dcMemory.GetTextExtent(strLabel);
        m_dcMemory.TextOut(26 - size.cx, y - size.cy / 2, strLabel);
    }
}

// One bar per group of bins at least Min X-space wide, from the previous bar's
// right edge to the geometric middle of the group's last bin, at the group's
// mean power; the hold level is the mean of the group's held values. For the
// left channel, the reference line passes through the middle of each bar at
// the height the bar would have at the reference's mean power over its bins,
// kept inside the plot: from its top row to the row above its floor.
void CSpectrumView::BuildBars(const SPass& pass, const SSpanGeometry& geo,
                              const SFrameSettings& set) {
    const int nBottom = m_nPlotBottom - 16 * set.nMode;
    const int nMinXSpace = set.nMinXSpace;
    const bool bHold = set.bHold;
    const int nBinEnd = std::min(geo.nBinMax, pass.nBins);
    const std::vector<double>& adLn = LogTable(std::max(geo.nBinMax, pass.nBins) + 1);
    const bool bReference = pass.nIndex == 0;
    const int nReferenceBins = static_cast<int>(m_adReference.size());
    m_aBars.clear();
    m_aHoldLevels.clear();
    if (bReference) {
        m_aReferenceLine.clear();
    }
    int nPrevX = 28;
    int n = 0;
    double dMeanP = 0.0;
    double dMeanH = 0.0;
    double dMeanR = 0.0; // NaN once a bin of the group lies beyond the reference
    for (int b = geo.nBinLow; b < nBinEnd; ++b) {
        const int x = static_cast<int>(geo.nXOff + geo.dXScale * (adLn[b] + adLn[b + 1]) * 0.5);
        const double dP = (dMeanP * n + pass.pPower[b]) / (n + 1);
        const double dH = (dMeanH * n + pass.pHold[b]) / (n + 1);
        const double dRef =
            b < nReferenceBins ? m_adReference[b] * pass.scale.Gain(b) : kNoReference;
        const double dR = (dMeanR * n + dRef) / (n + 1);
        if (x < nPrevX + nMinXSpace) {
            dMeanP = dP;
            dMeanH = dH;
            dMeanR = dR;
            ++n;
            continue;
        }
        // A bar of no width shows nothing, neither outline nor hold level.
        if (x > nPrevX) {
            const int nTop = std::min(LevelY(pass, dP), nBottom);
            m_aBars.push_back(SRectangle{nPrevX, nTop, x, nBottom});
            if (bHold) {
                m_aHoldLevels.push_back(
                    SRectangle{nPrevX, std::min(LevelY(pass, dH), nBottom), x, 0});
            }
            if (bReference && nReferenceBins > 0) {
                m_aReferenceLine.push_back(
                    std::isnan(dR)
                        ? CPoint{-1, 0}
                        : CPoint{(nPrevX + x) / 2, std::clamp(LevelY(pass, dR), 0, nBottom - 1)});
            }
        }
        nPrevX = x;
        n = 0;
        dMeanP = 0.0;
        dMeanH = 0.0;
        dMeanR = 0.0;
    }
}

// The reference from bar to bar; it breaks where it has no value. A line
// stops short of its end point, so each run ends with its last point drawn.
void CSpectrumView::DrawReferenceLine() {
    m_dcMemory.SelectObject(&m_penReference);
    bool bDrawing = false;
    CPoint ptLast{};
    const auto endRun = [&] {
        if (bDrawing) {
            m_dcMemory.LineTo(ptLast.x + 1, ptLast.y);
        }
        bDrawing = false;
    };
    for (const CPoint& pt : m_aReferenceLine) {
        if (pt.x < 0) {
            endRun();
            continue;
        }
        if (bDrawing) {
            m_dcMemory.LineTo(pt.x, pt.y);
        } else {
            m_dcMemory.MoveTo(pt.x, pt.y);
        }
        bDrawing = true;
        ptLast = pt;
    }
    endRun();
}

// The bars of a pass share no column and each hold line lies in its own bar's
// columns, so all bars are drawn in one batch and the hold lines after them:
// the same picture as drawing them in turn, written a scan line at a time.
void CSpectrumView::DrawBars() {
    m_dcMemory.Rectangles(m_aBars.data(), static_cast<int>(m_aBars.size()));
    for (const SRectangle& line : m_aHoldLevels) {
        m_dcMemory.MoveTo(line.l, line.t);
        m_dcMemory.LineTo(line.r, line.t);
    }
}

// The mean power of the whole spectrum, in units of 1e10.
void CSpectrumView::DrawPowerReadout(const SPass& pass) {
    const int nFft = m_nFftSize;
    const int nEntries = std::min(nFft, pass.nBins);
    double dSum = 0.0;
    for (int i = 0; i < nEntries; ++i) {
        dSum += pass.pPower[i] / nFft;
    }
    const std::string str = Format(pass.nIndex == 0 ? "Power L: %.1f" : "R: %.1f", dSum * 1e-10);
    const CSize size = m_dcMemory.GetTextExtent(str);
    m_dcMemory.TextOut(m_nWidth - size.cx - 5, 18 + 14 * pass.nIndex, str);
}

// A line and a dot on the level of the bin under the cursor, its frequency
// beside the line and its level at the top right.
void CSpectrumView::DrawCursorReadout(const SPass& pass, const SSpanGeometry& geo, int nZeroY,
                                      const SFrameSettings& set) {
    const int nPlotH = m_nPlotBottom;
    const int nWidth = m_nWidth;
    const int cx = set.nCursorX;
    const double dBin = std::exp((cx - geo.nXOff) / geo.dXScale);
    // The nearest bin, kept inside the array whatever the cursor and the span.
    double dIndex = std::trunc(dBin - 0.5) + 1.0;
    dIndex = std::isnan(dIndex) ? 0.0 : std::clamp(dIndex, 0.0, pass.nBins - 1.0);
    int yc = LevelY(pass, pass.pPower[static_cast<int>(dIndex)]);
    if (yc + 2 > nPlotH) {
        yc = nPlotH - 2;
    }
    m_dcMemory.SelectObject(&m_penCursor);
    m_dcMemory.MoveTo(cx, nPlotH);
    m_dcMemory.LineTo(cx, yc);
    m_dcMemory.Ellipse(cx - 2, yc - 2, cx + 2, yc + 2);

    const std::string strHz = Format("%.1f Hz", dBin * geo.dBinWidth);
    const CSize sizeHz = m_dcMemory.GetTextExtent(strHz);
    const int xHz = cx > nWidth / 2 ? cx - sizeHz.cx - 5 : cx + 5;
    m_dcMemory.TextOut(xHz, nPlotH - 14 * (set.nMode + 1), strHz);

    const std::string strDb = Format("%.1f dB", 10 * (nZeroY - yc) / (kLn10 * pass.dYScale));
    const CSize sizeDb = m_dcMemory.GetTextExtent(strDb);
    m_dcMemory.TextOut(nWidth - sizeDb.cx - 5, 18, strDb);
}

// How many passes the previous acquisition cycle made, and the time each had.
void CSpectrumView::DrawStatistics() {
    int nPasses = m_nFftsPerCycle;
    if (nPasses == 0) {
        nPasses = 10;
        m_nFftsPerCycle = 10;
    }
    const std::string str = Format("%d FFTs á %d ms", nPasses, 800 / nPasses);
    const CSize size = m_dcMemory.GetTextExtent(str);
    m_dcMemory.TextOut(m_nWidth - size.cx - 5, 4, str);
}

// Where the statistics line stands, at the other end of its row: which signal
// the spectrum is of, when it is the program's own and not a sound from
// outside.
void CSpectrumView::DrawBuiltInSignal() {
    m_dcMemory.TextOut(33, 4, kBuiltInSignalText);
}

// The device stopped delivering: the spectrum stands still, and a line in the
// middle of the plot says why.
void CSpectrumView::DrawSignalLost() {
    const int nPlotH = m_nPlotBottom;
    const CSize size = m_dcMemory.GetTextExtent(kSignalLostText);
    const int x = 28 + std::max(0, (m_nWidth - 28 - size.cx) / 2);
    const int y = std::max(0, (nPlotH - size.cy) / 2);
    m_dcMemory.TextOut(x, y, kSignalLostText);
}

// A notice, while it lasts: a light line on a box of the margin's grey, a
// quarter down the plot, clear of the no-sound line in its middle. The DC's
// colours are left as they were for the frames to come.
void CSpectrumView::DrawNotice() {
    if (m_strNotice.empty() || std::chrono::steady_clock::now() >= m_noticeUntil) {
        return;
    }
    const COLORREF crBack = m_dcMemory.SetBkColor(RGB(32, 32, 32));
    const COLORREF crText = m_dcMemory.SetTextColor(RGB(230, 200, 90));
    const CSize size = m_dcMemory.GetTextExtent(m_strNotice);
    const int x = 28 + std::max(0, (m_nWidth - 28 - size.cx) / 2);
    const int y = std::max(0, m_nPlotBottom / 4 - size.cy / 2);
    m_dcMemory.TextOut(x, y, m_strNotice);
    m_dcMemory.SetBkColor(crBack);
    m_dcMemory.SetTextColor(crText);
}

void CSpectrumView::ShowNotice(const std::string& strText, int nMilliseconds) {
    {
        std::lock_guard lock(m_lockFrame);
        m_strNotice = strText;
        m_noticeUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    }
    // Frames come and go while running; the welcome page is drawn anew when
    // the notice ends.
    QTimer::singleShot(nMilliseconds + 10, this, [this] { RenderFrame(-1); });
}

std::string CSpectrumView::Notice() const {
    std::lock_guard lock(m_lockFrame);
    return std::chrono::steady_clock::now() < m_noticeUntil ? m_strNotice : std::string();
}
