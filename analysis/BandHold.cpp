#include "analysis/BandHold.h"

#include <algorithm>

void CBandHold::SetLevels(const SLevelSettings& settings) {
    std::lock_guard lock(m_lock);
    if (!(settings == m_settings)) {
        m_settings = settings;
        m_bHolding = false;
    }
}

void CBandHold::Clear() {
    std::lock_guard lock(m_lock);
    m_bHolding = false;
}

void CBandHold::Pass(const SBandHoldKey& key, const double* pPower, int nBins,
                     const SPowerScale& scale) {
    if (key.nFraction <= 0 || nBins <= 0) {
        return;
    }
    SLevelSettings settings;
    {
        std::lock_guard lock(m_lock);
        settings = m_settings;
    }
    m_bands.Build(key.nFraction, key.nSampleRate, key.nFftSize, key.dSpanLowHz, key.dSpanHighHz,
                  scale.NoiseBandwidthBins());
    const double* pLevels = pPower;
    if (!settings.IsDesigned()) {
        m_levels.Update(settings, key.nSampleRate, key.nFftSize);
        const std::vector<double>& adGain = m_levels.ChannelGains(scale);
        m_adUnit.resize(static_cast<std::size_t>(nBins));
        const int nGains = std::min(nBins, static_cast<int>(adGain.size()));
        for (int k = 0; k < nBins; ++k) {
            m_adUnit[std::size_t(k)] = k < nGains ? pPower[k] * adGain[std::size_t(k)] : 0.0;
        }
        pLevels = m_adUnit.data();
    }
    m_bands.Powers(pLevels, nBins, scale.NoiseBandwidthBins(), m_adBand);
    std::lock_guard lock(m_lock);
    if (!m_bHolding || !(key == m_key) || !(settings == m_settings) ||
        m_adHold.size() != m_adBand.size()) {
        m_key = key;
        m_adHold = m_adBand;
        m_bHolding = settings == m_settings;
        return;
    }
    for (std::size_t i = 0; i < m_adHold.size(); ++i) {
        m_adHold[i] = std::max(m_adHold[i], m_adBand[i]);
    }
}

bool CBandHold::Take(const SBandHoldKey& key, std::vector<double>& adOut) const {
    std::lock_guard lock(m_lock);
    if (!m_bHolding || !(key == m_key)) {
        return false;
    }
    adOut = m_adHold;
    return true;
}
