#include "platform/DC.h"
#include "platform/WindowDC.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr COLORREF kPaper = RGB(10, 20, 30);
constexpr COLORREF kInk = RGB(200, 100, 50);

// A bitmap of a logical size at a device pixel ratio, filled with one colour.
QImage Bitmap(QSize logical, double dRatio, QColor fill) {
    QImage img(qRound(logical.width() * dRatio), qRound(logical.height() * dRatio),
               QImage::Format_RGB32);
    img.setDevicePixelRatio(dRatio);
    img.fill(fill);
    return img;
}

// A memory DC over a 40 x 30 bitmap filled with the paper colour.
class DCTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_img = QImage(40, 30, QImage::Format_RGB32);
        m_img.fill(QColor(QRgb(PixelFromColour(kPaper))));
        m_dc.Attach(&m_img);
        m_pen.CreatePen(PS_SOLID, 1, kInk);
        m_dc.SelectObject(&m_pen);
    }
    COLORREF At(int x, int y) const {
        const QRgb px = m_img.pixel(x, y);
        return RGB(qRed(px), qGreen(px), qBlue(px));
    }
    // The pixels of a row (or column) that carry colour c.
    std::vector<int> RowCoverage(int y, COLORREF c) const {
        std::vector<int> xs;
        for (int x = 0; x < m_img.width(); ++x) {
            if (At(x, y) == c) {
                xs.push_back(x);
            }
        }
        return xs;
    }
    std::vector<int> ColumnCoverage(int x, COLORREF c) const {
        std::vector<int> ys;
        for (int y = 0; y < m_img.height(); ++y) {
            if (At(x, y) == c) {
                ys.push_back(y);
            }
        }
        return ys;
    }
    static std::vector<int> Range(int first, int last) {
        std::vector<int> v;
        for (int i = first; i <= last; ++i) {
            v.push_back(i);
        }
        return v;
    }

    QImage m_img;
    CDC m_dc;
    CPen m_pen;
};

TEST_F(DCTest, LinesExcludeTheirEndPointInEveryDirection) {
    m_dc.MoveTo(3, 5);
    m_dc.LineTo(9, 5);
    EXPECT_EQ(RowCoverage(5, kInk), Range(3, 8));
    m_dc.MoveTo(30, 7);
    m_dc.LineTo(24, 7);
    EXPECT_EQ(RowCoverage(7, kInk), Range(25, 30));
    m_dc.MoveTo(12, 10);
    m_dc.LineTo(12, 14);
    EXPECT_EQ(ColumnCoverage(12, kInk), Range(10, 13));
    m_dc.MoveTo(15, 20);
    m_dc.LineTo(15, 16);
    EXPECT_EQ(ColumnCoverage(15, kInk), Range(17, 20));
}

TEST_F(DCTest, LineToMovesTheCurrentPosition) {
    m_dc.MoveTo(2, 2);
    m_dc.LineTo(2, 6);
    m_dc.LineTo(8, 6);
    EXPECT_EQ(ColumnCoverage(2, kInk), Range(2, 6));
    EXPECT_EQ(RowCoverage(6, kInk), Range(2, 7));
    const CPoint previous = m_dc.MoveTo(0, 0);
    EXPECT_EQ(previous.x, 8);
    EXPECT_EQ(previous.y, 6);
}

TEST_F(DCTest, ZeroLengthLineDrawsNothing) {
    m_dc.MoveTo(4, 4);
    m_dc.LineTo(4, 4);
    EXPECT_EQ(At(4, 4), kPaper);
}

TEST_F(DCTest, SlantedLineStopsBeforeItsEndPoint) {
    m_dc.MoveTo(0, 0);
    m_dc.LineTo(5, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(At(i, i), kInk) << i;
    }
    EXPECT_EQ(At(5, 5), kPaper);
}

