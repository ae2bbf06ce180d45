#include "devices/generator/SignalGenerator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>

#include "analysis/Fft.h"

namespace {

using SpectrumBins = std::vector<std::complex<double>>;

constexpr double kFullScale = 32767.0;
constexpr double kRadiansPerCycle = 2.0 * std::numbers::pi;

// Kellet's refined filter: the one-pole filters' poles and gains, the direct
// path and the path one sample late.
constexpr double kPinkPole[6] = {0.99886, 0.99332, 0.96900, 0.86650, 0.55000, -0.7616};
constexpr double kPinkGain[6] = {0.0555179, 0.0750759, 0.1538520, 0.3104856, 0.5329522, -0.0168980};
constexpr double kPinkDirect = 0.5362;
constexpr double kPinkDelayed = 0.115926;
// Long enough for the slowest of its filters (a time constant of 877
// samples) to forget that it started from rest.
constexpr int kPinkWarmUpFrames = 8192;

// Pink noise at unit RMS is left alone up to this many times its RMS, and
// bent from there smoothly towards the bound. Nearly Gaussian, it has 0.2 %
// of its samples out there; bending them takes 0.001 dB from its power and
// leaves an error 52 dB under it, more than 40 dB under the noise in any
// third-octave band.
constexpr double kNoiseKnee = 3.0;

// The periodic noise's crest factor is lowered by clipping it here and
// putting its magnitudes back, until its peak is under the target; a
// Gaussian table of many thousand samples would peak beyond the bound.
constexpr double kPeriodicClip = 3.0;
constexpr double kPeriodicPeak = 3.5;
constexpr int kMaxCrestPasses = 100;

double ClampFinite(double dValue, double dLow, double dHigh) {
    return std::isnan(dValue) ? dLow : std::clamp(dValue, dLow, dHigh);
}

double DbToGain(double dDb) {
    return std::pow(10.0, dDb / 20.0);
}

// A level in dBFS is the RMS re that of a full-scale sine, as the level
// meter reads it: a unit-RMS signal's gain in full scales.
double LevelToGain(double dLevelDbfs) {
    return DbToGain(dLevelDbfs) / std::numbers::sqrt2;
}

int16_t ToPcm16(double dFullScales) {
    const double dScaled = std::round(dFullScales * kFullScale);
    return static_cast<int16_t>(std::clamp(dScaled, -32768.0, 32767.0));
}

double Peak(const std::vector<double>& adSignal) {
    double dPeak = 0.0;
    for (double d : adSignal)
        dPeak = std::max(dPeak, std::abs(d));
    return dPeak;
}

// The inverse transform through the forward one: conj(F(conj X)) / N.
std::vector<double> RealInverse(SpectrumBins spectrum) {
    for (auto& c : spectrum)
        c = std::conj(c);
    ForwardFft(spectrum);
    const double dScale = 1.0 / double(spectrum.size());
    std::vector<double> adSignal(spectrum.size());
    for (std::size_t i = 0; i < spectrum.size(); ++i)
        adSignal[i] = spectrum[i].real() * dScale;
    return adSignal;
}

// Bins 1 to N/2 - 1 take the magnitudes given and keep their phases (a bin
// of no magnitude, the one given), mirrored above N/2 so that the signal is
// real; DC and N/2 are empty.
void ImposeMagnitudes(SpectrumBins& spectrum, const std::vector<double>& adMagnitude,
                      const std::vector<double>& adFallbackPhase) {
    const std::size_t n = spectrum.size();
    spectrum[0] = 0.0;
    spectrum[n / 2] = 0.0;
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double dNow = std::abs(spectrum[k]);
        spectrum[k] = dNow > 0.0 ? spectrum[k] * (adMagnitude[k] / dNow)
                                 : std::polar(adMagnitude[k], adFallbackPhase[k]);
        spectrum[n - k] = std::conj(spectrum[k]);
    }
}

// 1/sqrt(f) from kPeriodicLowestHz to below N/2, scaled for a unit RMS:
// by Parseval the mean square is 2 sum |X_k|^2 / N^2.
std::vector<double> PinkMagnitudes(int nSize, int nSampleRate) {
    const double dBinHz = double(nSampleRate) / nSize;
    std::vector<double> adMagnitude(std::size_t(nSize / 2), 0.0);
    double dSumSquares = 0.0;
    for (int k = 1; k < nSize / 2; ++k) {
        if (k * dBinHz < CSignalGenerator::kPeriodicLowestHz)
            continue;
        adMagnitude[std::size_t(k)] = 1.0 / std::sqrt(k * dBinHz);
        dSumSquares += 1.0 / (k * dBinHz);
    }
    const double dScale = dSumSquares > 0.0 ? nSize / std::sqrt(2.0 * dSumSquares) : 0.0;
    for (double& d : adMagnitude)
        d *= dScale;
    return adMagnitude;
}

} // namespace

