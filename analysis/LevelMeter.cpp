#include "analysis/LevelMeter.h"

#include <algorithm>
#include <cmath>

namespace {

// Silence would otherwise show as -infinity.
constexpr double kFloorDb = -200.0;

double PowerToDb(double dPower) {
    return dPower > 0.0 ? std::max(10.0 * std::log10(dPower), kFloorDb) : kFloorDb;
}

} // namespace

void CLevelMeter::SetSlow(bool bSlow) {
    std::lock_guard lock(m_mutex);
    m_dTau = bSlow ? kSlowSeconds : kFastSeconds;
}

// Passes do not arrive evenly (the audio comes in blocks and the thread is scheduled), so
// each is weighted by its real spacing: the level then falls 10*log10(e)/tau dB per second
// (34.7 dB/s on Fast, 4.34 on Slow) however the passes are spaced.
void CLevelMeter::Feed(double dMeanSquare, double dPeak, double dSeconds) {
    std::lock_guard lock(m_mutex);
    const double dPeakSquare = dPeak * dPeak;
    if (!m_bValid) {
        m_dLevel = m_dMax = dMeanSquare;
        m_dPeakSquare = dPeakSquare;
        m_bValid = true;
        return;
    }
    const double dDt = std::max(dSeconds, 0.0);
    const double dKeep = std::exp(-dDt / m_dTau);
    m_dLevel = m_dLevel * dKeep + dMeanSquare * (1.0 - dKeep);
    m_dPeakSquare = std::max(dPeakSquare, m_dPeakSquare * dKeep);
    m_dMax = std::max(m_dMax, m_dLevel);
    m_dEnergy += dMeanSquare * dDt;
    m_dSeconds += dDt;
}

SMeterFigures CLevelMeter::Figures() const {
    std::lock_guard lock(m_mutex);
    // Until time has passed since a reset, the running level is the best guess at the mean.
    const double dLeq = m_dSeconds > 0.0 ? m_dEnergy / m_dSeconds : m_dLevel;
    return SMeterFigures{PowerToDb(m_dLevel), PowerToDb(dLeq), PowerToDb(m_dMax),
                         PowerToDb(m_dPeakSquare), m_bValid};
}

// The maximum restarts from the level now: that is the highest level seen since this moment.
void CLevelMeter::Reset() {
    std::lock_guard lock(m_mutex);
    m_dMax = m_dLevel;
    m_dEnergy = 0.0;
    m_dSeconds = 0.0;
}
