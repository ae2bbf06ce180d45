#include "analysis/loudness/LoudnessMeter.h"

#include <algorithm>
#include <cmath>

namespace {

std::optional<double> Loudness(const std::optional<double>& oMeanSquare) {
    return oMeanSquare ? std::optional(LoudnessOf(*oMeanSquare)) : std::nullopt;
}

std::optional<double> Higher(const std::optional<double>& oMax, double d) {
    return oMax && *oMax >= d ? *oMax : d;
}

} // namespace

std::optional<double> SLoudnessFigures::TruePeak() const {
    const auto& [oLeft, oRight] = aoTruePeak;
    if (!oLeft || !oRight) {
        return oLeft ? oLeft : oRight;
    }
    return std::max(*oLeft, *oRight);
}

CLoudnessMeter::CLoudnessMeter() {
    Configure(48000);
}

void CLoudnessMeter::Configure(int nSampleRate) {
    std::lock_guard lock(m_mutex);
    if (nSampleRate == m_nSampleRate) {
        return;
    }
    if (nSampleRate < kLowestRate || nSampleRate > kHighestRate) {
        m_nSampleRate = 0;
        return;
    }
    m_nSampleRate = nSampleRate;
    for (CKWeighting& weighting : m_aWeighting) {
        weighting.Design(nSampleRate);
    }
    m_blocks.Allocate();
    m_shortTerms.Allocate();
    RestartWindows();
    ClearSinceReset();
}

int CLoudnessMeter::SampleRate() const {
    std::lock_guard lock(m_mutex);
    return m_nSampleRate;
}

// The samples are cut where sub-blocks end, so that each sub-block is
// closed as soon as its last sample is in.
void CLoudnessMeter::Feed(const std::int32_t* pLeft, const std::int32_t* pRight, int nCount) {
    if (nCount <= 0) {
        return;
    }
    std::lock_guard lock(m_mutex);
    if (m_nSampleRate == 0) {
        return;
    }
    m_nMeasuredSamples += nCount;
    for (int i = 0; i < nCount;) {
        const int n = std::min(nCount - i, m_nSubBlockLength - m_current.nSamples);
        Accumulate(pLeft + i, pRight + i, n);
        i += n;
        if (m_current.nSamples == m_nSubBlockLength) {
            EndSubBlock();
        }
    }
}

void CLoudnessMeter::Accumulate(const std::int32_t* pLeft, const std::int32_t* pRight, int nCount) {
    constexpr double kScale = 1.0 / kFullScale;
    auto& [leftWeighting, rightWeighting] = m_aWeighting;
    auto& [leftPeak, rightPeak] = m_aTruePeak;
    double dSquares = 0.0;
    for (int i = 0; i < nCount; ++i) {
        const double l = pLeft[i] * kScale;
        const double r = pRight[i] * kScale;
        const double wl = leftWeighting.Process(l);
        const double wr = rightWeighting.Process(r);
        dSquares += wl * wl + wr * wr;
        leftPeak.Process(l);
        rightPeak.Process(r);
    }
    m_current.dSquares += dSquares;
    m_current.nSamples += nCount;
}

// A closed sub-block completes a momentary window once 4 are in since the
// windows started, and a short-term one once 30 are; a window wholly after the
// reset is also a gating block or a value for the range.
void CLoudnessMeter::EndSubBlock() {
    m_nNewest = m_nNewest + 1 == kShortTermSubBlocks ? 0 : m_nNewest + 1;
    m_aRecent[std::size_t(m_nNewest)] = m_current;
    m_nContiguous = std::min(m_nContiguous + 1, kShortTermSubBlocks);
    m_nSinceReset = std::min(m_nSinceReset + 1, kShortTermSubBlocks);
    if (m_nContiguous >= kMomentarySubBlocks) {
        const double d = MeanSquareOfLast(kMomentarySubBlocks);
        m_oMomentary = d;
        if (m_nSinceReset >= kMomentarySubBlocks) {
            m_blocks.Add(d);
            m_oMaxMomentary = Higher(m_oMaxMomentary, d);
        }
    }
    if (m_nContiguous >= kShortTermSubBlocks) {
        const double d = MeanSquareOfLast(kShortTermSubBlocks);
        m_oShortTerm = d;
        if (m_nSinceReset >= kShortTermSubBlocks) {
            m_shortTerms.Add(d);
            m_oMaxShortTerm = Higher(m_oMaxShortTerm, d);
        }
    }
    for (CKWeighting& weighting : m_aWeighting) {
        weighting.FlushTinyState();
    }
    StartSubBlock((m_nSubBlockInSecond + 1) % kSubBlocksPerSecond);
}

