#pragma once

#include <string>
#include <utility>
#include <vector>

// One octave or fractional-octave band: its exact centre and edges, and the
// frequency it is named by.
struct SOctaveBand {
    double dCentreHz = 0.0;
    double dLowHz = 0.0;
    double dHighHz = 0.0;
    double dNominalHz = 0.0;
    std::string strNominal; // as a label reads it: "31.5", "1k", "1.25k"
};

// Octave and fractional-octave bands in base 10, with G = 10^(3/10) and the
// reference 1000 Hz: exact centres 1000 G^(x/b) for odd b and
// 1000 G^((2x+1)/(2b)) for even b, edges at the centre times G^(-+1/(2b)).
// For 1/1 and 1/3 octave the nominal frequencies are the standard's (31.5,
// 63, 125, …; 1k, 1.25k, 1.6k, …); for finer bands the exact centre to three
// significant figures.
//
// For a run, each band takes a weight of every bin whose width [(k-1/2) df,
// (k+1/2) df] reaches into it: the part of the width inside. Its power is
// the weighted sum of the bins' power over the window's noise bandwidth in
// bins, so that a sine inside a band reads its own level and noise its power
// in the band. A band narrower than twice that noise bandwidth (which grows
// as the window's length falls below the transform's) is not resolved.
class COctaveBands {
public:
    // The bands of 1/nFraction octave (1, 3, 6 or 12) that lie wholly inside
    // dLowHz to dHighHz, from the lowest.
    static std::vector<SOctaveBand> Bands(int nFraction, double dLowHz, double dHighHz);
    // The name of a band width: "1/3 octave".
    static std::string Name(int nFraction);
    // A frequency as the bands' names and the axis's round labels read it:
    // "31.5", "500", "1k", "1.25k".
    static std::string FrequencyLabel(double dHz);

    // The bands of a run: wholly inside the span and below half the rate,
    // with their bins' weights, and whether a window of the noise bandwidth
    // given (in bins) resolves each. Built anew only when something changed.
    void Build(int nFraction, int nSampleRate, int nFftSize, double dSpanLowHz, double dSpanHighHz,
               double dNoiseBandwidthBins);
    int Count() const { return static_cast<int>(m_aEntries.size()); }
    int Fraction() const { return m_nFraction; }
    const SOctaveBand& Band(int i) const { return m_aEntries[std::size_t(i)].band; }
    bool IsResolved(int i) const { return m_aEntries[std::size_t(i)].bResolved; }
    // The bins band i takes something of: first and one past the last.
    std::pair<int, int> Bins(int i) const;

    // The power of each band from the power per bin (bins 0 to N/2), for a
    // window whose noise bandwidth is dNoiseBandwidthBins.
    void Powers(const double* pPower, int nBins, double dNoiseBandwidthBins,
                std::vector<double>& adOut) const;
    // Band i's weighted sum of fnPowerAt(k) over its bins.
    template <typename PowerAt> double WeightedSum(int i, PowerAt fnPowerAt) const {
        const SEntry& entry = m_aEntries[std::size_t(i)];
        double dSum = 0.0;
        for (std::size_t j = 0; j < entry.adWeight.size(); ++j) {
            dSum += entry.adWeight[j] * fnPowerAt(entry.nFirstBin + static_cast<int>(j));
        }
        return dSum;
    }

private:
    struct SEntry {
        SOctaveBand band;
        int nFirstBin = 0;
        std::vector<double> adWeight; // from nFirstBin on
        bool bResolved = false;
    };
    std::vector<SEntry> m_aEntries;
    int m_nFraction = 0;
    int m_nSampleRate = 0;
    int m_nFftSize = 0;
    double m_dSpanLowHz = 0.0;
    double m_dSpanHighHz = 0.0;
    double m_dNoiseBandwidthBins = 0.0;
};