double CSignalGenerator::SRandom::Next() {
    nState ^= nState >> 12;
    nState ^= nState << 25;
    nState ^= nState >> 27;
    const uint64_t nMixed = nState * 2685821657736338717ull;
    return double(nMixed >> 11) * 0x1.0p-52 - 1.0;
}

double CSignalGenerator::SPinkFilter::Next(double dWhite) {
    double dSum = adState[6] + kPinkDirect * dWhite;
    for (int i = 0; i < 6; ++i) {
        adState[i] = kPinkPole[i] * adState[i] + kPinkGain[i] * dWhite;
        dSum += adState[i];
    }
    adState[6] = kPinkDelayed * dWhite;
    return dSum;
}

// The sum of the squared impulse response h[n] = sum_i g_i p_i^n, plus the
// direct path at n = 0 and the late one at n = 1.
double CSignalGenerator::SPinkFilter::PowerGain() {
    double dPower = kPinkDirect * kPinkDirect + kPinkDelayed * kPinkDelayed;
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 6; ++j)
            dPower += kPinkGain[i] * kPinkGain[j] / (1.0 - kPinkPole[i] * kPinkPole[j]);
        dPower += 2.0 * kPinkGain[i] * (kPinkDirect + kPinkDelayed * kPinkPole[i]);
    }
    return dPower;
}

// One repetition lasts nFrames = T fs, so that (f2/f1)^(t/T) grows by
// dGrowthPerFrame in its logarithm at each frame, and the phase's slope at
// frame n is 2 pi f1 / fs (f2/f1)^(n/nFrames).
void CSignalGenerator::SSweep::Set(double dStartHz, double dEndHz, double dSeconds,
                                   int nSampleRate) {
    nEdgeFrames = std::max<int64_t>(1, std::llround(kSweepEdgeSeconds * nSampleRate));
    nFrames = std::max<int64_t>(std::llround(dSeconds * nSampleRate), 2 * nEdgeFrames + 2);
    nFrame = 0;
    dRadiansPerFrame = kRadiansPerCycle * dStartHz / nSampleRate;
    dGrowthPerFrame = std::log(dEndHz / dStartHz) / double(nFrames);
    dPhaseScale = dGrowthPerFrame != 0.0 ? dRadiansPerFrame / dGrowthPerFrame : 0.0;
}

double CSignalGenerator::SSweep::Next() {
    const double n = double(nFrame);
    const double dPhase = dGrowthPerFrame != 0.0 ? dPhaseScale * std::expm1(dGrowthPerFrame * n)
                                                 : dRadiansPerFrame * n;
    const int64_t nFromEdge = std::min(nFrame, nFrames - 1 - nFrame);
    const double dEdge =
        nFromEdge < nEdgeFrames ? RaisedCosine(int(nFromEdge), int(nEdgeFrames)) : 1.0;
    if (++nFrame == nFrames)
        nFrame = 0;
    return std::numbers::sqrt2 * dEdge * std::sin(dPhase);
}

double CSignalGenerator::MaxLevelDbfs(ESignal eSignal) {
    switch (eSignal) {
    case ESignal::Sine:
    case ESignal::LogSweep:
        return 0.0;
    default:
        return kMaxNoiseLevelDbfs;
    }
}

double CSignalGenerator::RaisedCosine(int nStep, int nSteps) {
    if (nStep >= nSteps)
        return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * nStep / nSteps);
}

bool CSignalGenerator::SameSignal(const SGeneratorSettings& a, const SGeneratorSettings& b) {
    if (a.eSignal != b.eSignal || a.nChannels != b.nChannels)
        return false;
    if (a.eSignal == ESignal::Sine)
        return a.dSineHz == b.dSineHz;
    if (a.eSignal == ESignal::LogSweep)
        return a.dSweepStartHz == b.dSweepStartHz && a.dSweepEndHz == b.dSweepEndHz &&
               a.dSweepSeconds == b.dSweepSeconds;
    return true;
}

