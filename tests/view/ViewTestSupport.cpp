#include "ViewTestSupport.h"

#include "platform/DC.h"

#include <cmath>

int SExpectedGeometry::X(double dBin) const {
    return static_cast<int>(dXScale * std::log(dBin) + nXOff);
}

int SExpectedGeometry::HzAt(int x) const {
    return static_cast<int>(dBinWidth * std::exp((x - nXOff) / dXScale));
}

int SExpectedGeometry::ColumnOfHz(int nHz, int nWidth) const {
    for (int x = 0; x < nWidth; ++x) {
        if (HzAt(x) == nHz) {
            return x;
        }
    }
    return -1;
}

SExpectedGeometry ExpectedGeometry(int nRate, int nFft, int nLowHz, int nHighHz, int nWidth) {
    SExpectedGeometry g{};
    g.dBinWidth = static_cast<double>(nRate) / nFft;
    g.nBinMax = std::max(std::min(static_cast<int>(nHighHz / g.dBinWidth + 0.5), nFft / 2), 6);
    g.nBinLow = static_cast<int>(nLowHz / g.dBinWidth + 0.5);
    if (g.nBinLow >= g.nBinMax) {
        g.nBinLow = g.nBinMax - 2;
    }
    g.nBinLow = std::max(g.nBinLow, 2);
    g.dXScale = (nWidth - 28) / std::log(static_cast<double>(g.nBinMax) / g.nBinLow);
    g.nXOff = static_cast<int>(28 - g.dXScale * std::log(static_cast<double>(g.nBinLow)));
    return g;
}

int SExpectedLevels::Y(double v) const {
    return static_cast<int>(nYBase - dYScale * std::log(std::max(v, 1.0)));
}

SExpectedLevels ExpectedLevels(int nPlotH, int nYScale, int nOffset) {
    SExpectedLevels l{};
    l.dYScale = nPlotH * nYScale * 0.0005;
    l.nYBase = static_cast<int>((130 - nOffset) * std::log(10.0) * l.dYScale * 0.1 + nPlotH * 1.6);
    l.nZeroY = static_cast<int>(nPlotH * 0.125);
    return l;
}

COLORREF PixelAt(const QImage& img, int x, int y) {
    const QRgb px = img.pixel(x, y);
    return RGB(qRed(px), qGreen(px), qBlue(px));
}

int TextWidth(const std::string& str) {
    CDC dc;
    return dc.GetTextExtent(str).cx;
}

::testing::AssertionResult ShowsText(const QImage& img, int x, int y, const std::string& str,
                                     COLORREF fg, COLORREF bg, int nFirstRow) {
    CDC dc;
    const CSize size = dc.GetTextExtent(str);
    QImage ref(size.cx, size.cy, QImage::Format_RGB32);
    dc.Attach(&ref);
    dc.SetBkColor(bg);
    dc.SetTextColor(fg);
    dc.TextOut(0, 0, str);
    int nCompared = 0;
    for (int row = nFirstRow; row < size.cy; ++row) {
        for (int col = 0; col < size.cx; ++col) {
            if (!img.rect().contains(x + col, y + row)) {
                continue;
            }
            ++nCompared;
            if (img.pixel(x + col, y + row) != ref.pixel(col, row)) {
                return ::testing::AssertionFailure()
                       << "\"" << str << "\" differs at " << (x + col) << "," << (y + row);
            }
        }
    }
    if (nCompared == 0) {
        return ::testing::AssertionFailure() << "\"" << str << "\" lies outside the image";
    }
    return ::testing::AssertionSuccess();
}

void ViewTest::SetUp() {
    m_pView = std::make_unique<CSpectrumView>();
    Resize(600, 300);
}

void ViewTest::Resize(int nWidth, int nHeight) {
    m_pView->resize(nWidth, nHeight);
    m_pView->UpdateBackBuffer();
}

void ViewTest::StartRun(int nRate, int nFft, int nLowHz, int nHighHz, double dPower, double dHold) {
    CSpectrumView& view = *m_pView;
    view.m_nSpanLowHz = nLowHz;
    view.m_nSpanHighHz = nHighHz;
    view.m_nFftSize = nFft;
    view.m_nSampleRate = nRate;
    view.m_nYScale = 100;
    view.m_nOffset = 100;
    view.m_nOffsetRight = 100;
    view.m_nMinXSpace = 0;
    for (CAnalysisChannel* pChannel : {&m_left, &m_right}) {
        ASSERT_TRUE(pChannel->Setup(nFft, static_cast<double>(nFft) / nRate));
        std::fill_n(pChannel->m_pPower, nFft, dPower);
        std::fill_n(pChannel->m_pHold, nFft, dHold);
    }
    view.DrawScale();
    view.BindChannels(&m_left, &m_right, nFft, nRate);
    view.DrawScale();
}

SExpectedGeometry ViewTest::Geometry() const {
    return ExpectedGeometry(m_pView->m_nSampleRate, m_pView->m_nFftSize, m_pView->m_nSpanLowHz,
                            m_pView->m_nSpanHighHz, m_pView->m_nWidth);
}