// Bresenham's pixels from (x0, y0) towards (x1, y1), the end point excluded.
std::vector<QPoint> BresenhamPixels(QPoint from, QPoint to) {
    const int dx = std::abs(to.x() - from.x());
    const int dy = -std::abs(to.y() - from.y());
    const int sx = from.x() < to.x() ? 1 : -1;
    const int sy = from.y() < to.y() ? 1 : -1;
    std::vector<QPoint> pixels;
    int err = dx + dy;
    for (QPoint pt = from; pt != to;) {
        pixels.push_back(pt);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            pt.rx() += sx;
        }
        if (e2 <= dx) {
            err += dx;
            pt.ry() += sy;
        }
    }
    return pixels;
}

// Slanted lines are written a column or a row at a time; they cover exactly
// Bresenham's pixels in every direction, each pixel whole with a pen that
// covers its logical pixels, also at 1.5.
TEST_F(DCTest, SlantedLinesCoverBresenhamsPixelsInEveryDirection) {
    CPen covering(PS_SOLID, 1, kInk);
    covering.SetCoversLogicalPixels(true);
    const QPoint points[] = {{2, 3}, {37, 5}, {20, 27}, {6, 25}, {33, 21}, {14, 14}, {15, 16}};
    for (double dRatio : {1.0, 1.5}) {
        for (const QPoint& from : points) {
            for (const QPoint& to : points) {
                QImage img = Bitmap(m_img.size(), dRatio, Qt::white);
                QImage expected = img;
                CDC dc;
                dc.Attach(&img);
                dc.SelectObject(&covering);
                dc.MoveTo(from.x(), from.y());
                dc.LineTo(to.x(), to.y());
                const int w = static_cast<int>(std::ceil(dRatio));
                for (const QPoint& pt : BresenhamPixels(from, to)) {
                    const int x = dc.DeviceCoordinate(pt.x());
                    const int y = dc.DeviceCoordinate(pt.y());
                    for (int i = 0; i < w * w; ++i)
                        expected.setPixel(x + i % w, y + i / w, PixelFromColour(kInk));
                }
                ASSERT_EQ(img, expected) << dRatio << ": " << from.x() << "," << from.y() << " to "
                                         << to.x() << "," << to.y();
            }
        }
    }
}

TEST_F(DCTest, RectangleOutlinesInPenAndFillsInBrush) {
    CBrush brush(RGB(1, 2, 3));
    m_dc.SelectObject(&brush);
    ASSERT_TRUE(m_dc.Rectangle(5, 4, 12, 10));
    EXPECT_EQ(RowCoverage(4, kInk), Range(5, 11));
    EXPECT_EQ(RowCoverage(9, kInk), Range(5, 11));
    EXPECT_EQ(ColumnCoverage(5, kInk), Range(4, 9));
    EXPECT_EQ(ColumnCoverage(11, kInk), Range(4, 9));
    EXPECT_EQ(At(8, 7), RGB(1, 2, 3));
    EXPECT_EQ(At(6, 5), RGB(1, 2, 3));
    EXPECT_EQ(At(10, 8), RGB(1, 2, 3));
    EXPECT_EQ(At(12, 7), kPaper);
    EXPECT_EQ(At(8, 10), kPaper);
}

TEST_F(DCTest, EmptyRectanglesDrawNothing) {
    EXPECT_FALSE(m_dc.Rectangle(5, 5, 5, 10));
    EXPECT_FALSE(m_dc.Rectangle(5, 5, 10, 5));
    EXPECT_FALSE(m_dc.Rectangle(10, 5, 5, 10));
    EXPECT_FALSE(m_dc.Rectangle(5, 10, 10, 5));
    for (int y = 0; y < m_img.height(); ++y) {
        EXPECT_TRUE(RowCoverage(y, kInk).empty()) << y;
    }
}

TEST_F(DCTest, OnePixelWideRectangleIsAColumnOfPen) {
    m_dc.Rectangle(7, 3, 8, 6);
    EXPECT_EQ(ColumnCoverage(7, kInk), Range(3, 5));
    EXPECT_EQ(At(8, 4), kPaper);
}

