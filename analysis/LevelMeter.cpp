#include "analysis/LevelMeter.h"

#include <algorithm>
#include <cmath>

CLevelMeter::CLevelMeter() {
    Configure(EWeighting::Z, 44100);
}

void CLevelMeter::Configure(EWeighting eWeighting, int nSampleRate) {
    std::lock_guard lock(m_mutex);
    if (eWeighting == m_filter.Weighting() && nSampleRate == m_filter.SampleRate()) {
        return;
    }
    if (eWeighting != m_filter.Weighting()) {
        m_dMax = m_dLevel;
        m_dEnergy = 0.0;
        m_nSamples = 0;
    }
    m_filter.Design(eWeighting, nSampleRate);
    UpdateKeep();
}

EWeighting CLevelMeter::Weighting() const {
    std::lock_guard lock(m_mutex);
    return m_filter.Weighting();
}

void CLevelMeter::SetSlow(bool bSlow) {
    std::lock_guard lock(m_mutex);
    m_dTau = bSlow ? kSlowSeconds : kFastSeconds;
    UpdateKeep();
}

void CLevelMeter::UpdateKeep() {
    const int nRate = std::max(m_filter.SampleRate(), 1);
    m_dKeep = std::exp(-1.0 / (nRate * m_dTau));
}

void CLevelMeter::SetCorrection(double dFactor) {
    std::lock_guard lock(m_mutex);
    m_dCorrection = dFactor > 0.0 && std::isfinite(dFactor) ? dFactor : 1.0;
}

// Each sample is weighted, squared re a full-scale sine's mean square (an
// amplitude of 1.0 squared over 2), and folded into the exponential:
//   level += (1 - keep) (x^2 - level),
// the discrete form of tau dL/dt = x^2 - L, sample by sample.
void CLevelMeter::Feed(const std::int32_t* pSamples, int nCount) {
    if (nCount <= 0) {
        return;
    }
    std::lock_guard lock(m_mutex);
    const double dScale = 2.0 * m_dCorrection / (double(kFullScale) * kFullScale);
    const double dKeep = m_dKeep;
    double dLevel = m_dLevel;
    double dMax = m_dMax;
    double dEnergy = 0.0;
    const double dPeakScale = 1.0 / (double(kFullScale) * kFullScale);
    double dPeakSquare = m_dPeakSquare;
    std::int32_t nPeak = 0;
    for (int i = 0; i < nCount; ++i) {
        const std::int32_t n = pSamples[i];
        const std::int32_t nAbs = n < 0 ? -n : n;
        nPeak = std::max(nPeak, nAbs);
        // The peak held falls from the sample it came at.
        dPeakSquare = std::max(dPeakSquare * dKeep, double(nAbs) * nAbs * dPeakScale);
        const double w = m_filter.Process(n);
        const double dSquare = w * w * dScale;
        dEnergy += dSquare;
        dLevel = dSquare + dKeep * (dLevel - dSquare);
        dMax = std::max(dMax, dLevel);
    }
    m_dLevel = dLevel;
    m_dMax = dMax;
    m_dEnergy += dEnergy;
    m_nSamples += nCount;
    m_dPeakSquare = dPeakSquare;
    m_bValid = true;
    if (nPeak >= kFullScale - 1) {
        m_nClippedFeeds.fetch_add(1, std::memory_order_relaxed);
    }
}

// The filters start afresh after a gap: what follows does not continue what
// came before.
void CLevelMeter::AddGap(double dSeconds) {
    if (!(dSeconds > 0.0)) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_dGapSeconds += dSeconds;
    m_filter.Reset();
}

SMeterFigures CLevelMeter::Figures() const {
    std::lock_guard lock(m_mutex);
    // Until something has been metered since a reset, the running level is
    // the best guess at the mean.
    const double dLeq = m_nSamples > 0 ? m_dEnergy / double(m_nSamples) : m_dLevel;
    return SMeterFigures{m_dLevel, dLeq, m_dMax, m_dPeakSquare, m_dGapSeconds, m_bValid};
}

// The maximum restarts from the level now: that is the highest level seen
// since this moment.
void CLevelMeter::Reset() {
    std::lock_guard lock(m_mutex);
    m_dMax = m_dLevel;
    m_dEnergy = 0.0;
    m_nSamples = 0;
    m_dGapSeconds = 0.0;
}
