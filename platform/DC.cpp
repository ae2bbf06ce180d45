#include "platform/DC.h"

#include <QFontMetrics>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

QString FromUtf8(std::string_view str) {
    return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
}

// Cached text boxes are few per frame; this bounds the cache when texts keep
// changing (cursor and peak readouts).
constexpr std::size_t kMaxCachedTexts = 512;

std::string TextKey(std::string_view str, COLORREF crText, COLORREF crBack) {
    std::string key(str);
    key.append(reinterpret_cast<const char*>(&crText), sizeof crText);
    key.append(reinterpret_cast<const char*>(&crBack), sizeof crBack);
    return key;
}

// Fills n pixels with px, sixteen bytes at a time where it can: a plain loop of
// 32-bit stores is what the compiler makes of std::fill_n here, and fills are
// most of a frame's work.
void FillPixels(std::uint32_t* p, int n, std::uint32_t px) {
    const std::uint32_t block[4] = {px, px, px, px};
    for (; n >= 8; n -= 8, p += 8) {
        std::memcpy(p, block, sizeof block);
        std::memcpy(p + 4, block, sizeof block);
    }
    for (; n > 0; --n) {
        *p++ = px;
    }
}

// The per-pixel loops are compiled for AVX2 as well, and the loader picks that
// version where the processor has it (the program runs on any x86-64). The
// pickers run before a sanitizer's runtime has started, which they cannot do
// under it: sanitizer builds keep the one version.
#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define VEMRA_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define VEMRA_WIDE_VECTORS
#endif

} // namespace

QFont CDC::DefaultFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    return font;
}

CDC::CDC() : m_font(DefaultFont()) {
    m_penDefault.CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    m_brushDefault.CreateSolidBrush(RGB(255, 255, 255));
    m_pPen = &m_penDefault;
    m_pBrush = &m_brushDefault;
    QFontMetrics metrics(m_font);
    m_nAscent = metrics.ascent();
    m_nTextHeight = metrics.height();
}

CDC::~CDC() = default;

void CDC::Attach(QImage* pBitmap) {
    Detach();
    ResetTouched();
    if (pBitmap == nullptr || pBitmap->isNull()) {
        return;
    }
    SetDevicePixelRatio(pBitmap->devicePixelRatio());
    m_pImage = pBitmap;
    m_pBits = reinterpret_cast<std::uint32_t*>(pBitmap->bits());
    m_nStride = static_cast<int>(pBitmap->bytesPerLine() / 4);
    m_nImageWidth = pBitmap->width();
    m_nImageHeight = pBitmap->height();
}

void CDC::Attach(IWindowSurface* pWindow) {
    Detach();
    m_pWindow = pWindow;
}

void CDC::Detach() {
    m_pImage = nullptr;
    m_pWindow = nullptr;
    m_pBits = nullptr;
    m_nStride = m_nImageWidth = m_nImageHeight = 0;
}

// Text boxes are rendered for one ratio; the line width follows the ratio so
// that every line of a picture is equally thick and fits its logical pixel.
void CDC::SetDevicePixelRatio(double dRatio) {
    if (dRatio == m_dRatio) {
        return;
    }
    m_dRatio = dRatio;
    m_nLineWidth = std::max(1, static_cast<int>(std::floor(dRatio + 1e-6)));
    m_mapTextBox.clear();
}

QRect CDC::DeviceRect(int x, int y, int cx, int cy) const {
    const int l = DeviceCoordinate(x);
    const int t = DeviceCoordinate(y);
    return QRect(l, t, DeviceCoordinate(x + cx) - l, DeviceCoordinate(y + cy) - t);
}

SRectangle CDC::DeviceBox(const SRectangle& rc) const {
    return SRectangle{DeviceCoordinate(rc.l), DeviceCoordinate(rc.t), DeviceCoordinate(rc.r),
                      DeviceCoordinate(rc.b)};
}

COLORREF CDC::SetBkColor(COLORREF cr) {
    return std::exchange(m_crBack, cr);
}

COLORREF CDC::SetTextColor(COLORREF cr) {
    return std::exchange(m_crText, cr);
}

// --- Scan-line primitives, in device pixels, all clipped to the bitmap ---------