// Rectangles as a batch must give the picture of drawing them one by one, both
// for neighbours in separate columns and for ones stacked in a column, at any
// device pixel ratio.
TEST_F(DCTest, RectanglesInABatchDrawLikeOneByOne) {
    CBrush brush(RGB(1, 2, 3));
    const std::vector<SRectangle> neighbours = {{-3, 5, 2, 20},   {2, 8, 3, 29},  {3, 12, 4, 35},
                                                {4, 3, 9, 9},     {9, 9, 9, 20},  {10, 15, 12, 16},
                                                {12, 20, 13, 18}, {13, 1, 45, 25}};
    const std::vector<SRectangle> stacked = {{5, 2, 9, 8}, {5, 10, 9, 14}, {6, 20, 8, 28}};
    for (double dRatio : {1.0, 1.5, 2.0}) {
        for (const std::vector<SRectangle>& rects : {neighbours, stacked}) {
            SCOPED_TRACE(dRatio);
            QImage single = Bitmap(m_img.size(), dRatio, Qt::black);
            CDC dcSingle;
            dcSingle.Attach(&single);
            dcSingle.SelectObject(&m_pen);
            dcSingle.SelectObject(&brush);
            for (const SRectangle& rc : rects) {
                dcSingle.Rectangle(rc.l, rc.t, rc.r, rc.b);
            }
            QImage batch = Bitmap(m_img.size(), dRatio, Qt::black);
            CDC dcBatch;
            dcBatch.Attach(&batch);
            dcBatch.SelectObject(&m_pen);
            dcBatch.SelectObject(&brush);
            dcBatch.Rectangles(rects.data(), static_cast<int>(rects.size()));
            EXPECT_EQ(batch, single);
            const int x = dcBatch.DeviceCoordinate(rects[1].l);
            const int y = dcBatch.DeviceCoordinate(rects[1].t);
            EXPECT_NE(batch.pixel(x, y), qRgb(0, 0, 0));
        }
    }
}

// Filling around rectangles gives the picture of filling everything and then
// drawing the rectangles, and leaves what lies under them alone meanwhile.
TEST_F(DCTest, FillingAroundRectanglesLeavesThemAndFillsTheRest) {
    CBrush brush(RGB(1, 2, 3));
    const std::vector<SRectangle> bars = {{2, 5, 4, 30},   {4, 12, 9, 30},   {9, 20, 10, 25},
                                          {10, 3, 11, 29}, {20, 26, 30, 27}, {35, 0, 50, 9}};
    const std::vector<SRectangle> overlapping = {{2, 5, 9, 30}, {4, 12, 6, 20}};
    for (double dRatio : {1.0, 1.5, 2.0}) {
        for (const std::vector<SRectangle>& rects : {bars, overlapping}) {
            SCOPED_TRACE(dRatio);
            QImage full = Bitmap(m_img.size(), dRatio, Qt::white);
            CDC dcFull;
            dcFull.Attach(&full);
            dcFull.SelectObject(&m_pen);
            dcFull.SelectObject(&brush);
            dcFull.FillSolidRect(1, 2, 36, 26, RGB(0, 0, 0));
            dcFull.Rectangles(rects.data(), static_cast<int>(rects.size()));

            QImage around = Bitmap(m_img.size(), dRatio, Qt::white);
            CDC dc;
            dc.Attach(&around);
            dc.SelectObject(&m_pen);
            dc.SelectObject(&brush);
            dc.FillSolidRectAround(1, 2, 36, 26, RGB(0, 0, 0), rects.data(),
                                   static_cast<int>(rects.size()));
            EXPECT_EQ(dc.GetBkColor(), RGB(0, 0, 0));
            if (&rects == &bars) {
                // Under the bars the paper is still there.
                const QRect rc = dc.DeviceRect(4, 12, 5, 18);
                EXPECT_EQ(around.pixel(rc.center()), qRgb(255, 255, 255));
            }
            dc.Rectangles(rects.data(), static_cast<int>(rects.size()));
            EXPECT_EQ(around, full);
        }
    }
}

