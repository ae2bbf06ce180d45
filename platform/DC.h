#pragma once

#include "platform/Brush.h"
#include "platform/GdiTypes.h"
#include "platform/Pen.h"
#include "platform/WindowSurface.h"

#include <QFont>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A device context in the manner of the classic Windows drawing interface,
// drawing into a 32-bit RGB image (a memory DC over a bitmap) or handing block
// copies to a window (see CWindowDC).
//
// Pixel rules: lines exclude their end point; Rectangle outlines columns l..r-1
// and rows t..b-1 in the pen and fills the inside with the brush; a solid fill
// leaves the background colour set to the fill colour; text stands with its
// top-left corner at the given point on an opaque box of the background colour.
// Texts are UTF-8: the program's own, and paths and names from the system.
//
// Axis-aligned lines, fills and rectangles are written straight into the scan
// lines. Text is rendered once per (text, colours) into a small cache of boxes
// that later calls copy, because a frame draws the same labels again and again.
//
// Coordinates are logical pixels. A bitmap with a device pixel ratio r gets
// round(x * r) device pixels left of logical x, so neighbouring fills tile
// without gap or overlap; every line and outline is floor(r) device pixels
// thick (at least one) and lies inside the pixels of its logical row or column.
// Text is rendered at device resolution in the same logical box; measurement
// stays logical. At ratio 1 all of this is the plain pixel grid.
//
// A DC is used by one thread at a time.
class CDC {
public:
    CDC();
    ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // A memory DC over pBitmap, which must stay alive while attached and must be
    // of QImage::Format_RGB32; it draws at the bitmap's device pixel ratio.
    void Attach(QImage* pBitmap);
    // A window DC: BitBlt into it presents the picture on the window.
    void Attach(IWindowSurface* pWindow);
    void Detach();
    bool IsAttached() const { return m_pImage != nullptr || m_pWindow != nullptr; }
    QImage* GetBitmap() const { return m_pImage; }
    double GetDevicePixelRatio() const { return m_dRatio; }
    // The device pixel where logical coordinate v begins.
    // Mapped coordinates stay well inside int, whatever the logical ones:
    // beyond this they are off every bitmap anyway.
    static constexpr double kFarDevice = 1 << 29;
    int DeviceCoordinate(int v) const {
        if (m_dRatio == 1.0) {
            return v;
        }
        return static_cast<int>(std::clamp(std::round(v * m_dRatio), -kFarDevice, kFarDevice));
    }
    // The device pixels of the logical rectangle (x, y, cx, cy).
    QRect DeviceRect(int x, int y, int cx, int cy) const;

    COLORREF SetBkColor(COLORREF cr);
    COLORREF GetBkColor() const { return m_crBack; }
    COLORREF SetTextColor(COLORREF cr);
    COLORREF GetTextColor() const { return m_crText; }

    void FillSolidRect(int x, int y, int cx, int cy, COLORREF cr);
    // FillSolidRect, except inside pHoles, rectangles that share no column and
    // that the caller covers next (with Rectangles): what is under them now
    // stays until then, and is not filled in vain.
    void FillSolidRectAround(int x, int y, int cx, int cy, COLORREF cr, const SRectangle* pHoles,
                             int nHoles);
    // The previous object is returned; callers here never put it back.
    const CPen* SelectObject(const CPen* pPen);
    const CBrush* SelectObject(const CBrush* pBrush);

    CPoint MoveTo(int x, int y);
    bool LineTo(int x, int y);
    bool Rectangle(int l, int t, int r, int b);
    // Each rectangle as Rectangle draws it, for rectangles that share no pixel
    // (so that their order does not matter), such as the bars of a spectrum;
    // fastest when they share no column either.
    void Rectangles(const SRectangle* pRects, int nCount);
    bool Ellipse(int l, int t, int r, int b);

    bool TextOut(int x, int y, const char* psz, int nCount);
    bool TextOut(int x, int y, std::string_view str) {
        return TextOut(x, y, str.data(), static_cast<int>(str.size()));
    }
    bool GetTextExtentPoint32A(const char* psz, int nCount, CSize* pSize);
    CSize GetTextExtent(std::string_view str);

    bool BitBlt(int x, int y, int cx, int cy, const CDC* pSrcDC, int xSrc, int ySrc,
                std::uint32_t dwRop);
    // Copies the logical block (x, y, cx, cy) of src, a bitmap of this DC's size
    // and ratio, to the same place here; src is only read.
    void CopyFrom(const QImage& src, int x, int y, int cx, int cy);

    // Copies the block (xSrc, ySrc, cx, cy) of src's device pixels, unscaled,
    // to the device pixels from (x, y) on; src is of QImage::Format_RGB32.
    void SetDIBitsToDevice(int x, int y, int cx, int cy, const QImage& src, int xSrc, int ySrc);

    // The device pixels written since the last ResetTouched: what a picture
    // changed over the one before it. One box bounds the fills, lines and
    // shapes; each block copy (a text) keeps its own, so that a few texts
    // far apart do not make one box of the whole picture.
    void ResetTouched();
    QRegion Touched() const;