SGeneratorSettings CSignalGenerator::Clamped(const SGeneratorSettings& settings) const {
    const double dTopHz = kMaxHzOfRate * m_nSampleRate;
    SGeneratorSettings clamped = settings;
    clamped.dLevelDbfs =
        ClampFinite(settings.dLevelDbfs, kMinLevelDbfs, MaxLevelDbfs(settings.eSignal));
    clamped.dSineHz = ClampFinite(settings.dSineHz, kMinHz, dTopHz);
    clamped.dSweepStartHz = ClampFinite(settings.dSweepStartHz, kMinHz, dTopHz);
    clamped.dSweepEndHz = ClampFinite(settings.dSweepEndHz, kMinHz, dTopHz);
    clamped.dSweepSeconds = ClampFinite(settings.dSweepSeconds, kMinSweepSeconds, kMaxSweepSeconds);
    clamped.nChannels = settings.nChannels & 3;
    return clamped;
}

void CSignalGenerator::Prepare(int nSampleRate, int nPeriodSize) {
    m_nSampleRate = std::max(nSampleRate, 1);
    m_nFadeFrames = std::max(1, int(std::lround(kFadeSeconds * m_nSampleRate)));
    m_dPinkScale = 1.0 / std::sqrt(SPinkFilter::PowerGain() / 3.0); // uniform: variance 1/3
    m_dNoisePeak = 1.0 / LevelToGain(kMaxNoiseLevelDbfs);
    m_random = SRandom{};
    m_pink = SPinkFilter{};
    for (int i = 0; i < kPinkWarmUpFrames; ++i)
        m_pink.Next(m_random.Next());
    BuildPeriodicNoise(int(std::bit_floor(unsigned(std::max(nPeriodSize, 16)))));
    m_nPeriodic = 0;
    m_dSinePhase = 0.0;
    m_nTakenGeneration = 0;
    m_bFadingIn = false;
    m_nFade = 0;
    m_active = Clamped(m_active);
    Adopt(m_active);
}

// Random phases over 1/sqrt(f) magnitudes, exactly periodic in nSize; then
// clipped and given back their magnitudes until the peak is low enough.
// Should that not converge, the table is scaled under the bound, a little
// quieter than asked rather than clipped.
void CSignalGenerator::BuildPeriodicNoise(int nSize) {
    const std::vector<double> adMagnitude = PinkMagnitudes(nSize, m_nSampleRate);
    SRandom phases{0xD1B54A32D192ED03ull};
    std::vector<double> adPhase(adMagnitude.size());
    for (double& d : adPhase)
        d = std::numbers::pi * phases.Next();
    SpectrumBins spectrum(std::size_t(nSize), 0.0);
    ImposeMagnitudes(spectrum, adMagnitude, adPhase);
    m_adPeriodic = RealInverse(spectrum);
    for (int i = 0; i < kMaxCrestPasses && Peak(m_adPeriodic) > kPeriodicPeak; ++i) {
        for (std::size_t n = 0; n < m_adPeriodic.size(); ++n)
            spectrum[n] = std::clamp(m_adPeriodic[n], -kPeriodicClip, kPeriodicClip);
        ForwardFft(spectrum);
        ImposeMagnitudes(spectrum, adMagnitude, adPhase);
        m_adPeriodic = RealInverse(spectrum);
    }
    const double dPeak = Peak(m_adPeriodic);
    if (dPeak > kPeriodicPeak) {
        for (double& d : m_adPeriodic)
            d *= kPeriodicPeak / dPeak;
    }
}

void CSignalGenerator::SetSettings(const SGeneratorSettings& settings) {
    std::lock_guard lock(m_lockPending);
    m_pending = settings;
    m_nPendingGeneration.fetch_add(1, std::memory_order_release);
}

