#include "analysis/transfer/TransferFunction.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The first and last bin of the band centred on bin k that reaches a factor
// dHalfBand either side (frequency is proportional to the index); never empty.
void BandAround(int k, double dHalfBand, int nBins, int& nLow, int& nHigh) {
    nLow = std::min(k, static_cast<int>(std::ceil(k / dHalfBand)));
    nHigh = std::max(k, std::min(nBins - 1, static_cast<int>(std::floor(k * dHalfBand))));
}

// Running sums in extended precision: a band's sum is the difference of two
// of them, and a quiet band next to loud ones must not drown in the rounding
// of the loud ones' total.
void PrefixSums(const std::vector<double>& ad, std::vector<long double>& adSums) {
    adSums.resize(ad.size() + 1);
    adSums[0] = 0.0L;
    for (std::size_t i = 0; i < ad.size(); ++i) {
        adSums[i + 1] = adSums[i] + ad[i];
    }
}

void SmoothInPlace(std::vector<double>& ad, double dHalfBand, std::vector<long double>& adSums) {
    PrefixSums(ad, adSums);
    const int nBins = static_cast<int>(ad.size());
    for (int k = 0; k < nBins; ++k) {
        int nLow = 0;
        int nHigh = 0;
        BandAround(k, dHalfBand, nBins, nLow, nHigh);
        const long double dSum = adSums[std::size_t(nHigh + 1)] - adSums[std::size_t(nLow)];
        ad[std::size_t(k)] = static_cast<double>(dSum / (nHigh - nLow + 1));
    }
}

double WrappedDegrees(double dRe, double dIm) {
    const double dDeg = std::atan2(dIm, dRe) * (180.0 / std::numbers::pi);
    return dDeg <= -180.0 ? dDeg + 360.0 : dDeg;
}

} // namespace

void CTransferFunction::Setup(int nFftSize, int nSampleRate) {
    const std::size_t nBins = nFftSize >= 2 ? std::size_t(nFftSize / 2 + 1) : 0;
    std::lock_guard lock(m_lock);
    m_nFftSize = nBins > 0 ? nFftSize : 0;
    m_nSampleRate = nSampleRate;
    m_nPasses = 0;
    m_adCrossRe.assign(nBins, 0.0);
    m_adCrossIm.assign(nBins, 0.0);
    m_adRef.assign(nBins, 0.0);
    m_adMeas.assign(nBins, 0.0);
}

int CTransferFunction::FftSize() const {
    std::lock_guard lock(m_lock);
    return m_nFftSize;
}

void CTransferFunction::SetAveragingSeconds(double dSeconds) {
    std::lock_guard lock(m_lock);
    m_dSeconds = dSeconds > 0.0 ? dSeconds : 0.0;
}

double CTransferFunction::AveragingSeconds() const {
    std::lock_guard lock(m_lock);
    return m_dSeconds;
}

void CTransferFunction::SetSmoothing(int nFraction) {
    std::lock_guard lock(m_lock);
    m_nSmoothing = std::max(0, nFraction);
}

int CTransferFunction::Smoothing() const {
    std::lock_guard lock(m_lock);
    return m_nSmoothing;
}

void CTransferFunction::Reset() {
    std::lock_guard lock(m_lock);
    m_nPasses = 0;
}

int CTransferFunction::Passes() const {
    std::lock_guard lock(m_lock);
    return m_nPasses;
}

double CTransferFunction::PassWeight(double dSeconds) const {
    if (m_nPasses == 0) {
        return 1.0;
    }
    if (m_dSeconds <= 0.0) {
        return 1.0 / (m_nPasses + 1);
    }
    const double dWeight = -std::expm1(-dSeconds / m_dSeconds);
    // A clock that stands still or runs backwards adds nothing.
    return dWeight > 0.0 ? std::min(dWeight, 1.0) : 0.0;
}

void CTransferFunction::Pass(const SComplex* pReference, const SComplex* pMeasurement,
                             double dSeconds) {
    std::lock_guard lock(m_lock);
    const std::size_t nBins = m_adRef.size();
    if (nBins == 0) {
        return;
    }
    const double a = PassWeight(dSeconds);
    const double b = 1.0 - a;
    for (std::size_t k = 0; k < nBins; ++k) {
        const SComplex& x = pReference[k];
        const SComplex& y = pMeasurement[k];
        m_adCrossRe[k] = b * m_adCrossRe[k] + a * (x.re * y.re + x.im * y.im);
        m_adCrossIm[k] = b * m_adCrossIm[k] + a * (x.re * y.im - x.im * y.re);
        m_adRef[k] = b * m_adRef[k] + a * (x.re * x.re + x.im * x.im);
        m_adMeas[k] = b * m_adMeas[k] + a * (y.re * y.re + y.im * y.im);
    }
    ++m_nPasses;
}

void CTransferFunction::SmoothScratch(int nFraction) const {
    if (nFraction <= 0) {
        return;
    }
    const double dHalfBand = std::exp2(1.0 / (2.0 * nFraction));
    for (std::vector<double>* pad :
         {&m_adSmoothRe, &m_adSmoothIm, &m_adSmoothRef, &m_adSmoothMeas}) {
        SmoothInPlace(*pad, dHalfBand, m_adPrefix);
    }
}

bool CTransferFunction::Results(SResults& results, const std::vector<int>* panBins) const {
    std::lock_guard lock(m_lock);
    if (m_nPasses == 0) {
        results.adMagnitudeDb.clear();
        results.adPhaseDeg.clear();
        results.adCoherence.clear();
        return false;
    }
    m_adSmoothRe = m_adCrossRe;
    m_adSmoothIm = m_adCrossIm;
    m_adSmoothRef = m_adRef;
    m_adSmoothMeas = m_adMeas;
    SmoothScratch(m_nSmoothing);

    const std::size_t nBins = m_adRef.size();
    results.adMagnitudeDb.resize(nBins);
    results.adPhaseDeg.resize(nBins);
    results.adCoherence.resize(nBins);
    if (panBins != nullptr) {
        std::fill(results.adMagnitudeDb.begin(), results.adMagnitudeDb.end(), kNaN);
        std::fill(results.adPhaseDeg.begin(), results.adPhaseDeg.end(), kNaN);
        std::fill(results.adCoherence.begin(), results.adCoherence.end(), kNaN);
    }
    const std::size_t nCount = panBins != nullptr ? panBins->size() : nBins;
    for (std::size_t i = 0; i < nCount; ++i) {
        const std::size_t k = panBins != nullptr ? static_cast<std::size_t>((*panBins)[i]) : i;
        if (k >= nBins) {
            continue;
        }
        const double dRe = m_adSmoothRe[k];
        const double dIm = m_adSmoothIm[k];
        const double dRef = m_adSmoothRef[k];
        const double dMeas = m_adSmoothMeas[k];
        const double dCross = std::hypot(dRe, dIm);
        // DC carries no phase worth showing and, with any offset, no transfer.
        const bool bReference = k > 0 && dRef > 0.0 && std::isfinite(dRef);
        // A measurement with no power at all has no level in dB and no angle.
        const bool bResponse = bReference && dCross > 0.0;
        const bool bCoherence = bReference && dMeas > 0.0;
        results.adMagnitudeDb[k] = bResponse ? 20.0 * std::log10(dCross / dRef) : kNaN;
        results.adPhaseDeg[k] = bResponse ? WrappedDegrees(dRe, dIm) : kNaN;
        results.adCoherence[k] =
            bCoherence ? std::clamp(dCross / dRef * (dCross / dMeas), 0.0, 1.0) : kNaN;
    }
    return true;
}