// A second's ten sub-blocks end at whole samples nearest below each tenth, so
// that at rates not divisible by ten they differ by a sample and still add up
// to the second.
void CLoudnessMeter::StartSubBlock(int nInSecond) {
    m_current = SSubBlock{};
    m_nSubBlockInSecond = nInSecond;
    m_nSubBlockLength = (nInSecond + 1) * m_nSampleRate / kSubBlocksPerSecond -
                        nInSecond * m_nSampleRate / kSubBlocksPerSecond;
}

// Sub-blocks of unequal length count by their samples.
double CLoudnessMeter::MeanSquareOfLast(int nSubBlocks) const {
    double dSquares = 0.0;
    long long nSamples = 0;
    int i = m_nNewest;
    for (int k = 0; k < nSubBlocks; ++k) {
        dSquares += m_aRecent[std::size_t(i)].dSquares;
        nSamples += m_aRecent[std::size_t(i)].nSamples;
        i = i == 0 ? kShortTermSubBlocks - 1 : i - 1;
    }
    return dSquares / double(nSamples);
}

// The sub-block under way is dropped: it cannot be completed across the gap.
void CLoudnessMeter::AddGap(double dSeconds) {
    if (!(dSeconds > 0.0)) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_dGapSeconds += dSeconds;
    RestartWindows();
}

void CLoudnessMeter::RestartWindows() {
    StartSubBlock(0);
    m_nContiguous = 0;
    m_nSinceReset = 0;
    m_oMomentary.reset();
    m_oShortTerm.reset();
    for (CKWeighting& weighting : m_aWeighting) {
        weighting.Restart();
    }
    for (CTruePeak& peak : m_aTruePeak) {
        peak.Restart();
    }
}

void CLoudnessMeter::Reset() {
    std::lock_guard lock(m_mutex);
    ClearSinceReset();
}

void CLoudnessMeter::Restart() {
    std::lock_guard lock(m_mutex);
    RestartWindows();
    ClearSinceReset();
}

void CLoudnessMeter::ClearSinceReset() {
    m_blocks.Clear();
    m_shortTerms.Clear();
    m_oMaxMomentary.reset();
    m_oMaxShortTerm.reset();
    for (CTruePeak& peak : m_aTruePeak) {
        peak.ResetPeak();
    }
    m_nMeasuredSamples = 0;
    m_dGapSeconds = 0.0;
    // A sub-block under way began before the reset, and so do windows with it.
    m_nSinceReset = m_current.nSamples > 0 ? -1 : 0;
}

SLoudnessFigures CLoudnessMeter::Figures() const {
    std::lock_guard lock(m_mutex);
    SLoudnessFigures f;
    f.oMomentary = Loudness(m_oMomentary);
    f.oShortTerm = Loudness(m_oShortTerm);
    f.oIntegrated = m_blocks.GatedLoudness(kIntegratedGateLu);
    f.oRange = m_shortTerms.Range(kRangeGateLu, kRangeLow, kRangeHigh);
    f.oMaxMomentary = Loudness(m_oMaxMomentary);
    f.oMaxShortTerm = Loudness(m_oMaxShortTerm);
    if (m_nMeasuredSamples > 0) {
        for (std::size_t c = 0; c < m_aTruePeak.size(); ++c) {
            f.aoTruePeak[c] = 20.0 * std::log10(m_aTruePeak[c].Peak());
        }
    }
    f.dMeasuredSeconds = m_nSampleRate > 0 ? double(m_nMeasuredSamples) / m_nSampleRate : 0.0;
    f.bRangeSettled = f.dMeasuredSeconds >= kRangeSettledSeconds;
    f.dGapSeconds = m_dGapSeconds;
    return f;
}
