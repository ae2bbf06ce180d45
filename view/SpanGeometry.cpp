#include "view/SpanGeometry.h"

#include "analysis/BinWidth.h"

#include <algorithm>
#include <cmath>

SSpanGeometry SSpanGeometry::Of(int nSampleRate, int nFftSize, int nSpanLowHz, int nSpanHighHz,
                                int nWidth) {
    SSpanGeometry geo{};
    geo.dBinWidth = BinWidthHz(nSampleRate, nFftSize);
    int nBinMax = static_cast<int>(nSpanHighHz / geo.dBinWidth + 0.5);
    if (nBinMax >= nFftSize / 2) {
        nBinMax = nFftSize / 2;
    }
    if (nBinMax <= 6) {
        nBinMax = 6;
    }
    int nBinLow = static_cast<int>(nSpanLowHz / geo.dBinWidth + 0.5);
    if (nBinLow >= nBinMax) {
        nBinLow = nBinMax - 2;
    }
    if (nBinLow <= 1) {
        nBinLow = 2;
    }
    geo.nBinLow = nBinLow;
    geo.nBinMax = nBinMax;
    geo.dXScale = (nWidth - 28) / std::log(static_cast<double>(nBinMax) / nBinLow);
    geo.nXOff = static_cast<int>(28 - geo.dXScale * std::log(static_cast<double>(nBinLow)));
    return geo;
}

// Computed as the pointer's column shifted by the low edge's offset from the
// margin, which is the same number as from the origin.
int SSpanGeometry::HzAt(int x) const {
    const int e = x + static_cast<int>(dXScale * std::log(static_cast<double>(nBinLow)) - 28);
    const double dHz = dBinWidth * std::exp(e / dXScale);
    return static_cast<int>(std::clamp(dHz, 0.0, 1.0e9));
}

double SSpanGeometry::BinAt(double x) const {
    return std::exp((x - nXOff) / dXScale);
}

double SSpanGeometry::XOf(double dBin) const {
    return nXOff + dXScale * std::log(dBin);
}