// Fills columns l..r-1 of rows t..b-1.
void CDC::FillBox(int l, int t, int r, int b, std::uint32_t px) {
    Touch(std::max(l, 0), std::max(t, 0), std::min(r, m_nImageWidth), std::min(b, m_nImageHeight));
    WriteBox(l, t, r, b, px);
}

// FillBox without recording what it touched.
void CDC::WriteBox(int l, int t, int r, int b, std::uint32_t px) {
    l = std::max(l, 0);
    t = std::max(t, 0);
    r = std::min(r, m_nImageWidth);
    b = std::min(b, m_nImageHeight);
    if (l >= r) {
        return;
    }
    std::uint32_t* pRow = m_pBits + static_cast<std::ptrdiff_t>(t) * m_nStride + l;
    // The narrow boxes of a line's steep runs are a pixel or two per row.
    if (r - l <= 2) {
        for (int y = t; y < b; ++y, pRow += m_nStride) {
            pRow[0] = px;
            pRow[r - l - 1] = px;
        }
        return;
    }
    for (int y = t; y < b; ++y, pRow += m_nStride) {
        FillPixels(pRow, r - l, px);
    }
}

// Columns l..r-1 of rows t..b-1, already clipped to the bitmap.
void CDC::Touch(int l, int t, int r, int b) {
    if (l < r && t < b) {
        m_rcTouched |= QRect(l, t, r - l, b - t);
    }
}

// Beyond this many, block copies count into the one box.
constexpr std::size_t kMaxTouchedBlocks = 16;

void CDC::TouchBlock(const QRect& rc) {
    if (m_aTouchedBlocks.size() < kMaxTouchedBlocks) {
        m_aTouchedBlocks.push_back(rc);
    } else {
        m_rcTouched |= rc;
    }
}

void CDC::ResetTouched() {
    m_rcTouched = QRect();
    m_aTouchedBlocks.clear();
}

QRegion CDC::Touched() const {
    QRegion rgn(m_rcTouched);
    for (const QRect& rc : m_aTouchedBlocks) {
        rgn |= rc;
    }
    return rgn;
}

int CDC::PenWidth() const {
    if (m_pPen != nullptr && m_pPen->CoversLogicalPixels()) {
        return std::max(1, static_cast<int>(std::ceil(m_dRatio - 1e-6)));
    }
    return m_nLineWidth;
}

// The pen's square at logical pixel (x, y).
void CDC::PlotDot(int x, int y, std::uint32_t px) {
    const int l = DeviceCoordinate(x);
    const int t = DeviceCoordinate(y);
    const int w = PenWidth();
    FillBox(l, t, l + w, t + w, px);
}

// Every logical pixel from (x0, y0) towards (x1, y1), the end point excluded.
// An axis-aligned line covers the whole device pixels of its logical ones
// along its length and the line width across it.
void CDC::PlotLine(int x0, int y0, int x1, int y1, std::uint32_t px) {
    const int w = PenWidth();
    if (y0 == y1) {
        const int l = DeviceCoordinate(x0 < x1 ? x0 : x1 + 1);
        const int r = DeviceCoordinate(x0 < x1 ? x1 : x0 + 1);
        const int t = DeviceCoordinate(y0);
        FillBox(l, t, r, t + w, px);
        return;
    }
    if (x0 == x1) {
        const int t = DeviceCoordinate(y0 < y1 ? y0 : y1 + 1);
        const int b = DeviceCoordinate(y0 < y1 ? y1 : y0 + 1);
        const int l = DeviceCoordinate(x0);
        FillBox(l, t, l + w, b, px);
        return;
    }
    PlotSlantedLine(x0, y0, x1, y1, px);
}

