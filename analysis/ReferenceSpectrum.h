#pragma once

#include <string>
#include <vector>

#include "analysis/PowerScale.h"

// A spectrum kept to compare the live one with, taken from a pass of the
// analyser or read from a saved file. It is held by frequency, not by bin,
// and in the level no run's settings change (a full-scale sine at a bin
// centre is 1, see SPowerScale), so that it can be laid onto the bins of any
// rate, size, window, length and "Pink 2 Flat".
class CReferenceSpectrum {
public:
    struct SPoint {
        double dHz;
        double dLevel; // power in the common level
    };

    CReferenceSpectrum() = default;
    // Points in strictly increasing frequency, at least two. dNoiseBandwidthHz
    // is the width over which the run they came from spread a sine's power
    // (its window's noise bandwidth); strSource says where they came from.
    CReferenceSpectrum(std::vector<SPoint> points, double dNoiseBandwidthHz, std::string strSource);
    // Bins 0 to nBins - 1 of a pass whose channel has the given scale, bin k
    // at k * dBinWidth Hz. A bin whose power the run cannot hold (bin 0 with
    // Pink 2 Flat) is left out.
    static CReferenceSpectrum FromBins(const double* pPower, int nBins, double dBinWidth,
                                       const SPowerScale& scale, std::string strSource);

    bool IsEmpty() const { return m_points.empty(); }
    const std::vector<SPoint>& Points() const { return m_points; }
    double NoiseBandwidthHz() const { return m_dNoiseBandwidthHz; }
    const std::string& Source() const { return m_strSource; }

    // The level at bins 0 to nBins - 1 of a transform with dBinWidth Hz per
    // bin; NaN where the bin's centre lies outside the reference's
    // frequencies. Where the reference's points are as far apart as the bins
    // or further, the level is interpolated in dB between the two around the
    // bin's centre. Where they are closer, the points over the bin's width
    // are combined (power mean), so that no narrow peak between bin centres
    // is missed; a component narrower than the bin, such as a tone, keeps its
    // own level rather than being spread over the whole bin.
    void MapOntoBins(double dBinWidth, int nBins, std::vector<double>& adLevel) const;
    // The same, in the power a channel of the given scale holds at those bins.
    void MapOntoRun(double dBinWidth, int nBins, const SPowerScale& scale,
                    std::vector<double>& adPower) const;

private:
    double Interpolated(std::size_t i, double dHz) const;
    double CellLow(std::size_t i) const;
    double CellHigh(std::size_t i) const;

    std::vector<SPoint> m_points;
    double m_dNoiseBandwidthHz = 0.0;
    std::string m_strSource;
};
