#include "analysis/distortion/DistortionAnalyser.h"

#include "analysis/Fft.h"
#include "analysis/LobePeak.h"
#include "analysis/distortion/BlackmanHarris7.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kHarmonics = SDistortion::kLastHarmonic - SDistortion::kFirstHarmonic + 1;

double Db(double dRatio) {
    return 10.0 * std::log10(dRatio);
}

double Percent(double dRatio) {
    return 100.0 * std::sqrt(dRatio);
}

} // namespace

// The fundamental's lobe and its harmonics', in rising order and apart: the
// sums outside them walk the band once.
struct CDistortionAnalyser::SLobes {
    double dFundamentalBin = 0.0;
    double dFundamental = 0.0; // the lobe's power
    SBins fundamental;
    std::array<SBins, kHarmonics> aHarmonics;
    std::array<bool, kHarmonics> abWhole{}; // all of the lobe below half the rate
};

bool CDistortionAnalyser::Configure(int nSampleRate, int nSize) {
    std::lock_guard lock(m_lock);
    m_nSize = 0;
    m_nFilled = 0;
    m_nPasses = 0;
    if (nSampleRate <= 0 || nSize < 64 || (nSize & (nSize - 1)) != 0) {
        return false;
    }
    m_nSampleRate = nSampleRate;
    m_adWindow.assign(std::size_t(nSize), 0.0);
    FillBlackmanHarris7(m_adWindow.data(), nSize);
    m_dWindowSumSquares = 0.0;
    for (double w : m_adWindow) {
        m_dWindowSumSquares += w * w;
    }
    m_adSamples.assign(std::size_t(nSize), 0.0);
    m_aWork.assign(std::size_t(nSize), 0.0);
    m_adPower.assign(std::size_t(nSize / 2 + 1), 0.0);
    m_nSize = nSize;
    return true;
}

void CDistortionAnalyser::SetAveraging(int nInertia, bool bFastAttack) {
    std::lock_guard lock(m_lock);
    m_nInertia = std::max(1, nInertia);
    m_bFastAttack = bFastAttack;
}

void CDistortionAnalyser::SetSpan(double dLowHz, double dHighHz) {
    std::lock_guard lock(m_lock);
    m_dSpanLowHz = dLowHz;
    m_dSpanHighHz = dHighHz;
}

void CDistortionAnalyser::Reset() {
    std::lock_guard lock(m_lock);
    std::fill(m_adPower.begin(), m_adPower.end(), 0.0);
    m_nFilled = 0;
    m_nPasses = 0;
}

void CDistortionAnalyser::MarkBlockShort() {
    std::lock_guard lock(m_lock);
    m_bBlockShort = true;
}

void CDistortionAnalyser::Feed(const std::int32_t* pSamples, int nLength) {
    std::lock_guard lock(m_lock);
    m_bQuantised = true;
    Take(pSamples, nLength);
}

void CDistortionAnalyser::Feed(const double* pSamples, int nLength) {
    std::lock_guard lock(m_lock);
    m_bQuantised = false;
    Take(pSamples, nLength);
}

template <typename T> void CDistortionAnalyser::Take(const T* pSamples, int nLength) {
    if (m_nSize == 0 || pSamples == nullptr || nLength <= 0) {
        return;
    }
    m_bBlockShort = false;
    const int nKept = m_nSize - std::min(nLength, m_nSize);
    std::copy(m_adSamples.end() - nKept, m_adSamples.end(), m_adSamples.begin());
    std::copy(pSamples + nLength - (m_nSize - nKept), pSamples + nLength,
              m_adSamples.begin() + nKept);
    m_nFilled = std::min(m_nSize, m_nFilled + nLength);
    if (m_nFilled == m_nSize) {
        Pass();
    }
}

void CDistortionAnalyser::Pass() {
    for (int i = 0; i < m_nSize; ++i) {
        m_aWork[std::size_t(i)] = m_adSamples[std::size_t(i)] * m_adWindow[std::size_t(i)];
    }
    ForwardFft(m_aWork);
    Accumulate();
    ++m_nPasses;
}

// The bars' rule, bin by bin, so that the readout settles as they do. The
// first pass stands for the average, where the bars rise to it from nothing:
// the level, and the limit it sets, read right from the first pass.
void CDistortionAnalyser::Accumulate() {
    const double m = m_nPasses == 0 ? 1.0 : m_nInertia;
    for (std::size_t k = 0; k < m_adPower.size(); ++k) {
        const double p = std::norm(m_aWork[k]);
        const double old = m_adPower[k];
        m_adPower[k] = (m_bFastAttack && p > old) ? p : (p + (m - 1.0) * old) / m;
    }
}