// Bresenham's pixels, each the pen's square. Where the squares of neighbouring
// logical pixels meet (the pen is at least as wide as the step between their
// device coordinates), the pixels of one column of a steep line, or of one row
// of a flat one, are one box: the same pixels, a run at a time.
void CDC::PlotSlantedLine(int x0, int y0, int x1, int y1, std::uint32_t px) {
    const int w = PenWidth();
    if (std::ceil(m_dRatio - 1e-6) > w) {
        PlotDotByDot(x0, y0, x1, y1, px);
        return;
    }
    // The line's box is touched once; its runs lie inside it.
    Touch(std::max(DeviceCoordinate(std::min(x0, x1)), 0),
          std::max(DeviceCoordinate(std::min(y0, y1)), 0),
          std::min(DeviceCoordinate(std::max(x0, x1)) + w, m_nImageWidth),
          std::min(DeviceCoordinate(std::max(y0, y1)) + w, m_nImageHeight));
    SBresenham line(x0, y0, x1, y1);
    const bool bSteep = line.IsSteep();
    while (!line.AtEnd()) {
        const auto [nAcross, nFirst, nLast] = line.NextRun();
        const int c = DeviceCoordinate(nAcross);
        const int a = DeviceCoordinate(std::min(nFirst, nLast));
        const int b = DeviceCoordinate(std::max(nFirst, nLast)) + w;
        if (bSteep) {
            WriteBox(c, a, c + w, b, px);
        } else {
            WriteBox(a, c, b, c + w, px);
        }
    }
}

