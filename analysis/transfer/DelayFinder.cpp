#include "analysis/transfer/DelayFinder.h"

#include "analysis/Fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <string>
#include <utility>

namespace {

using Spectrum = std::vector<std::complex<double>>;

// Each end of a block fades over this fraction of it: the circular transform
// then sees no jump where the block wraps round (a bass-heavy signal would
// otherwise put a spurious peak at lag 0), while the middle keeps full weight
// so that a long delay still leaves the two blocks most of their overlap.
constexpr int kTaperDivisor = 16;
// The deconvolution's floor, as a fraction of the reference's mean power per
// bin: bins the reference hardly excites cannot blow up what they carry of
// the measurement's noise.
constexpr double kRegularisation = 1e-3;
// Samples either side of the peak that belong to it rather than to the rest.
constexpr int kPeakHalfWidth = 5;

struct SLags {
    int nEarliest;
    int nLatest;
};

bool IsPowerOfTwo(std::size_t n) {
    return n >= 2 && (n & (n - 1)) == 0;
}

bool HasPower(const std::vector<double>& ad) {
    double dSum = 0.0;
    for (double d : ad) {
        dSum += d * d;
    }
    return std::isfinite(dSum) && dSum > 0.0;
}

Spectrum TaperedTransform(const std::vector<double>& ad) {
    const std::size_t n = ad.size();
    const std::size_t nTaper = std::max<std::size_t>(1, n / kTaperDivisor);
    Spectrum spectrum(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t nFromEdge = std::min(i, n - 1 - i);
        const double w =
            nFromEdge < nTaper
                ? 0.5 - 0.5 * std::cos(std::numbers::pi * double(nFromEdge) / double(nTaper))
                : 1.0;
        spectrum[i] = ad[i] * w;
    }
    ForwardFft(spectrum);
    return spectrum;
}

// |h| at every lag, h the measurement's spectrum over the reference's taken
// back to time (unscaled: only ratios of it are used).
std::vector<double> ResponseMagnitude(const std::vector<double>& adReference,
                                      const std::vector<double>& adMeasurement) {
    const Spectrum x = TaperedTransform(adReference);
    Spectrum h = TaperedTransform(adMeasurement);
    double dMeanPower = 0.0;
    for (const auto& c : x) {
        dMeanPower += std::norm(c);
    }
    const double dFloor = kRegularisation * dMeanPower / double(x.size());
    // Conjugated so that the forward transform runs backwards.
    for (std::size_t k = 0; k < h.size(); ++k) {
        h[k] = std::conj(h[k] * std::conj(x[k]) / (std::norm(x[k]) + dFloor));
    }
    ForwardFft(h);
    std::vector<double> adMagnitude(h.size());
    for (std::size_t i = 0; i < h.size(); ++i) {
        adMagnitude[i] = std::abs(h[i].real());
    }
    return adMagnitude;
}

// Negative lags wrap to the end of the block; the range never meets itself.
SLags SearchedLags(int n, int nSampleRate) {
    SLags lags;
    lags.nEarliest =
        std::max(-n / 2, int(std::lround(CDelayFinder::kEarliestMs * nSampleRate / 1000.0)));
    lags.nLatest =
        std::max(int(std::lround(CDelayFinder::kLatestMs * nSampleRate / 1000.0)), n / 2 - 1);
    lags.nLatest = std::min(lags.nLatest, n - 1 + lags.nEarliest);
    return lags;
}

double At(const std::vector<double>& ad, int nLag) {
    const int n = int(ad.size());
    return ad[std::size_t(((nLag % n) + n) % n)];
}

int PeakLag(const std::vector<double>& adResponse, const SLags& lags) {
    int nPeak = lags.nEarliest;
    for (int nLag = lags.nEarliest + 1; nLag <= lags.nLatest; ++nLag) {
        if (At(adResponse, nLag) > At(adResponse, nPeak)) {
            nPeak = nLag;
        }
    }
    return nPeak;
}

// The rest's level is its RMS raised by how far chance alone lifts the
// largest of that many values of noise above their RMS (about sqrt(2 ln M)
// for M of them): without it, the largest of thousands of lags of two
// unrelated signals would stand a dozen dB above their RMS and pass for a
// delay.
double PeakToRestDb(const std::vector<double>& adResponse, const SLags& lags, int nPeak) {
    double dSumSquares = 0.0;
    int nRest = 0;
    for (int nLag = lags.nEarliest; nLag <= lags.nLatest; ++nLag) {
        if (std::abs(nLag - nPeak) > kPeakHalfWidth) {
            dSumSquares += At(adResponse, nLag) * At(adResponse, nLag);
            ++nRest;
        }
    }
    if (nRest < 2) {
        return 0.0;
    }
    const double dRest = std::sqrt(dSumSquares / nRest) * std::sqrt(2.0 * std::log(double(nRest)));
    return 20.0 * std::log10(At(adResponse, nPeak) / dRest);
}

SDelayResult NotFound(std::string strWhy, double dPeakToRestDb = 0.0) {
    SDelayResult result;
    result.dPeakToRestDb = dPeakToRestDb;
    result.strWhy = std::move(strWhy);
    return result;
}

std::string NoPeakReason(double dPeakToRestDb) {
    char sz[160];
    std::snprintf(sz, sizeof sz,
                  "No clear peak: the channels are not correlated (the peak stands only %.1f dB "
                  "above the rest; %.0f dB are needed).",
                  dPeakToRestDb, CDelayFinder::kMinPeakToRestDb);
    return sz;
}

} // namespace

int CDelayFinder::BlockLength(int nRingFrames) {
    if (nRingFrames < 1) {
        return 0;
    }
    int nLength = 1;
    while (nLength <= nRingFrames / 2) {
        nLength *= 2;
    }
    return nLength;
}

SDelayResult CDelayFinder::Find(const std::vector<double>& adReference,
                                const std::vector<double>& adMeasurement, int nSampleRate) {
    if (adReference.size() != adMeasurement.size() || !IsPowerOfTwo(adReference.size()) ||
        nSampleRate <= 0) {
        return NotFound("The two channels' blocks do not match.");
    }
    if (!HasPower(adReference)) {
        return NotFound("No signal on the reference channel.");
    }
    if (!HasPower(adMeasurement)) {
        return NotFound("No signal on the measurement channel.");
    }
    const std::vector<double> adResponse = ResponseMagnitude(adReference, adMeasurement);
    const SLags lags = SearchedLags(int(adResponse.size()), nSampleRate);
    const int nPeak = PeakLag(adResponse, lags);
    const double dPeakToRestDb = PeakToRestDb(adResponse, lags, nPeak);
    if (!(dPeakToRestDb >= kMinPeakToRestDb)) {
        return NotFound(NoPeakReason(dPeakToRestDb), dPeakToRestDb);
    }
    SDelayResult result;
    result.bFound = true;
    result.nSamples = nPeak;
    result.dPeakToRestDb = dPeakToRestDb;
    return result;
}
