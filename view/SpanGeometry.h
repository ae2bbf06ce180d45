#pragma once

// Where the bins of the displayed span fall on the logarithmic x axis: bin b
// (whole or fractional) lies at x = trunc(dXScale * ln(b) + nXOff). Bin nBinLow
// falls at about x = 28 (the left margin), bin nBinMax at about the right edge.
struct SSpanGeometry {
    double dBinWidth; // Hz per bin
    int nBinLow;
    int nBinMax;
    double dXScale; // pixels per unit of natural logarithm
    int nXOff;

    // The span's edges rounded to bins and kept 2 <= low < max <= max(N/2, 6),
    // on a view nWidth pixels wide.
    static SSpanGeometry Of(int nSampleRate, int nFftSize, int nSpanLowHz, int nSpanHighHz,
                            int nWidth);
    // The frequency in whole Hz under column x.
    int HzAt(int x) const;
    // The (fractional) bin at logical x, and the x of (fractional) bin b,
    // unrounded.
    double BinAt(double x) const;
    double XOf(double dBin) const;

    bool operator==(const SSpanGeometry&) const = default;
};