// Every pixel of the line as the pen's square, for ratios at which the
// squares of neighbouring pixels leave gaps between them.
void CDC::PlotDotByDot(int x0, int y0, int x1, int y1, std::uint32_t px) {
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    int x = x0;
    int y = y0;
    while (x != x1 || y != y1) {
        PlotDot(x, y, px);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

// Bresenham's walk from (x0, y0) to (x1, y1), the end point excluded, a run
// at a time: a column of a steep line, a row of a flat one. Within a run only
// the one coordinate steps and the error moves by the same amount each time,
// so where the run ends follows from the error at its start; the step that
// leaves it is the walk's own.
CDC::SBresenham::SBresenham(int x0, int y0, int x1, int y1)
    : m_nDx(std::abs(x1 - x0)), m_nDy(-std::abs(y1 - y0)), m_nSx(x0 < x1 ? 1 : -1),
      m_nSy(y0 < y1 ? 1 : -1), m_bSteep(-m_nDy > m_nDx), m_nErr(m_nDx + m_nDy), m_nX(x0), m_nY(y0),
      m_nX1(x1), m_nY1(y1) {}

CDC::SRun CDC::SBresenham::NextRun() {
    if (m_bSteep) {
        const int nFirst = m_nY;
        if (m_nX == m_nX1) {
            m_nY = m_nY1; // the last column goes up to the end point
            return {m_nX, nFirst, m_nY1 - m_nSy};
        }
        // y alone steps while 2 err < dy, each step adding dx to the error.
        if (2 * m_nErr < m_nDy) {
            const int nSteps = (m_nDy - 2 * m_nErr + 2 * m_nDx - 1) / (2 * m_nDx);
            m_nErr += nSteps * m_nDx;
            m_nY += nSteps * m_nSy;
        }
        const SRun run{m_nX, nFirst, m_nY};
        Step();
        return run;
    }
    const int nFirst = m_nX;
    if (m_nY == m_nY1) {
        m_nX = m_nX1; // the last row goes up to the end point
        return {m_nY, nFirst, m_nX1 - m_nSx};
    }
    // x alone steps while 2 err > dx, each step adding dy to the error.
    if (2 * m_nErr > m_nDx) {
        const int nSteps = (2 * m_nErr - m_nDx - 2 * m_nDy - 1) / (-2 * m_nDy);
        m_nErr += nSteps * m_nDy;
        m_nX += nSteps * m_nSx;
    }
    const SRun run{m_nY, nFirst, m_nX};
    Step();
    return run;
}

void CDC::SBresenham::Step() {
    const int e2 = 2 * m_nErr;
    if (e2 >= m_nDy) {
        m_nErr += m_nDy;
        m_nX += m_nSx;
    }
    if (e2 <= m_nDx) {
        m_nErr += m_nDx;
        m_nY += m_nSy;
    }
}

// --- Drawing operations -------------------------------------------------------

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF cr) {
    m_crBack = cr;
    if (m_pBits != nullptr && cx > 0 && cy > 0) {
        const SRectangle box = DeviceBox(SRectangle{x, y, x + cx, y + cy});
        FillBox(box.l, box.t, box.r, box.b, PixelFromColour(cr));
    }
}

const CPen* CDC::SelectObject(const CPen* pPen) {
    if (pPen == nullptr || pPen->GetSafeHandle() == nullptr) {
        return nullptr;
    }
    return std::exchange(m_pPen, pPen);
}

const CBrush* CDC::SelectObject(const CBrush* pBrush) {
    if (pBrush == nullptr || pBrush->GetSafeHandle() == nullptr) {
        return nullptr;
    }
    return std::exchange(m_pBrush, pBrush);
}

CPoint CDC::MoveTo(int x, int y) {
    return std::exchange(m_ptCurrent, CPoint{x, y});
}

bool CDC::LineTo(int x, int y) {
    if (m_pBits != nullptr) {
        PlotLine(m_ptCurrent.x, m_ptCurrent.y, x, y, PixelFromColour(m_pPen->GetColour()));
    }
    m_ptCurrent = CPoint{x, y};
    return true;
}

// One scan line of a rectangle's outline and inside, clipped to the bitmap; rc
// is in device pixels, its outline the line width thick inside it.
void CDC::RectangleRow(const SRectangle& rc, int y, std::uint32_t pen, std::uint32_t brush) {
    const int x0 = std::max(rc.l, 0);
    const int x1 = std::min(rc.r, m_nImageWidth);
    if (x0 >= x1) {
        return;
    }
    std::uint32_t* pRow = m_pBits + static_cast<std::ptrdiff_t>(y) * m_nStride;
    if (y < rc.t + m_nLineWidth || y >= rc.b - m_nLineWidth) {
        FillPixels(pRow + x0, x1 - x0, pen);
        return;
    }
    const int nInsideLeft = std::clamp(rc.l + m_nLineWidth, x0, x1);
    const int nInsideRight = std::clamp(rc.r - m_nLineWidth, nInsideLeft, x1);
    FillPixels(pRow + x0, nInsideLeft - x0, pen);
    FillPixels(pRow + nInsideLeft, nInsideRight - nInsideLeft, brush);
    FillPixels(pRow + nInsideRight, x1 - nInsideRight, pen);
}

bool CDC::Rectangle(int l, int t, int r, int b) {
    if (r <= l || b <= t) {
        return false;
    }
    if (m_pBits != nullptr) {
        const SRectangle rc{l, t, r, b};
        Rectangles(&rc, 1);
    }
    return true;
}

// Rectangles that share no column are first entered into a table of columns
// (top, bottom, outline or inside) and then written a scan line at a time over
// bands of columns. A frame's many narrow bars, drawn one after another, would
// be written as columns instead, a scan line apart per pixel.
void CDC::Rectangles(const SRectangle* pRects, int nCount) {
    if (m_pBits == nullptr || nCount <= 0) {
        return;
    }
    const std::uint32_t pen = PixelFromColour(m_pPen->GetColour());
    const std::uint32_t brush = PixelFromColour(m_pBrush->GetColour());
    const SRectangle* pBoxes = DeviceBoxes(pRects, nCount);
    if (!BuildColumnTable(pBoxes, nCount)) {
        for (int i = 0; i < nCount; ++i) {
            const SRectangle& rc = pBoxes[i];
            Touch(std::max(rc.l, 0), std::max(rc.t, 0), std::min(rc.r, m_nImageWidth),
                  std::min(rc.b, m_nImageHeight));
            for (int y = std::max(rc.t, 0); y < std::min(rc.b, m_nImageHeight); ++y) {
                RectangleRow(rc, y, pen, brush);
            }
        }
        return;
    }
    // The columns are taken in bands, each written only in the rows from its
    // highest top to its lowest bottom, so that narrow bands waste few rows
    // over a ragged spectrum; 32 columns still fill whole vectors. Below its
    // lowest top a band's row repeats and is copied. The rows go down the
    // picture one scan line at a time: a band's rows taken one after another
    // lie a scan line apart each, which the memory system serves far more
    // slowly than neighbouring bands of one row.
    const int nBands = MeasureBands(m_nColumnsFirst, m_nColumnsEnd, m_nLineWidth, pen, brush);
    int nTopAll = m_nImageHeight;
    int nBottomAll = 0;
    for (const SBand& band : m_aBands) {
        nTopAll = std::min(nTopAll, band.nTop);
        nBottomAll = std::max(nBottomAll, band.nBottom);
    }
    Touch(m_nColumnsFirst, nTopAll, m_nColumnsEnd, nBottomAll);
    for (int y = nTopAll; y < nBottomAll; ++y) {
        std::uint32_t* pRow = m_pBits + static_cast<std::ptrdiff_t>(y) * m_nStride;
        for (int i = 0; i < nBands; ++i) {
            const SBand& band = m_aBands[static_cast<std::size_t>(i)];
            const int xBand = m_nColumnsFirst + i * kBandWidth;
            const int xEnd = std::min(xBand + kBandWidth, m_nColumnsEnd);
            if (y >= band.nSolidTop && y < band.nSolidBottom) {
                for (int nRun = 0; nRun < band.nRuns; ++nRun) {
                    const int a = band.anRunFirst[nRun];
                    std::memcpy(pRow + xBand + a, band.anSolidRow + a,
                                static_cast<std::size_t>(band.anRunEnd[nRun] - a) *
                                    sizeof(std::uint32_t));
                }
            } else if (y >= band.nTop && y < band.nBottom) {
                RectanglesBandRow(pRow, y, xBand, xEnd, pen, brush);
            }
        }
    }
}

// Measures the bands of columns x0..x1-1 into m_aBands; returns their number.
int CDC::MeasureBands(int x0, int x1, int nInset, std::uint32_t pen, std::uint32_t brush) {
    const int nBands = std::max((x1 - x0 + kBandWidth - 1) / kBandWidth, 0);
    m_aBands.resize(static_cast<std::size_t>(nBands));
    for (int i = 0; i < nBands; ++i) {
        const int xBand = x0 + i * kBandWidth;
        MeasureBand(xBand, std::min(xBand + kBandWidth, x1), nInset, pen, brush,
                    &m_aBands[static_cast<std::size_t>(i)]);
    }
    return nBands;
}

// The rows that the columns x0..x1-1 of the table cover at all, and those in
// which every column a rectangle takes is inside it, nInset rows clear of its
// top and bottom (the outlines): there the band's row is the same from line to
// line in the runs of those columns, and the others lie in no rectangle. Bars
// one pixel apart so keep their rows solid.
void CDC::MeasureBand(int x0, int x1, int nInset, std::uint32_t pen, std::uint32_t brush,
                      SBand* pBand) const {
    int nTop = m_nImageHeight;
    int nBottom = 0;
    int nSolidTop = 0;
    int nSolidBottom = m_nImageHeight;
    pBand->nRuns = 0;
    bool bInRun = false;
    for (int x = x0; x < x1; ++x) {
        const int t = m_anColumnTop[x];
        const int b = m_anColumnBottom[x];
        const bool bCovered = b > t;
        if (bCovered) {
            nTop = std::min(nTop, t);
            nBottom = std::max(nBottom, b);
            nSolidTop = std::max(nSolidTop, t + nInset);
            nSolidBottom = std::min(nSolidBottom, b - nInset);
            if (!bInRun) {
                pBand->anRunFirst[pBand->nRuns] = static_cast<std::uint8_t>(x - x0);
            }
        } else if (bInRun) {
            pBand->anRunEnd[pBand->nRuns++] = static_cast<std::uint8_t>(x - x0);
        }
        bInRun = bCovered;
        pBand->anSolidRow[x - x0] = m_anColumnOutline[x] != 0 ? pen : brush;
    }
    if (bInRun) {
        pBand->anRunEnd[pBand->nRuns++] = static_cast<std::uint8_t>(x1 - x0);
    }
    if (pBand->nRuns == 0) {
        nSolidTop = m_nImageHeight;
        nSolidBottom = 0;
    }
    pBand->nTop = std::max(nTop, 0);
    pBand->nBottom = std::min(nBottom, m_nImageHeight);
    pBand->nSolidTop = std::max(nSolidTop, 0);
    pBand->nSolidBottom = std::min(nSolidBottom, m_nImageHeight);
}

// Row y of the table's columns x0..x1-1: the pixels inside a rectangle get its
// outline or its inside colour, the others stay. Without branches, so that the
// ragged tops of neighbouring bars cost no mispredictions and the loop can be
// vectorised.
VEMRA_WIDE_VECTORS void CDC::RectanglesBandRow(std::uint32_t* __restrict pRow, int y, int x0,
                                               int x1, std::uint32_t pen,
                                               std::uint32_t brush) const {
    const int nLineWidth = m_nLineWidth;
    const int* __restrict pTop = m_anColumnTop.data();
    const int* __restrict pBottom = m_anColumnBottom.data();
    const int* __restrict pOutline = m_anColumnOutline.data();
#pragma GCC ivdep
    for (int x = x0; x < x1; ++x) {
        const int nInside = (y >= pTop[x]) & (y < pBottom[x]);
        const int nEdge = pOutline[x] | (y < pTop[x] + nLineWidth) | (y >= pBottom[x] - nLineWidth);
        const std::uint32_t colour = nEdge != 0 ? pen : brush;
        pRow[x] = nInside != 0 ? colour : pRow[x];
    }
}

// The batch in device pixels.
const SRectangle* CDC::DeviceBoxes(const SRectangle* pRects, int nCount) {
    if (m_dRatio == 1.0) {
        return pRects;
    }
    m_aBoxes.resize(static_cast<std::size_t>(nCount));
    std::transform(pRects, pRects + nCount, m_aBoxes.begin(),
                   [this](const SRectangle& rc) { return DeviceBox(rc); });
    return m_aBoxes.data();
}

void CDC::FillSolidRectAround(int x, int y, int cx, int cy, COLORREF cr, const SRectangle* pHoles,
                              int nHoles) {
    m_crBack = cr;
    if (m_pBits == nullptr || cx <= 0 || cy <= 0) {
        return;
    }
    const SRectangle rc = DeviceBox(SRectangle{x, y, x + cx, y + cy});
    const int l = std::max(rc.l, 0);
    const int t = std::max(rc.t, 0);
    const int r = std::min(rc.r, m_nImageWidth);
    const int b = std::min(rc.b, m_nImageHeight);
    const std::uint32_t px = PixelFromColour(cr);
    if (nHoles <= 0 || !BuildColumnTable(DeviceBoxes(pHoles, nHoles), nHoles)) {
        FillBox(l, t, r, b, px);
        return;
    }
    // In bands of columns as Rectangles goes, leaving out the rows where every
    // column of a band lies in a hole.
    Touch(l, t, r, b);
    const int nBands = MeasureBands(l, r, 0, px, px);
    for (int yRow = t; yRow < b; ++yRow) {
        std::uint32_t* pRow = m_pBits + static_cast<std::ptrdiff_t>(yRow) * m_nStride;
        for (int i = 0; i < nBands; ++i) {
            const SBand& band = m_aBands[static_cast<std::size_t>(i)];
            const int xBand = l + i * kBandWidth;
            const int xEnd = std::min(xBand + kBandWidth, r);
            if (yRow < band.nTop || yRow >= band.nBottom) {
                FillPixels(pRow + xBand, xEnd - xBand, px);
            } else if (yRow < band.nSolidTop || yRow >= band.nSolidBottom) {
                FillAroundBandRow(pRow, yRow, xBand, xEnd, px);
            } else {
                // Only the columns between the holes' runs.
                int a = 0;
                for (int nRun = 0; nRun < band.nRuns; ++nRun) {
                    FillPixels(pRow + xBand + a, band.anRunFirst[nRun] - a, px);
                    a = band.anRunEnd[nRun];
                }
                FillPixels(pRow + xBand + a, xEnd - xBand - a, px);
            }
        }
    }
}

// Row y of the table's columns x0..x1-1: the pixels outside the holes get px.
VEMRA_WIDE_VECTORS void CDC::FillAroundBandRow(std::uint32_t* __restrict pRow, int y, int x0,
                                               int x1, std::uint32_t px) const {
    const int* __restrict pTop = m_anColumnTop.data();
    const int* __restrict pBottom = m_anColumnBottom.data();
#pragma GCC ivdep
    for (int x = x0; x < x1; ++x) {
        const int nInside = (y >= pTop[x]) & (y < pBottom[x]);
        pRow[x] = nInside != 0 ? pRow[x] : px;
    }
}

// Fills the column table for Rectangles from boxes in device pixels; false
// when two of them share a column (they are then drawn one by one).
bool CDC::BuildColumnTable(const SRectangle* pRects, int nCount) {
    const auto nWidth = static_cast<std::size_t>(m_nImageWidth);
    m_anColumnTop.assign(nWidth, 0);
    m_anColumnBottom.assign(nWidth, 0);
    m_anColumnOutline.assign(nWidth, 0);
    m_nColumnsFirst = m_nImageWidth;
    m_nColumnsEnd = 0;
    for (int i = 0; i < nCount; ++i) {
        const SRectangle& rc = pRects[i];
        if (rc.r <= rc.l || rc.b <= rc.t) {
            continue;
        }
        const int x0 = std::max(rc.l, 0);
        const int x1 = std::min(rc.r, m_nImageWidth);
        for (int x = x0; x < x1; ++x) {
            if (m_anColumnBottom[x] > m_anColumnTop[x]) {
                return false;
            }
            m_anColumnTop[x] = rc.t;
            m_anColumnBottom[x] = rc.b;
            m_anColumnOutline[x] = (x < rc.l + m_nLineWidth || x >= rc.r - m_nLineWidth) ? 1 : 0;
        }
        m_nColumnsFirst = std::min(m_nColumnsFirst, x0);
        m_nColumnsEnd = std::max(m_nColumnsEnd, x1);
    }
    return true;
}

bool CDC::Ellipse(int l, int t, int r, int b) {
    if (r <= l || b <= t) {
        return false;
    }
    if (m_pImage == nullptr) {
        return true;
    }
    if (m_dRatio == 1.0) {
        Touch(std::max(l, 0), std::max(t, 0), std::min(r, m_nImageWidth),
              std::min(b, m_nImageHeight));
        PaintEllipse(m_pImage, QRect(l, t, r - l - 1, b - t - 1));
    } else {
        ScaleEllipse(l, t, r, b);
    }
    return true;
}

// An aliased one-pixel outline of QRect(x, y, w, h) covers x..x+w.
void CDC::PaintEllipse(QImage* pTarget, const QRect& rcOutline) const {
    QPainter painter(pTarget);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(QRgb(PixelFromColour(m_pPen->GetColour()))));
    painter.setBrush(QColor(QRgb(PixelFromColour(m_pBrush->GetColour()))));
    painter.drawEllipse(rcOutline);
}

