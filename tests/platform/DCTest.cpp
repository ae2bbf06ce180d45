#include "platform/DC.h"
#include "platform/WindowDC.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr COLORREF kPaper = RGB(10, 20, 30);
constexpr COLORREF kInk = RGB(200, 100, 50);

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
// for neighbours in separate columns and for ones stacked in a column.
TEST_F(DCTest, RectanglesInABatchDrawLikeOneByOne) {
    CBrush brush(RGB(1, 2, 3));
    const std::vector<SRectangle> neighbours = {{-3, 5, 2, 20},   {2, 8, 3, 29},  {3, 12, 4, 35},
                                                {4, 3, 9, 9},     {9, 9, 9, 20},  {10, 15, 12, 16},
                                                {12, 20, 13, 18}, {13, 1, 45, 25}};
    const std::vector<SRectangle> stacked = {{5, 2, 9, 8}, {5, 10, 9, 14}, {6, 20, 8, 28}};
    for (const std::vector<SRectangle>& rects : {neighbours, stacked}) {
        QImage single(m_img.size(), QImage::Format_RGB32);
        single.fill(Qt::black);
        CDC dcSingle;
        dcSingle.Attach(&single);
        dcSingle.SelectObject(&m_pen);
        dcSingle.SelectObject(&brush);
        for (const SRectangle& rc : rects) {
            dcSingle.Rectangle(rc.l, rc.t, rc.r, rc.b);
        }
        QImage batch(m_img.size(), QImage::Format_RGB32);
        batch.fill(Qt::black);
        CDC dcBatch;
        dcBatch.Attach(&batch);
        dcBatch.SelectObject(&m_pen);
        dcBatch.SelectObject(&brush);
        dcBatch.Rectangles(rects.data(), static_cast<int>(rects.size()));
        EXPECT_EQ(batch, single);
        EXPECT_NE(batch.pixel(rects[1].l, rects[1].t), qRgb(0, 0, 0));
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

TEST_F(DCTest, TextIsWindows1252) {
    const QFontMetrics metrics(CDC::DefaultFont());
    EXPECT_EQ(m_dc.GetTextExtent("\xE1").cx, metrics.horizontalAdvance(QString(QChar(0xE1))));
    EXPECT_EQ(m_dc.GetTextExtent("\x80").cx, metrics.horizontalAdvance(QString(QChar(0x20AC))));
    // 0x85 is an ellipsis here, not the Latin-1 control character.
    EXPECT_EQ(m_dc.GetTextExtent("\x85").cx, metrics.horizontalAdvance(QString(QChar(0x2026))));
    EXPECT_GT(m_dc.GetTextExtent("\x85").cx, 5);
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

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