TEST_F(DCTest, DrawingOutsideTheBitmapIsClipped) {
    m_dc.MoveTo(-10, 3);
    m_dc.LineTo(100, 3);
    EXPECT_EQ(RowCoverage(3, kInk).size(), 40u);
    m_dc.MoveTo(3, -50);
    m_dc.LineTo(3, 50);
    EXPECT_EQ(ColumnCoverage(3, kInk).size(), 30u);
    m_dc.FillSolidRect(-3, 25, 100, 100, kInk);
    EXPECT_EQ(RowCoverage(29, kInk).size(), 40u);
    m_dc.Rectangle(-5, -5, 100, 100);
    EXPECT_EQ(At(39, 29), RGB(255, 255, 255)); // the default brush, inside the outline
    m_dc.TextOut(35, 25, "clipped text");
    m_dc.TextOut(-100, -100, "gone");
    m_dc.Ellipse(-10, -10, 60, 60);
}

TEST_F(DCTest, SolidFillLeavesTheBackgroundColourSet) {
    m_dc.SetBkColor(RGB(0, 0, 0));
    m_dc.FillSolidRect(2, 3, 4, 5, RGB(32, 32, 32));
    EXPECT_EQ(m_dc.GetBkColor(), RGB(32, 32, 32));
    EXPECT_EQ(RowCoverage(3, RGB(32, 32, 32)), Range(2, 5));
    EXPECT_EQ(ColumnCoverage(2, RGB(32, 32, 32)), Range(3, 7));
}

TEST_F(DCTest, EmptyFillStillSetsTheBackgroundColour) {
    m_dc.FillSolidRect(2, 3, 0, 5, RGB(7, 7, 7));
    EXPECT_EQ(m_dc.GetBkColor(), RGB(7, 7, 7));
    EXPECT_EQ(At(2, 3), kPaper);
}

TEST_F(DCTest, SelectObjectReturnsThePreviousPenAndRefusesUncreatedOnes) {
    CPen other(PS_SOLID, 1, RGB(9, 9, 9));
    EXPECT_EQ(m_dc.SelectObject(&other), &m_pen);
    CPen none;
    EXPECT_EQ(m_dc.SelectObject(&none), nullptr);
    m_dc.MoveTo(0, 1);
    m_dc.LineTo(3, 1);
    EXPECT_EQ(At(0, 1), RGB(9, 9, 9));
}

TEST_F(DCTest, DefaultFontIsDejaVuSansAtElevenPixels) {
    QFontMetrics metrics(CDC::DefaultFont());
    EXPECT_EQ(metrics.ascent(), 10);
    EXPECT_EQ(metrics.height(), 13);
    EXPECT_EQ(m_dc.GetTextExtent("Hz").cy, 13);
}

TEST_F(DCTest, TextStandsOnAnOpaqueBoxOfTheMeasuredSize) {
    m_dc.SetBkColor(RGB(0, 0, 90));
    m_dc.SetTextColor(RGB(255, 255, 0));
    CSize size;
    ASSERT_TRUE(m_dc.GetTextExtentPoint32A("8 ms", 4, &size));
    EXPECT_GT(size.cx, 10);
    m_dc.TextOut(3, 4, "8 ms");
    int nInk = 0;
    for (int y = 0; y < m_img.height(); ++y) {
        for (int x = 0; x < m_img.width(); ++x) {
            const bool bInBox = x >= 3 && x < 3 + size.cx && y >= 4 && y < 4 + size.cy;
            if (!bInBox) {
                ASSERT_EQ(At(x, y), kPaper) << x << "," << y;
            } else {
                ASSERT_NE(At(x, y), kPaper) << x << "," << y;
                nInk += At(x, y) != RGB(0, 0, 90) ? 1 : 0;
            }
        }
    }
    EXPECT_GT(nInk, 5);
    // The box's top-left corner and its bottom row stay background: glyphs sit
    // between ascent and baseline.
    EXPECT_EQ(At(3, 4), RGB(0, 0, 90));
    EXPECT_EQ(At(3 + size.cx - 1, 4 + size.cy - 1), RGB(0, 0, 90));
}