// The ellipse of the logical grid, each of its pixels filling its device
// pixels, so that the outline is as thick as the lines around it.
void CDC::ScaleEllipse(int l, int t, int r, int b) {
    QImage mask(r - l, b - t, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    PaintEllipse(&mask, QRect(0, 0, r - l - 1, b - t - 1));
    for (int y = 0; y < mask.height(); ++y) {
        const auto* pRow = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < mask.width(); ++x) {
            if (qAlpha(pRow[x]) != 0) {
                const SRectangle box = DeviceBox(SRectangle{l + x, t + y, l + x + 1, t + y + 1});
                FillBox(box.l, box.t, box.r, box.b, pRow[x] | 0xFF000000u);
            }
        }
    }
}

// --- Text ---------------------------------------------------------------------

int CDC::TextWidth(std::string_view str) {
    auto it = m_mapWidth.find(std::string(str));
    if (it != m_mapWidth.end()) {
        return it->second;
    }
    if (m_mapWidth.size() >= kMaxCachedTexts) {
        m_mapWidth.clear();
    }
    const int w = QFontMetrics(m_font).horizontalAdvance(FromUtf8(str));
    m_mapWidth.emplace(std::string(str), w);
    return w;
}

const QImage& CDC::TextBox(std::string_view str) {
    std::string key = TextKey(str, m_crText, m_crBack);
    auto it = m_mapTextBox.find(key);
    if (it != m_mapTextBox.end()) {
        return it->second;
    }
    if (m_mapTextBox.size() >= kMaxCachedTexts) {
        m_mapTextBox.clear();
    }
    // At a device pixel ratio the painter renders the font at that many times
    // its pixel size; the box covers every device pixel the logical box maps to.
    const int nWidth = std::max(TextWidth(str), 1);
    QImage box(static_cast<int>(std::ceil(nWidth * m_dRatio)),
               static_cast<int>(std::ceil(m_nTextHeight * m_dRatio)), QImage::Format_RGB32);
    box.setDevicePixelRatio(m_dRatio);
    box.fill(QColor(QRgb(PixelFromColour(m_crBack))));
    {
        QPainter painter(&box);
        painter.setFont(m_font);
        painter.setPen(QColor(QRgb(PixelFromColour(m_crText))));
        painter.drawText(QPoint(0, m_nAscent), FromUtf8(str));
    }
    return m_mapTextBox.emplace(std::move(key), std::move(box)).first->second;
}