// The interface holds the lock only to copy the settings in; should it hold
// it now, the next period takes them.
void CSignalGenerator::PickUpSettings() {
    if (m_nPendingGeneration.load(std::memory_order_acquire) == m_nTakenGeneration)
        return;
    std::unique_lock lock(m_lockPending, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    m_wanted = Clamped(m_pending);
    m_nTakenGeneration = m_nPendingGeneration.load(std::memory_order_relaxed);
}

// Whatever is silent is replaced at once; what sounds fades out unless it is
// what is wanted, in which case it fades in and, once fully in, glides to the
// level wanted. Fade and glide never move together, so that the amplitude's
// steps stay those of one raised cosine.
void CSignalGenerator::Steer() {
    if (m_nFade == 0)
        Adopt(m_wanted);
    m_bFadingIn = m_bPlaying && SameSignal(m_active, m_wanted);
    const double dGain = LevelToGain(m_wanted.dLevelDbfs);
    if (m_bFadingIn && m_nFade == m_nFadeFrames && dGain != m_dGainTo)
        StartLevelRamp(dGain);
}

void CSignalGenerator::Adopt(const SGeneratorSettings& settings) {
    m_active = settings;
    m_dGainFrom = m_dGainTo = LevelToGain(settings.dLevelDbfs);
    m_nRamp = m_nFadeFrames;
    m_dSineStep = kRadiansPerCycle * settings.dSineHz / m_nSampleRate;
    m_sweep.Set(settings.dSweepStartHz, settings.dSweepEndHz, settings.dSweepSeconds,
                m_nSampleRate);
}

void CSignalGenerator::StartLevelRamp(double dGain) {
    m_dGainFrom = Gain();
    m_dGainTo = dGain;
    m_nRamp = 0;
}

double CSignalGenerator::Gain() const {
    return m_dGainFrom + (m_dGainTo - m_dGainFrom) * RaisedCosine(m_nRamp, m_nFadeFrames);
}

// Beyond the knee, |x| = K + (B - K) tanh((|x| - K) / (B - K)): continuous
// with its slope there, and under the bound B however large x is.
double CSignalGenerator::NextLimitedNoise(double dUnitRmsNoise) const {
    const double dSize = std::abs(dUnitRmsNoise);
    if (dSize <= kNoiseKnee)
        return dUnitRmsNoise;
    const double dRoom = m_dNoisePeak - kNoiseKnee;
    return std::copysign(kNoiseKnee + dRoom * std::tanh((dSize - kNoiseKnee) / dRoom),
                         dUnitRmsNoise);
}

// Every signal at unit RMS (the sweep away from its edges).
double CSignalGenerator::NextSample() {
    switch (m_active.eSignal) {
    case ESignal::WhiteNoise:
        // Uniform: its peak is sqrt(3) times its RMS, well inside the bound.
        return std::numbers::sqrt3 * m_random.Next();
    case ESignal::PeriodicPinkNoise: {
        const double d = m_adPeriodic[m_nPeriodic];
        m_nPeriodic = (m_nPeriodic + 1) % m_adPeriodic.size();
        return d;
    }
    case ESignal::Sine: {
        const double d = std::numbers::sqrt2 * std::sin(m_dSinePhase);
        m_dSinePhase += m_dSineStep;
        if (m_dSinePhase >= kRadiansPerCycle)
            m_dSinePhase -= kRadiansPerCycle;
        return d;
    }
    case ESignal::LogSweep:
        return m_sweep.Next();
    case ESignal::PinkNoise:
    default:
        return NextLimitedNoise(m_dPinkScale * m_pink.Next(m_random.Next()));
    }
}

// One frame on: the fade towards where it is going, or when fully in the
// level towards its target. A fade's end may let what is wanted meanwhile in.
void CSignalGenerator::Advance() {
    if (!m_bFadingIn) {
        if (m_nFade > 0 && --m_nFade == 0)
            Steer();
    } else if (m_nFade < m_nFadeFrames) {
        if (++m_nFade == m_nFadeFrames)
            Steer();
    } else if (m_nRamp < m_nFadeFrames) {
        ++m_nRamp;
    }
}

int CSignalGenerator::Render(int16_t* pInterleavedStereo, int nFrames) {
    if (nFrames <= 0)
        return 0;
    std::fill_n(pInterleavedStereo, 2 * std::size_t(nFrames), int16_t(0));
    if (m_adPeriodic.empty())
        return 0;
    PickUpSettings();
    m_bPlaying = m_bPlayWanted.load(std::memory_order_relaxed);
    Steer();
    int nSounding = 0;
    for (int i = 0; i < nFrames; ++i) {
        Advance();
        if (m_nFade == 0) {
            if (!m_bFadingIn)
                break;
            continue;
        }
        const double dValue = NextSample() * Gain() * RaisedCosine(m_nFade, m_nFadeFrames);
        const int16_t nSample = ToPcm16(dValue);
        if (m_active.nChannels & 1)
            pInterleavedStereo[2 * i] = nSample;
        if (m_active.nChannels & 2)
            pInterleavedStereo[2 * i + 1] = nSample;
        ++nSounding;
    }
    return nSounding;
}