// Texts are UTF-8: a path under a home folder with an umlaut, and the
// statistics line's "á", each measured as the characters they name.
TEST_F(DCTest, TextIsUtf8) {
    const QFontMetrics metrics(CDC::DefaultFont());
    EXPECT_EQ(m_dc.GetTextExtent("/home/J\xC3\xB6rg").cx,
              metrics.horizontalAdvance(QString::fromUtf16(u"/home/J\u00F6rg")));
    EXPECT_EQ(m_dc.GetTextExtent("7 FFTs \xC3\xA1 114 ms").cx,
              metrics.horizontalAdvance(QString::fromUtf16(u"7 FFTs \u00E1 114 ms")));
    EXPECT_GT(m_dc.GetTextExtent("\xC3\xA1").cx, 3);
}

TEST_F(DCTest, TextInAnotherColourIsDrawnAnew) {
    m_dc.SetBkColor(RGB(0, 0, 0));
    m_dc.TextOut(0, 0, "A");
    m_dc.SetBkColor(RGB(50, 0, 0));
    m_dc.TextOut(0, 15, "A");
    EXPECT_EQ(At(0, 0), RGB(0, 0, 0));
    EXPECT_EQ(At(0, 15), RGB(50, 0, 0));
}

TEST_F(DCTest, EllipseStaysInsideItsBox) {
    CBrush brush(RGB(1, 2, 3));
    m_dc.SelectObject(&brush);
    m_dc.Ellipse(10, 10, 20, 20);
    int nPainted = 0;
    for (int y = 0; y < m_img.height(); ++y) {
        for (int x = 0; x < m_img.width(); ++x) {
            if (At(x, y) != kPaper) {
                ASSERT_TRUE(x >= 10 && x < 20 && y >= 10 && y < 20) << x << "," << y;
                ++nPainted;
            }
        }
    }
    EXPECT_GT(nPainted, 50);
    EXPECT_EQ(At(15, 15), RGB(1, 2, 3));
    EXPECT_EQ(At(10, 15), kInk);
    EXPECT_EQ(At(19, 15), kInk);
}

TEST_F(DCTest, BitBltCopiesABlockBetweenMemoryDCs) {
    m_dc.FillSolidRect(0, 0, 5, 5, RGB(1, 1, 1));
    QImage target(10, 10, QImage::Format_RGB32);
    target.fill(Qt::white);
    CDC dcTarget;
    dcTarget.Attach(&target);
    ASSERT_TRUE(dcTarget.BitBlt(2, 3, 6, 6, &m_dc, 1, 1, SRCCOPY));
    EXPECT_EQ(target.pixel(2, 3), PixelFromColour(RGB(1, 1, 1)));
    EXPECT_EQ(target.pixel(5, 6), PixelFromColour(RGB(1, 1, 1)));
    EXPECT_EQ(target.pixel(6, 7), PixelFromColour(kPaper));
    EXPECT_EQ(target.pixel(1, 3), qRgb(255, 255, 255));
    EXPECT_EQ(target.pixel(8, 3), qRgb(255, 255, 255));
}

class CRecordingSurface : public IWindowSurface {
public:
    void Present(const QImage& img, const QRect& rc, const QPoint& pt) override {
        m_img = img.copy(rc);
        m_pt = pt;
        ++m_nCalls;
    }
    QImage m_img;
    QPoint m_pt;
    int m_nCalls = 0;
};

