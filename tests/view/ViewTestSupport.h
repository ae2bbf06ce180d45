#pragma once

#include "analysis/AnalysisChannel.h"
#include "platform/GdiTypes.h"
#include "view/SpectrumView.h"

#include <QImage>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// The placement of bins on the x axis, worked out from its definition: the span
// edges rounded to bins, clamped to 2 <= low < max <= N/2 (at least 6), and a
// logarithmic axis from x = 28 to the right edge.
struct SExpectedGeometry {
    double dBinWidth;
    int nBinLow;
    int nBinMax;
    double dXScale;
    int nXOff;

    int X(double dBin) const;
    // The frequency the pointer names at column x.
    int HzAt(int x) const;
    // The first column whose frequency is nHz, or -1.
    int ColumnOfHz(int nHz, int nWidth) const;
};
SExpectedGeometry ExpectedGeometry(int nRate, int nFft, int nLowHz, int nHighHz, int nWidth);

// The level scale of a pass: y of power value v.
struct SExpectedLevels {
    double dYScale;
    int nYBase;
    int nZeroY;
    int Y(double v) const;
};
SExpectedLevels ExpectedLevels(int nPlotH, int nYScale, int nOffset);

COLORREF PixelAt(const QImage& img, int x, int y);

// Whether img shows str at (x, y) exactly as a DC draws it on bg in fg; rows
// before nFirstRow of the box (drawn over afterwards) are not compared.
::testing::AssertionResult ShowsText(const QImage& img, int x, int y, const std::string& str,
                                     COLORREF fg, COLORREF bg, int nFirstRow = 0);
int TextWidth(const std::string& str);

// A view of a given size with its back buffer, and two channels that a run
// binds to it.
class ViewTest : public ::testing::Test {
protected:
    void SetUp() override;
    void Resize(int nWidth, int nHeight);
    // What Start and engine start give the view, with every bin of both channels
    // at dPower (hold at dHold).
    void StartRun(int nRate, int nFft, int nLowHz, int nHighHz, double dPower = 0.0,
                  double dHold = 0.0);
    const QImage& Back() const { return *m_pView->m_pBackImage; }
    COLORREF Back(int x, int y) const { return PixelAt(Back(), x, y); }
    SExpectedGeometry Geometry() const;

    // The channels outlive the view, whose frame thread may read them.
    CAnalysisChannel m_left;
    CAnalysisChannel m_right;
    std::unique_ptr<CSpectrumView> m_pView;
};

constexpr COLORREF kScaleColour = RGB(100, 100, 100);
constexpr COLORREF kGridColour = RGB(80, 80, 80);
constexpr COLORREF kLeftPen = RGB(30, 30, 130);
constexpr COLORREF kLeftFill = RGB(70, 70, 180);
constexpr COLORREF kRightPen = RGB(130, 30, 30);
constexpr COLORREF kRightFill = RGB(185, 50, 50);
constexpr COLORREF kCursorColour = RGB(180, 180, 0);
constexpr COLORREF kMargin = RGB(32, 32, 32);
constexpr COLORREF kLabelText = RGB(197, 197, 197);
constexpr COLORREF kBlack = RGB(0, 0, 0);