// Bins 1 to N/2 - 1: DC is no signal and the bin at half the rate holds only
// half a bin's width of noise.
CDistortionAnalyser::SBins CDistortionAnalyser::Band() const {
    const double dHighHz = std::min(kBandHighHz, m_nSampleRate / 2.0);
    return {std::max(1, int(std::ceil(kBandLowHz / HzPerBin()))),
            std::min(Bins() - 1, int(std::floor(dHighHz / HzPerBin())))};
}

CDistortionAnalyser::SBins CDistortionAnalyser::Span() const {
    const double dNyquist = m_nSampleRate / 2.0;
    const double dLow = std::clamp(m_dSpanLowHz, 0.0, dNyquist);
    const double dHigh = std::clamp(m_dSpanHighHz, 0.0, dNyquist);
    return {std::max(1, int(std::ceil(dLow / HzPerBin()))),
            std::min(Bins() - 1, int(std::floor(dHigh / HzPerBin())))};
}

// Clipped to bins 1 to N/2 - 1, so that a lobe past half the rate is cut
// short or empty rather than read from the mirrored half.
CDistortionAnalyser::SBins CDistortionAnalyser::LobeAt(double dBin) const {
    const int nCentre = int(std::lround(dBin));
    return Overlap({nCentre - kLobeHalfWidth, nCentre + kLobeHalfWidth}, {1, Bins() - 1});
}

CDistortionAnalyser::SBins CDistortionAnalyser::Overlap(SBins a, SBins b) {
    return {std::max(a.nFirst, b.nFirst), std::min(a.nLast, b.nLast)};
}

double CDistortionAnalyser::Sum(SBins bins) const {
    double dSum = 0.0;
    for (int k = bins.nFirst; k <= bins.nLast; ++k) {
        dSum += m_adPower[std::size_t(k)];
    }
    return dSum;
}

// A sine of amplitude A puts N sum(w^2) A^2 / 4 into its lobe, white noise
// of mean square s N sum(w^2) s / 2 into the bins 1 to N/2 - 1: either way,
// the bins' sum times 2 / (N sum(w^2)) is the mean square they stand for.
double CDistortionAnalyser::MeanSquare(double dPowerSum) const {
    return dPowerSum * 2.0 / (m_nSize * m_dWindowSumSquares);
}

// Noise alone, or a tone too weak for its figures to mean anything, is no
// reading; whether its lobe fits anywhere matters only for a tone. Its own
// harmonics are not the rest: a fuzz pedal's tone carries them 10 dB down.
bool CDistortionAnalyser::StandsOut(SBins lobe, int nPeak) const {
    const SBins band = Band();
    const double dLobe = Sum(lobe);
    double dRest = Sum(Overlap({band.nFirst, lobe.nFirst - 1}, band)) +
                   Sum(Overlap({lobe.nLast + 1, band.nLast}, band));
    if (nPeak >= 2 * kLobeHalfWidth + 2) {
        for (int k = SDistortion::kFirstHarmonic; k <= SDistortion::kLastHarmonic; ++k) {
            dRest -= Sum(Overlap(LobeAt(double(k) * nPeak), band));
        }
    }
    return dLobe > 0.0 &&
           dLobe >= std::max(dRest, 0.0) * std::pow(10.0, kMinToneAboveRestDb / 10.0);
}

// The lobe must lie inside the span, or the strongest bin may be the skirt of
// a tone beyond it; and apart from DC and from the second harmonic's lobe
// (peak bin 2 kLobeHalfWidth + 2 or more, wherever in its bin the tone lies),
// or the sums would count bins twice.
EDistortionStatus CDistortionAnalyser::CheckLobe(int nPeak, SBins span) const {
    if (nPeak < 2 * kLobeHalfWidth + 2) {
        return EDistortionStatus::TransformTooShort;
    }
    if (nPeak - kLobeHalfWidth < span.nFirst || nPeak + kLobeHalfWidth > span.nLast) {
        return EDistortionStatus::SpanTooNarrow;
    }
    return EDistortionStatus::Ok;
}

// The tone's frequency is its lobe's power-weighted mean bin, exact for this
// window wherever the tone lies between bins; its harmonics' lobes lie
// around the nearest bins to their multiples of it.
CDistortionAnalyser::SLobes CDistortionAnalyser::LobesOf(int nPeak) const {
    SLobes lobes;
    lobes.fundamental = LobeAt(nPeak);
    double dMoment = 0.0;
    for (int k = lobes.fundamental.nFirst; k <= lobes.fundamental.nLast; ++k) {
        lobes.dFundamental += m_adPower[std::size_t(k)];
        dMoment += (k - nPeak) * m_adPower[std::size_t(k)];
    }
    lobes.dFundamentalBin = nPeak + dMoment / lobes.dFundamental;
    for (int i = 0; i < kHarmonics; ++i) {
        const double dBin = (SDistortion::kFirstHarmonic + i) * lobes.dFundamentalBin;
        lobes.aHarmonics[std::size_t(i)] = LobeAt(dBin);
        lobes.abWhole[std::size_t(i)] = std::lround(dBin) + kLobeHalfWidth <= Bins() - 1;
    }
    return lobes;
}

