#include "analysis/LevelScale.h"

#include "analysis/BinWidth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// The microphone's correction is taken off the level.
double CLevelScale::PowerGainAt(EWeighting eWeighting, const CMicResponse* pMic, double dHz) {
    const double dMic =
        pMic != nullptr && !pMic->IsEmpty() ? std::pow(10.0, -pMic->CorrectionDb(dHz) / 10.0) : 1.0;
    return WeightingPowerGain(eWeighting, dHz) * dMic;
}

void CLevelScale::Update(const SLevelSettings& settings, int nSampleRate, int nFftSize) {
    if (settings == m_settings && nSampleRate == m_nSampleRate && nFftSize == m_nFftSize &&
        !m_adGain.empty()) {
        return;
    }
    m_settings = settings;
    m_nSampleRate = nSampleRate;
    m_nFftSize = nFftSize;
    const int nBins = nFftSize > 0 ? nFftSize / 2 + 1 : 0;
    m_adGain.assign(static_cast<std::size_t>(nBins), 1.0);
    m_adWeighting.assign(static_cast<std::size_t>(nBins), 1.0);
    m_adChannelGain.clear();
    if (settings.IsDesigned()) {
        return;
    }
    const double dBinWidth = BinWidthHz(nSampleRate, nFftSize);
    const CMicResponse* pMic = settings.eUnit == ELevelUnit::DbSpl ? settings.pMic.get() : nullptr;
    for (int k = 0; k < nBins; ++k) {
        const double dHz = k * dBinWidth;
        m_adGain[static_cast<std::size_t>(k)] = PowerGainAt(settings.eWeighting, pMic, dHz);
        m_adWeighting[static_cast<std::size_t>(k)] = WeightingPowerGain(settings.eWeighting, dHz);
    }
}

double CLevelScale::ChannelFactor(const SPowerScale& scale) const {
    const double dFullScale = scale.Gain(1.0);
    if (!(dFullScale > 0.0)) {
        return 0.0;
    }
    // With Pink 2 Flat bin k holds k times its power: divided by the bin of
    // 1 kHz, a 1 kHz sine reads as it does without.
    const double dPinkCentre =
        scale.bPinkToFlat ? 1000.0 / std::max(BinWidthHz(m_nSampleRate, m_nFftSize), 1e-9) : 1.0;
    return 1.0 / (dFullScale * dPinkCentre);
}

const std::vector<double>& CLevelScale::ChannelGains(const SPowerScale& scale) {
    const double dFactor = ChannelFactor(scale);
    if (dFactor != m_dChannelFactor || m_adChannelGain.size() != m_adGain.size()) {
        m_dChannelFactor = dFactor;
        m_adChannelGain.resize(m_adGain.size());
        for (std::size_t k = 0; k < m_adGain.size(); ++k) {
            m_adChannelGain[k] = m_adGain[k] * dFactor;
        }
    }
    return m_adChannelGain;
}

double CLevelScale::Db(double dLinear) {
    return dLinear > 1e-30 ? 10.0 * std::log10(dLinear) : -300.0;
}

std::string CLevelScale::LevelText(double dUnitPower) const {
    char sz[32];
    if (IsBelowInput(dUnitPower)) {
        std::snprintf(sz, sizeof sz, "< %.0f", kLowestDbfs + DbOffset());
    } else {
        // Rounded as "%.1f" shows it, without a "-0.0".
        const double dRounded = std::round(LevelDb(dUnitPower) * 10.0) / 10.0;
        std::snprintf(sz, sizeof sz, "%.1f", dRounded == 0.0 ? 0.0 : dRounded);
    }
    return sz;
}

double CLevelScale::DbOffset() const {
    return m_settings.eUnit == ELevelUnit::DbSpl ? m_settings.dFullScaleDbSpl : 0.0;
}

double CLevelScale::TopDb() const {
    return 10.0 * std::ceil(DbOffset() / 10.0 - 1e-9);
}

std::string CLevelScale::Caption() const {
    return Caption(m_settings);
}

std::string CLevelScale::Caption(const SLevelSettings& s) {
    const std::string strLetter = WeightingLetter(s.eWeighting);
    const bool bWeighted = s.eWeighting != EWeighting::Z;
    switch (s.eUnit) {
    case ELevelUnit::Dbfs:
        return bWeighted ? "dBFS (" + strLetter + ")" : "dBFS";
    case ELevelUnit::DbSpl:
        return bWeighted ? "dB(" + strLetter + ") SPL" : "dB SPL";
    default:
        return {};
    }
}
