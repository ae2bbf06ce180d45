#pragma once

#include <QFont>
#include <QRect>

// The dialog templates measure in dialog units of the 8-point dialog font: a
// horizontal unit is 1.5 pixels and a vertical unit 1.625 pixels. Conversions
// round to the nearest pixel, halves away from zero.
inline int DluToPxX(int nDlu) {
    return (nDlu * 6 + (nDlu >= 0 ? 2 : -2)) / 4;
}

inline int DluToPxY(int nDlu) {
    return (nDlu * 13 + (nDlu >= 0 ? 4 : -4)) / 8;
}

inline QRect DluToPx(int x, int y, int w, int h) {
    return QRect(DluToPxX(x), DluToPxY(y), DluToPxX(w), DluToPxY(h));
}

// The dialog font of the 8-point class: 9-pixel DejaVu Sans is the largest
// size at which the template's sizes hold every caption and every value.
inline QFont DialogFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(9);
    return font;
}