SDistortion CDistortionAnalyser::Result() const {
    std::lock_guard lock(m_lock);
    SDistortion result;
    if (m_bBlockShort) {
        result.eStatus = EDistortionStatus::BlockTooShort;
        return result;
    }
    if (m_nPasses == 0) {
        return result;
    }
    const SBins span = Span();
    const int nPeak = StrongestBinIn(m_adPower.data(), Bins(), span.nFirst, span.nLast + 1);
    if (nPeak < 0) {
        result.eStatus = EDistortionStatus::SpanTooNarrow;
        return result;
    }
    if (!StandsOut(LobeAt(nPeak), nPeak)) {
        result.eStatus = EDistortionStatus::NoTone;
        return result;
    }
    result.eStatus = CheckLobe(nPeak, span);
    if (result.eStatus != EDistortionStatus::Ok) {
        return result;
    }

    const SLobes lobes = LobesOf(nPeak);
    result.dFundamentalHz = lobes.dFundamentalBin * HzPerBin();
    result.dFundamentalDbfs = Db(MeanSquare(lobes.dFundamental) / (kFullScale * kFullScale / 2.0));
    if (result.dFundamentalHz > std::min(kBandHighHz, m_nSampleRate / 2.0)) {
        result.eStatus = EDistortionStatus::AboveBand;
        return result;
    }
    ReadBand(lobes, result);
    ReadHarmonics(lobes, result);
    return result;
}

void CDistortionAnalyser::ReadHarmonics(const SLobes& lobes, SDistortion& result) const {
    const double dFundamental = lobes.dFundamental;
    double dSum = 0.0;
    for (int i = 0; i < kHarmonics; ++i) {
        SHarmonic& harmonic = result.aHarmonics[std::size_t(i)];
        harmonic.dHz = (SDistortion::kFirstHarmonic + i) * result.dFundamentalHz;
        harmonic.bPresent = lobes.abWhole[std::size_t(i)] && harmonic.dHz >= m_dSpanLowHz &&
                            harmonic.dHz <= m_dSpanHighHz;
        if (harmonic.bPresent) {
            const double dPower = Sum(lobes.aHarmonics[std::size_t(i)]);
            harmonic.dDb = Db(dPower / dFundamental);
            dSum += dPower;
            ++result.nHarmonics;
        }
    }
    if (result.nHarmonics > 0) {
        result.dThdPercent = Percent(dSum / dFundamental);
        result.dThdDb = Db(dSum / dFundamental);
    }
}

// THD+N's residual is the band without the fundamental's lobe, as a notch
// leaves it. The band's noise is what lies outside every lobe; SNR counts
// its mean density under the lobes as well, which at 4096 points take a
// tenth of the band.
void CDistortionAnalyser::ReadBand(const SLobes& lobes, SDistortion& result) const {
    const SBins band = Band();
    double dNoise = 0.0;
    int nNoiseBins = 0;
    int nNext = band.nFirst;
    double dHarmonics = 0.0;
    auto skip = [&](SBins lobe) {
        const SBins gap = Overlap({nNext, lobe.nFirst - 1}, band);
        dNoise += Sum(gap);
        nNoiseBins += gap.Count();
        nNext = std::max(nNext, lobe.nLast + 1);
    };
    skip(lobes.fundamental);
    for (const SBins& lobe : lobes.aHarmonics) {
        skip(lobe);
        dHarmonics += Sum(Overlap(lobe, band));
    }
    skip({band.nLast + 1, band.nLast + 1}); // the gap after the last lobe

    const double dFundamental = lobes.dFundamental;
    const double dDensity = nNoiseBins > 0 ? dNoise / nNoiseBins : 0.0;
    const double dResidual = dNoise + dHarmonics;
    const double dThdn = dResidual / (dFundamental + dResidual);
    result.dThdnPercent = Percent(dThdn);
    result.dThdnDb = Db(dThdn);
    result.dSinadDb = -result.dThdnDb;
    result.dSnrDb = Db(dFundamental / (dDensity * band.Count()));

    // Quantisation to 16 bits adds noise of mean square 1/12, spread evenly
    // from DC to half the rate.
    const double dQuantisation = band.Count() / 12.0 / Bins();
    result.dInputLimitDb = Db(dQuantisation / MeanSquare(dFundamental + dResidual));
    result.bAtInputLimit =
        m_bQuantised && result.dThdnDb < result.dInputLimitDb + kInputLimitMarginDb;
}
