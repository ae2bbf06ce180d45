#pragma once

#include <string>
#include <vector>

// A spectrum kept to compare the live one with: linear power by frequency,
// taken from a pass of the analyser or read from a saved file. It is held by
// frequency, not by bin, so that it can be laid onto the bins of any sample
// rate and transform size.
class CReferenceSpectrum {
public:
    struct SPoint {
        double dHz;
        double dPower; // linear, as the channels hold it
    };

    CReferenceSpectrum() = default;
    // Points in strictly increasing frequency, at least two; strSource says
    // where they came from.
    CReferenceSpectrum(std::vector<SPoint> points, std::string strSource);
    // Bins 0 to nBins - 1 of a pass, bin k at k * dBinWidth Hz.
    static CReferenceSpectrum FromBins(const double* pPower, int nBins, double dBinWidth,
                                       std::string strSource);

    bool IsEmpty() const { return m_points.empty(); }
    const std::vector<SPoint>& Points() const { return m_points; }
    const std::string& Source() const { return m_strSource; }

    // The power at bins 0 to nBins - 1 of a transform with dBinWidth Hz per
    // bin, interpolated in dB between the neighbouring frequencies; NaN where
    // the bin lies outside the reference's frequencies.
    void MapOntoBins(double dBinWidth, int nBins, std::vector<double>& adPower) const;

private:
    std::vector<SPoint> m_points;
    std::string m_strSource;
};