TEST_F(DCTest, BitBltToAWindowDCPresentsTheBlock) {
    CRecordingSurface surface;
    CWindowDC dcWindow(&surface);
    m_dc.FillSolidRect(0, 0, 40, 30, RGB(4, 5, 6));
    ASSERT_TRUE(dcWindow.BitBlt(0, 0, 20, 10, &m_dc, 0, 0, SRCCOPY));
    EXPECT_EQ(surface.m_nCalls, 1);
    EXPECT_EQ(surface.m_img.size(), QSize(20, 10));
    EXPECT_EQ(surface.m_img.pixel(19, 9), PixelFromColour(RGB(4, 5, 6)));
    EXPECT_FALSE(dcWindow.BitBlt(0, 0, 0, 10, &m_dc, 0, 0, SRCCOPY));
    EXPECT_EQ(surface.m_nCalls, 1);
}

TEST(DCDetachedTest, DrawingWithoutABitmapDoesNothing) {
    CDC dc;
    EXPECT_FALSE(dc.IsAttached());
    dc.FillSolidRect(0, 0, 10, 10, RGB(1, 1, 1));
    dc.MoveTo(0, 0);
    dc.LineTo(5, 5);
    EXPECT_FALSE(dc.TextOut(0, 0, "x"));
    EXPECT_EQ(dc.GetBkColor(), RGB(1, 1, 1));
}

// --- Device pixel ratios -------------------------------------------------------

// Everything but text, drawn by one DC onto whatever bitmap it is given.
void DrawShapes(CDC& dc, const CPen& pen, const CBrush& brush) {
    dc.SelectObject(&pen);
    dc.SelectObject(&brush);
    dc.FillSolidRect(1, 1, 12, 7, RGB(40, 40, 40));
    dc.MoveTo(2, 3);
    dc.LineTo(30, 3);
    dc.MoveTo(35, 28);
    dc.LineTo(35, 2);
    dc.MoveTo(20, 12);
    dc.LineTo(25, 25);
    dc.Rectangle(4, 10, 11, 27);
    const SRectangle bars[] = {{12, 14, 15, 29}, {15, 18, 16, 29}, {16, 9, 19, 29}};
    dc.Rectangles(bars, 3);
    dc.Ellipse(26, 6, 31, 11);
    dc.MoveTo(-4, 29);
    dc.LineTo(50, 29);
}

