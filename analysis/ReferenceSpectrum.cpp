#include "analysis/ReferenceSpectrum.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Powers of nothing at all still have a level to interpolate from.
double LogPower(double dPower) {
    return std::log(std::max(dPower, DBL_MIN));
}

} // namespace

CReferenceSpectrum::CReferenceSpectrum(std::vector<SPoint> points, double dNoiseBandwidthHz,
                                       std::string strSource)
    : m_points(std::move(points)), m_dNoiseBandwidthHz(dNoiseBandwidthHz),
      m_strSource(std::move(strSource)) {}

CReferenceSpectrum CReferenceSpectrum::FromBins(const double* pPower, int nBins, double dBinWidth,
                                                const SPowerScale& scale, std::string strSource) {
    std::vector<SPoint> points;
    points.reserve(static_cast<std::size_t>(std::max(nBins, 0)));
    for (int k = 0; k < nBins; ++k) {
        const double dGain = scale.Gain(k);
        if (dGain > 0.0)
            points.push_back({k * dBinWidth, pPower[k] / dGain});
    }
    return CReferenceSpectrum(std::move(points), scale.NoiseBandwidthBins() * dBinWidth,
                              std::move(strSource));
}

// Each point stands for the frequencies nearer to it than to its neighbours;
// the first and the last as far out as in.
double CReferenceSpectrum::CellLow(std::size_t i) const {
    return i == 0 ? m_points[0].dHz - (m_points[1].dHz - m_points[0].dHz) / 2
                  : (m_points[i - 1].dHz + m_points[i].dHz) / 2;
}

double CReferenceSpectrum::CellHigh(std::size_t i) const {
    const std::size_t nLast = m_points.size() - 1;
    return i == nLast ? m_points[nLast].dHz + (m_points[nLast].dHz - m_points[nLast - 1].dHz) / 2
                      : (m_points[i].dHz + m_points[i + 1].dHz) / 2;
}

// In dB between points i and i + 1, which bracket dHz; a frequency on a
// point takes its level unchanged.
double CReferenceSpectrum::Interpolated(std::size_t i, double dHz) const {
    const SPoint& a = m_points[i];
    const SPoint& b = m_points[i + 1];
    if (dHz == a.dHz)
        return a.dLevel;
    if (dHz == b.dHz)
        return b.dLevel;
    const double t = (dHz - a.dHz) / (b.dHz - a.dHz);
    return std::exp(LogPower(a.dLevel) + t * (LogPower(b.dLevel) - LogPower(a.dLevel)));
}

void CReferenceSpectrum::MapOntoBins(double dBinWidth, int nBins,
                                     std::vector<double>& adLevel) const {
    adLevel.assign(static_cast<std::size_t>(std::max(nBins, 0)),
                   std::numeric_limits<double>::quiet_NaN());
    if (m_points.size() < 2)
        return;
    // The bins rise in frequency, so the bracketing pair and the first point
    // reaching into a bin only move forward.
    std::size_t i = 0;
    std::size_t j = 0;
    for (int k = 0; k < nBins; ++k) {
        const double dHz = k * dBinWidth;
        if (dHz < m_points.front().dHz || dHz > m_points.back().dHz)
            continue;
        while (m_points[i + 1].dHz < dHz)
            ++i;
        if (m_points[i + 1].dHz - m_points[i].dHz >= dBinWidth) {
            adLevel[static_cast<std::size_t>(k)] = Interpolated(i, dHz);
            continue;
        }
        // The power over the bin's width, from the points' widths inside it.
        const double dLow = dHz - dBinWidth / 2;
        const double dHigh = dHz + dBinWidth / 2;
        while (CellHigh(j) <= dLow)
            ++j;
        double dEnergy = 0.0;
        double dCovered = 0.0;
        for (std::size_t n = j; n < m_points.size() && CellLow(n) < dHigh; ++n) {
            const double dWidth = std::min(dHigh, CellHigh(n)) - std::max(dLow, CellLow(n));
            dEnergy += m_points[n].dLevel * dWidth;
            dCovered += dWidth;
        }
        // A tone spreads its power over the noise bandwidth of the run it was
        // taken in: a bin wider than that holds all of it.
        const double dSpread =
            m_dNoiseBandwidthHz > 0.0 ? std::min(dCovered, m_dNoiseBandwidthHz) : dCovered;
        adLevel[static_cast<std::size_t>(k)] = dEnergy / dSpread;
    }
}

void CReferenceSpectrum::MapOntoRun(double dBinWidth, int nBins, const SPowerScale& scale,
                                    std::vector<double>& adPower) const {
    MapOntoBins(dBinWidth, nBins, adPower);
    for (std::size_t k = 0; k < adPower.size(); ++k)
        adPower[k] *= scale.Gain(static_cast<double>(k));
}