bool CDC::TextOut(int x, int y, const char* psz, int nCount) {
    if (psz == nullptr || nCount <= 0) {
        return true;
    }
    if (m_pBits == nullptr) {
        return false;
    }
    const std::string_view str(psz, static_cast<std::size_t>(nCount));
    const QImage& box = TextBox(str);
    const QRect rcDevice = DeviceRect(x, y, TextWidth(str), m_nTextHeight);
    CopyImage(box, 0, 0, rcDevice.width(), rcDevice.height(), rcDevice.x(), rcDevice.y());
    return true;
}

bool CDC::GetTextExtentPoint32A(const char* psz, int nCount, CSize* pSize) {
    if (pSize == nullptr) {
        return false;
    }
    *pSize = GetTextExtent(
        std::string_view(psz != nullptr ? psz : "", psz != nullptr && nCount > 0 ? nCount : 0));
    return true;
}

CSize CDC::GetTextExtent(std::string_view str) {
    return CSize{TextWidth(str), m_nTextHeight};
}

// --- Block copies -------------------------------------------------------------

// Copies the cx by cy block at (xSrc, ySrc) of src to (x, y), clipped to both;
// all in device pixels.
void CDC::CopyImage(const QImage& src, int xSrc, int ySrc, int cx, int cy, int x, int y) {
    if (xSrc < 0) {
        cx += xSrc;
        x -= xSrc;
        xSrc = 0;
    }
    if (ySrc < 0) {
        cy += ySrc;
        y -= ySrc;
        ySrc = 0;
    }
    if (x < 0) {
        cx += x;
        xSrc -= x;
        x = 0;
    }
    if (y < 0) {
        cy += y;
        ySrc -= y;
        y = 0;
    }
    cx = std::min({cx, src.width() - xSrc, m_nImageWidth - x});
    cy = std::min({cy, src.height() - ySrc, m_nImageHeight - y});
    if (cx <= 0 || cy <= 0) {
        return;
    }
    TouchBlock(QRect(x, y, cx, cy));
    for (int row = 0; row < cy; ++row) {
        const auto* pSrc = reinterpret_cast<const std::uint32_t*>(src.constScanLine(ySrc + row));
        std::memcpy(m_pBits + static_cast<std::ptrdiff_t>(y + row) * m_nStride + x, pSrc + xSrc,
                    static_cast<std::size_t>(cx) * 4);
    }
}

