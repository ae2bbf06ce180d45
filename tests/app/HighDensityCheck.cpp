// Compares the program's picture at device pixel ratio 2 with its picture at
// ratio 1: twice the size, and the spectrum view's texts drawn at the screen's
// resolution rather than doubled.
//
//   check_high_density_screenshot <picture at ratio 1> <picture at ratio 2>
#include <QImage>
#include <QRect>

#include <cstdio>

namespace {

// The colour of the strips around the plot, on which its labels stand.
constexpr QRgb kMargin = 0xFF202020;

// Whether line i (a row, or a column) holds at least nMin pixels of the strips'
// colour.
bool HoldsMargin(const QImage& img, int i, bool bColumn, int nMin) {
    int n = 0;
    const int nEnd = bColumn ? img.height() : img.width();
    for (int j = 0; j < nEnd && n < nMin; ++j) {
        n += (bColumn ? img.pixel(i, j) : img.pixel(j, i)) == kMargin ? 1 : 0;
    }
    return n >= nMin;
}

// The view: from the first to the last row and column that hold a good many
// pixels of the strips' colour (the label strip runs down the view's left edge,
// the scale strip along its bottom), nMin of them at least.
QRect FindView(const QImage& img, int nMin) {
    QRect rc;
    for (int y = 0; y < img.height(); ++y) {
        rc |= HoldsMargin(img, y, false, nMin) ? QRect(0, y, 1, 1) : QRect();
    }
    int xFirst = -1;
    int xLast = -1;
    for (int x = 0; x < img.width(); ++x) {
        if (HoldsMargin(img, x, true, nMin)) {
            xFirst = xFirst < 0 ? x : xFirst;
            xLast = x;
        }
    }
    return QRect(QPoint(xFirst, rc.top()), QPoint(xLast, rc.bottom()));
}

// Blocks of 2 x 2 pixels, at even coordinates inside rc, that hold the strips'
// colour and another one: none where each logical pixel was simply doubled.
int SplitBlocks(const QImage& img, const QRect& rc) {
    int n = 0;
    for (int y = rc.top() & ~1; y + 1 <= rc.bottom(); y += 2) {
        for (int x = rc.left() & ~1; x + 1 <= rc.right(); x += 2) {
            const QRgb a[4] = {img.pixel(x, y), img.pixel(x + 1, y), img.pixel(x, y + 1),
                               img.pixel(x + 1, y + 1)};
            const bool bMargin =
                a[0] == kMargin || a[1] == kMargin || a[2] == kMargin || a[3] == kMargin;
            const bool bUniform = a[0] == a[1] && a[1] == a[2] && a[2] == a[3];
            n += bMargin && !bUniform ? 1 : 0;
        }
    }
    return n;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <ratio 1 picture> <ratio 2 picture>\n", argv[0]);
        return 2;
    }
    const QImage single =
        QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
    const QImage twice =
        QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGB32);
    if (single.isNull() || twice.isNull()) {
        std::fprintf(stderr, "cannot read the pictures\n");
        return 1;
    }
    std::printf("pictures %dx%d and %dx%d\n", single.width(), single.height(), twice.width(),
                twice.height());
    if (twice.size() != 2 * single.size()) {
        std::fprintf(stderr, "the ratio-2 picture is not twice the size\n");
        return 1;
    }
    const QRect rcView = FindView(twice, 24);
    const QRect rcSingleView = FindView(single, 12);
    std::printf("view at %d,%d %dx%d (ratio 1: %d,%d %dx%d)\n", rcView.x(), rcView.y(),
                rcView.width(), rcView.height(), rcSingleView.x(), rcSingleView.y(),
                rcSingleView.width(), rcSingleView.height());
    if (rcView.isEmpty() || rcView != QRect(2 * rcSingleView.topLeft(), 2 * rcSingleView.size())) {
        std::fprintf(stderr, "the view is not where the ratio-1 picture has it, doubled\n");
        return 1;
    }
    const int nSplit = SplitBlocks(twice, rcView);
    std::printf("%d blocks of 2x2 pixels on the strips' colour are not one colour\n", nSplit);
    if (nSplit == 0) {
        std::fprintf(stderr, "the view's texts are doubled pixels\n");
        return 1;
    }
    return 0;
}