    // The font every DC starts with: DejaVu Sans at 11 pixels.
    static QFont DefaultFont();

protected:
    IWindowSurface* m_pWindow = nullptr;

private:
    void SetDevicePixelRatio(double dRatio);
    SRectangle DeviceBox(const SRectangle& rc) const;
    void FillBox(int l, int t, int r, int b, std::uint32_t px);
    void WriteBox(int l, int t, int r, int b, std::uint32_t px);
    void Touch(int l, int t, int r, int b);
    void TouchBlock(const QRect& rc);
    void PlotLine(int x0, int y0, int x1, int y1, std::uint32_t px);
    void PlotSlantedLine(int x0, int y0, int x1, int y1, std::uint32_t px);
    void PlotDotByDot(int x0, int y0, int x1, int y1, std::uint32_t px);
    // A run of a slanted line: the column of a steep line or the row of a flat
    // one, and its first and last pixel along it.
    struct SRun {
        int nAcross;
        int nFirst;
        int nLast;
    };
    class SBresenham {
    public:
        SBresenham(int x0, int y0, int x1, int y1);
        bool IsSteep() const { return m_bSteep; }
        bool AtEnd() const { return m_nX == m_nX1 && m_nY == m_nY1; }
        SRun NextRun();

    private:
        void Step();

        const int m_nDx, m_nDy, m_nSx, m_nSy;
        const bool m_bSteep;
        int m_nErr, m_nX, m_nY;
        const int m_nX1, m_nY1;
    };
    void PlotDot(int x, int y, std::uint32_t px);
    // Device pixels across a line of the selected pen.
    int PenWidth() const;
    void RectangleRow(const SRectangle& rc, int y, std::uint32_t pen, std::uint32_t brush);
    bool BuildColumnTable(const SRectangle* pRects, int nCount);
    struct SBand;
    const SRectangle* DeviceBoxes(const SRectangle* pRects, int nCount);
    int MeasureBands(int x0, int x1, int nInset, std::uint32_t pen, std::uint32_t brush);
    void MeasureBand(int x0, int x1, int nInset, std::uint32_t pen, std::uint32_t brush,
                     SBand* pBand) const;
    void FillAroundBandRow(std::uint32_t* __restrict pRow, int y, int x0, int x1,
                           std::uint32_t px) const;
    void RectanglesBandRow(std::uint32_t* __restrict pRow, int y, int x0, int x1, std::uint32_t pen,
                           std::uint32_t brush) const;
    void PaintEllipse(QImage* pTarget, const QRect& rcOutline) const;
    void ScaleEllipse(int l, int t, int r, int b);
    const QImage& TextBox(std::string_view str);
    int TextWidth(std::string_view str);
    void CopyImage(const QImage& src, int xSrc, int ySrc, int cx, int cy, int x, int y);

    QImage* m_pImage = nullptr;
    std::uint32_t* m_pBits = nullptr;
    QRect m_rcTouched;                   // device pixels
    std::vector<QRect> m_aTouchedBlocks; // device pixels
    int m_nStride = 0;                   // pixels per scan line
    int m_nImageWidth = 0;
    int m_nImageHeight = 0;
    double m_dRatio = 1.0;
    int m_nLineWidth = 1; // device pixels of a line or an outline

    COLORREF m_crBack = RGB(255, 255, 255);
    COLORREF m_crText = RGB(0, 0, 0);
    const CPen* m_pPen = nullptr;
    const CBrush* m_pBrush = nullptr;
    CPen m_penDefault;
    CBrush m_brushDefault;
    CPoint m_ptCurrent;

    // Rectangles' table: per device column the rows top..bottom-1 it covers
    // and whether it is a left or right outline; m_aBoxes holds the batch in
    // device pixels when the ratio is not 1.
    std::vector<int> m_anColumnTop;
    std::vector<int> m_anColumnBottom;
    std::vector<int> m_anColumnOutline;
    std::vector<SRectangle> m_aBoxes;
    // Rectangles' bands of columns: the rows they cover (top..bottom-1) and
    // those where the band's row is the same all along (solidTop..solidBottom-1).
    static constexpr int kBandWidth = 32;
    // A band of columns: the rows its rectangles cover, and those in which
    // every column a rectangle takes is inside it, clear of its top and
    // bottom: there the band's row is anSolidRow in the runs of such columns
    // (the columns between them lie in no rectangle).
    struct SBand {
        int nTop;
        int nBottom;
        int nSolidTop;
        int nSolidBottom;
        int nRuns;
        std::uint8_t anRunFirst[kBandWidth / 2 + 1];
        std::uint8_t anRunEnd[kBandWidth / 2 + 1];
        std::uint32_t anSolidRow[kBandWidth];
    };
    std::vector<SBand> m_aBands;
    int m_nColumnsFirst = 0;
    int m_nColumnsEnd = 0;

    QFont m_font;
    int m_nAscent = 0;
    int m_nTextHeight = 0;
    std::unordered_map<std::string, int> m_mapWidth;
    std::unordered_map<std::string, QImage> m_mapTextBox;
};