bool CDC::BitBlt(int x, int y, int cx, int cy, const CDC* pSrcDC, int xSrc, int ySrc,
                 std::uint32_t dwRop) {
    if (dwRop != SRCCOPY || pSrcDC == nullptr || pSrcDC->m_pImage == nullptr || cx <= 0 ||
        cy <= 0) {
        return false;
    }
    // A window takes the block in the source's device pixels.
    if (m_pWindow != nullptr) {
        const QRect rcSource = pSrcDC->DeviceRect(xSrc, ySrc, cx, cy);
        m_pWindow->Present(*pSrcDC->m_pImage, rcSource,
                           QPoint(pSrcDC->DeviceCoordinate(x), pSrcDC->DeviceCoordinate(y)));
        return true;
    }
    if (m_pBits == nullptr) {
        return false;
    }
    const QRect rcDest = DeviceRect(x, y, cx, cy);
    CopyImage(*pSrcDC->m_pImage, pSrcDC->DeviceCoordinate(xSrc), pSrcDC->DeviceCoordinate(ySrc),
              rcDest.width(), rcDest.height(), rcDest.x(), rcDest.y());
    return true;
}

void CDC::SetDIBitsToDevice(int x, int y, int cx, int cy, const QImage& src, int xSrc, int ySrc) {
    if (m_pBits == nullptr || cx <= 0 || cy <= 0) {
        return;
    }
    CopyImage(src, xSrc, ySrc, cx, cy, x, y);
}

void CDC::CopyFrom(const QImage& src, int x, int y, int cx, int cy) {
    if (m_pBits == nullptr || cx <= 0 || cy <= 0) {
        return;
    }
    const QRect rc = DeviceRect(x, y, cx, cy);
    CopyImage(src, rc.x(), rc.y(), rc.width(), rc.height(), rc.x(), rc.y());
}