// Whether big shows small with every pixel doubled in both directions.
::testing::AssertionResult IsDoubled(const QImage& small, const QImage& big) {
    if (big.size() != small.size() * 2) {
        return ::testing::AssertionFailure() << "size " << big.width() << "x" << big.height();
    }
    for (int y = 0; y < big.height(); ++y) {
        for (int x = 0; x < big.width(); ++x) {
            if (big.pixel(x, y) != small.pixel(x / 2, y / 2)) {
                return ::testing::AssertionFailure() << "differs at " << x << "," << y;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// Rows (or columns) of a device column (or row) that carry colour c, as runs.
std::vector<int> RunLengths(const QImage& img, int nLine, bool bColumn, COLORREF c) {
    std::vector<int> runs;
    int nRun = 0;
    const int nEnd = bColumn ? img.height() : img.width();
    for (int i = 0; i <= nEnd; ++i) {
        const bool bInk =
            i < nEnd && img.pixel(bColumn ? nLine : i, bColumn ? i : nLine) == PixelFromColour(c);
        if (bInk) {
            ++nRun;
        } else if (nRun > 0) {
            runs.push_back(nRun);
            nRun = 0;
        }
    }
    return runs;
}

TEST_F(DCTest, AtRatioTwoShapesAreTheRatioOnePictureDoubled) {
    CBrush brush(RGB(1, 2, 3));
    DrawShapes(m_dc, m_pen, brush);
    QImage big = Bitmap(m_img.size(), 2.0, QColor(QRgb(PixelFromColour(kPaper))));
    CDC dc;
    dc.Attach(&big);
    EXPECT_EQ(dc.GetDevicePixelRatio(), 2.0);
    DrawShapes(dc, m_pen, brush);
    EXPECT_TRUE(IsDoubled(m_img, big));
}

// At 1.5 logical pixels are one or two device pixels wide: fills still meet
// without gap or overlap, and every line and outline is one device pixel thick.
TEST_F(DCTest, AtRatioOneAndAHalfFillsTileAndLinesKeepOneThickness) {
    QImage img = Bitmap(m_img.size(), 1.5, Qt::white);
    CDC dc;
    dc.Attach(&img);
    // Fills of 1 to 4 logical columns side by side, each in a colour of its own.
    std::vector<QRect> fills;
    for (int x = 0, n = 0; x < 40; x += fills.back().width(), ++n) {
        fills.push_back(QRect(x, 0, 1 + n % 4, 30));
        dc.FillSolidRect(x, 0, 1 + n % 4, 30, RGB(n + 1, 0, 0));
    }
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            ASSERT_NE(img.pixel(x, y), qRgb(255, 255, 255)) << x << "," << y;
        }
    }
    for (std::size_t n = 0; n < fills.size(); ++n) {
        const QRect& rc = fills[n];
        const int nDeviceWidth = dc.DeviceRect(rc.x(), 0, rc.width(), 1).width();
        EXPECT_EQ(RunLengths(img, 5, false, RGB(static_cast<int>(n) + 1, 0, 0)),
                  std::vector<int>{nDeviceWidth})
            << n;
    }

    dc.SelectObject(&m_pen);
    for (int y = 0; y < 30; y += 2) {
        dc.MoveTo(0, y);
        dc.LineTo(40, y);
    }
    EXPECT_EQ(RunLengths(img, 7, true, kInk), std::vector<int>(15, 1));
    QImage cols = Bitmap(m_img.size(), 1.5, Qt::white);
    dc.Attach(&cols);
    for (int x = 1; x < 40; x += 3) {
        dc.MoveTo(x, 0);
        dc.LineTo(x, 30);
    }
    EXPECT_EQ(RunLengths(cols, 40, false, kInk), std::vector<int>(13, 1));
    QImage box = Bitmap(m_img.size(), 1.5, Qt::white);
    dc.Attach(&box);
    dc.Rectangle(3, 4, 10, 13);
    const QRect rc = dc.DeviceRect(3, 4, 7, 9);
    EXPECT_EQ(RunLengths(box, rc.center().y(), false, kInk), (std::vector<int>{1, 1}));
    EXPECT_EQ(RunLengths(box, rc.center().x(), true, kInk), (std::vector<int>{1, 1}));
    EXPECT_EQ(RunLengths(box, rc.top(), false, kInk), std::vector<int>{rc.width()});
}

TEST_F(DCTest, LinesAreTheWholeDevicePixelsOfTheirRatio) {
    for (double dRatio : {1.25, 1.5, 1.75, 2.0, 2.5, 3.0}) {
        SCOPED_TRACE(dRatio);
        QImage img = Bitmap(m_img.size(), dRatio, Qt::white);
        CDC dc;
        dc.Attach(&img);
        dc.SelectObject(&m_pen);
        for (int y = 1; y < 30; y += 3) {
            dc.MoveTo(0, y);
            dc.LineTo(40, y);
        }
        const int nWidth = static_cast<int>(dRatio);
        EXPECT_EQ(RunLengths(img, img.width() / 2, true, kInk), std::vector<int>(10, nWidth));
        // The line starts where its logical row starts.
        EXPECT_EQ(img.pixel(0, dc.DeviceCoordinate(4)), PixelFromColour(kInk));
        EXPECT_NE(img.pixel(0, dc.DeviceCoordinate(4) - 1), PixelFromColour(kInk));
    }
}

// The bounds of the pixels that are neither of two colours.
QRect InkBounds(const QImage& img, COLORREF bg, COLORREF paper) {
    QRect rc;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QRgb px = img.pixel(x, y);
            if (px != PixelFromColour(bg) && px != PixelFromColour(paper)) {
                rc |= QRect(x, y, 1, 1);
            }
        }
    }
    return rc;
}

