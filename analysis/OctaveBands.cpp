#include "analysis/OctaveBands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const double kG = std::pow(10.0, 0.3); // the octave ratio in base 10

// The nominal frequencies of the third-octave bands over a decade, which the
// octave bands share: band x (1 kHz at x = 0) is named kThirds[x mod 10]
// times a power of ten.
constexpr double kThirds[] = {1.0, 1.25, 1.6, 2.0, 2.5, 3.15, 4.0, 5.0, 6.3, 8.0};

double ThirdNominal(int nThird) {
    const int nDecade = static_cast<int>(std::floor(nThird / 10.0));
    const int nStep = nThird - 10 * nDecade;
    return kThirds[nStep] * std::pow(10.0, 3 + nDecade);
}

double ThreeFigures(double d) {
    const double dScale = std::pow(10.0, std::floor(std::log10(d)) - 2);
    return std::round(d / dScale) * dScale;
}

SOctaveBand BandAt(int nFraction, int x) {
    const double dExponent =
        nFraction % 2 == 1 ? double(x) / nFraction : (2.0 * x + 1.0) / (2.0 * nFraction);
    SOctaveBand band;
    band.dCentreHz = 1000.0 * std::pow(kG, dExponent);
    band.dLowHz = band.dCentreHz * std::pow(kG, -1.0 / (2 * nFraction));
    band.dHighHz = band.dCentreHz * std::pow(kG, 1.0 / (2 * nFraction));
    if (nFraction == 1 || nFraction == 3) {
        band.dNominalHz = ThirdNominal(x * (3 / nFraction));
    } else {
        band.dNominalHz = ThreeFigures(band.dCentreHz);
    }
    band.strNominal = COctaveBands::FrequencyLabel(band.dNominalHz);
    return band;
}

} // namespace

std::vector<SOctaveBand> COctaveBands::Bands(int nFraction, double dLowHz, double dHighHz) {
    std::vector<SOctaveBand> aBands;
    if (nFraction <= 0 || !(dHighHz > dLowHz) || !(dLowHz > 0.0)) {
        return aBands;
    }
    // Band x's centre lies near 1000 G^(x/b): start a band below the low edge.
    const int nFirst =
        static_cast<int>(std::floor(nFraction * std::log(dLowHz / 1000.0) / std::log(kG))) - 1;
    for (int x = nFirst;; ++x) {
        const SOctaveBand band = BandAt(nFraction, x);
        if (band.dHighHz > dHighHz * (1 + 1e-12)) {
            break;
        }
        if (band.dLowHz >= dLowHz * (1 - 1e-12)) {
            aBands.push_back(band);
        }
    }
    return aBands;
}

std::string COctaveBands::Name(int nFraction) {
    return nFraction == 1 ? "1/1 octave" : "1/" + std::to_string(nFraction) + " octave";
}

void COctaveBands::Build(int nFraction, int nSampleRate, int nFftSize, double dSpanLowHz,
                         double dSpanHighHz, double dNoiseBandwidthBins) {
    if (nFraction == m_nFraction && nSampleRate == m_nSampleRate && nFftSize == m_nFftSize &&
        dSpanLowHz == m_dSpanLowHz && dSpanHighHz == m_dSpanHighHz &&
        dNoiseBandwidthBins == m_dNoiseBandwidthBins) {
        return;
    }
    m_dNoiseBandwidthBins = dNoiseBandwidthBins;
    m_nFraction = nFraction;
    m_nSampleRate = nSampleRate;
    m_nFftSize = nFftSize;
    m_dSpanLowHz = dSpanLowHz;
    m_dSpanHighHz = dSpanHighHz;
    m_aEntries.clear();
    if (nSampleRate <= 0 || nFftSize <= 0) {
        return;
    }
    const double dBinHz = double(nSampleRate) / nFftSize;
    const double dTop = std::min(dSpanHighHz, nSampleRate / 2.0);
    for (const SOctaveBand& band : Bands(nFraction, dSpanLowHz, dTop)) {
        SEntry entry;
        entry.band = band;
        entry.bResolved = band.dHighHz - band.dLowHz >= 2.0 * dNoiseBandwidthBins * dBinHz;
        // Bin k spans (k - 1/2) df to (k + 1/2) df.
        const int nFirst = static_cast<int>(std::floor(band.dLowHz / dBinHz + 0.5));
        const int nLast =
            std::min(static_cast<int>(std::ceil(band.dHighHz / dBinHz - 0.5)), nFftSize / 2);
        entry.nFirstBin = nFirst;
        for (int k = nFirst; k <= nLast; ++k) {
            const double dFrom = std::max((k - 0.5) * dBinHz, band.dLowHz);
            const double dTo = std::min((k + 0.5) * dBinHz, band.dHighHz);
            entry.adWeight.push_back(std::max(dTo - dFrom, 0.0) / dBinHz);
        }
        m_aEntries.push_back(std::move(entry));
    }
}

std::pair<int, int> COctaveBands::Bins(int i) const {
    const SEntry& entry = m_aEntries[std::size_t(i)];
    return {entry.nFirstBin, entry.nFirstBin + static_cast<int>(entry.adWeight.size())};
}

void COctaveBands::Powers(const double* pPower, int nBins, double dNoiseBandwidthBins,
                          std::vector<double>& adOut) const {
    adOut.assign(m_aEntries.size(), 0.0);
    if (!(dNoiseBandwidthBins > 0.0)) {
        return;
    }
    for (std::size_t i = 0; i < m_aEntries.size(); ++i) {
        adOut[i] = WeightedSum(static_cast<int>(i),
                               [&](int k) { return k >= 0 && k < nBins ? pPower[k] : 0.0; }) /
                   dNoiseBandwidthBins;
    }
}

std::string COctaveBands::FrequencyLabel(double dHz) {
    char sz[32];
    if (dHz >= 1000.0) {
        std::snprintf(sz, sizeof sz, "%gk", dHz / 1000.0);
    } else {
        std::snprintf(sz, sizeof sz, "%g", dHz);
    }
    return sz;
}