// Text keeps its logical box, drawn at device resolution rather than doubled.
TEST_F(DCTest, AtRatioTwoTextFillsItsDoubledBoxWithSharperGlyphs) {
    m_dc.SetBkColor(RGB(0, 0, 90));
    m_dc.SetTextColor(RGB(255, 255, 0));
    m_dc.TextOut(3, 4, "8 ms");
    QImage big = Bitmap(m_img.size(), 2.0, QColor(QRgb(PixelFromColour(kPaper))));
    CDC dc;
    dc.Attach(&big);
    dc.SetBkColor(RGB(0, 0, 90));
    dc.SetTextColor(RGB(255, 255, 0));
    EXPECT_EQ(dc.GetTextExtent("8 ms").cx, m_dc.GetTextExtent("8 ms").cx);
    dc.TextOut(3, 4, "8 ms");
    const CSize size = m_dc.GetTextExtent("8 ms");
    int nSplitBlocks = 0;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool bInBox = x >= 3 && x < 3 + size.cx && y >= 4 && y < 4 + size.cy;
            const QRgb aBlock[4] = {big.pixel(2 * x, 2 * y), big.pixel(2 * x + 1, 2 * y),
                                    big.pixel(2 * x, 2 * y + 1), big.pixel(2 * x + 1, 2 * y + 1)};
            for (QRgb px : aBlock) {
                ASSERT_EQ(px == PixelFromColour(kPaper), !bInBox) << x << "," << y;
            }
            nSplitBlocks += std::count(aBlock, aBlock + 4, aBlock[0]) != 4 ? 1 : 0;
        }
    }
    // A doubled picture has none: every logical pixel would be one colour.
    EXPECT_GT(nSplitBlocks, 10);
    // The glyphs are those of a font twice the size, where the small ones are.
    const QRect rcInk = InkBounds(m_img, RGB(0, 0, 90), kPaper);
    const QRect rcBigInk = InkBounds(big, RGB(0, 0, 90), kPaper);
    EXPECT_NEAR(rcBigInk.left(), 2 * rcInk.left(), 2);
    EXPECT_NEAR(rcBigInk.right(), 2 * rcInk.right() + 1, 2);
    EXPECT_NEAR(rcBigInk.top(), 2 * rcInk.top(), 2);
    EXPECT_NEAR(rcBigInk.bottom(), 2 * rcInk.bottom() + 1, 2);
}

TEST_F(DCTest, AWindowGetsTheBlockInDevicePixels) {
    CRecordingSurface surface;
    CWindowDC dcWindow(&surface);
    QImage big = Bitmap(m_img.size(), 1.5, Qt::white);
    CDC dc;
    dc.Attach(&big);
    dc.FillSolidRect(0, 0, 40, 30, RGB(4, 5, 6));
    ASSERT_TRUE(dcWindow.BitBlt(0, 0, 21, 11, &dc, 0, 0, SRCCOPY));
    EXPECT_EQ(surface.m_img.size(), QSize(32, 17)); // round(31.5) by round(16.5)
    EXPECT_EQ(surface.m_img.pixel(31, 16), PixelFromColour(RGB(4, 5, 6)));
}

TEST_F(DCTest, CopyFromTakesALogicalBlockInPlace) {
    QImage src = Bitmap(m_img.size(), 1.5, Qt::white);
    CDC dcSrc;
    dcSrc.Attach(&src);
    dcSrc.FillSolidRect(5, 5, 10, 10, RGB(7, 8, 9));
    QImage dst = Bitmap(m_img.size(), 1.5, Qt::black);
    CDC dc;
    dc.Attach(&dst);
    dc.CopyFrom(src, 0, 7, 40, 3);
    const QRect rc = dc.DeviceRect(0, 7, 40, 3);
    for (int y = 0; y < dst.height(); ++y) {
        for (int x = 0; x < dst.width(); ++x) {
            const QRgb expected = rc.contains(x, y) ? src.pixel(x, y) : qRgb(0, 0, 0);
            ASSERT_EQ(dst.pixel(x, y), expected) << x << "," << y;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
