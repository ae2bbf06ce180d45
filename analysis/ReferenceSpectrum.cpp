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

CReferenceSpectrum::CReferenceSpectrum(std::vector<SPoint> points, std::string strSource)
    : m_points(std::move(points)), m_strSource(std::move(strSource)) {}

CReferenceSpectrum CReferenceSpectrum::FromBins(const double* pPower, int nBins, double dBinWidth,
                                                std::string strSource) {
    std::vector<SPoint> points;
    points.reserve(static_cast<std::size_t>(std::max(nBins, 0)));
    for (int k = 0; k < nBins; ++k)
        points.push_back({k * dBinWidth, pPower[k]});
    return CReferenceSpectrum(std::move(points), std::move(strSource));
}

void CReferenceSpectrum::MapOntoBins(double dBinWidth, int nBins,
                                     std::vector<double>& adPower) const {
    adPower.assign(static_cast<std::size_t>(std::max(nBins, 0)),
                   std::numeric_limits<double>::quiet_NaN());
    if (m_points.size() < 2)
        return;
    // The bins rise in frequency, so the bracketing pair only moves forward.
    std::size_t i = 0;
    for (int k = 0; k < nBins; ++k) {
        const double dHz = k * dBinWidth;
        if (dHz < m_points.front().dHz || dHz > m_points.back().dHz)
            continue;
        while (m_points[i + 1].dHz < dHz)
            ++i;
        const SPoint& a = m_points[i];
        const SPoint& b = m_points[i + 1];
        // A bin on a point of the reference takes its power unchanged.
        if (dHz == a.dHz) {
            adPower[k] = a.dPower;
        } else if (dHz == b.dHz) {
            adPower[k] = b.dPower;
        } else {
            const double t = (dHz - a.dHz) / (b.dHz - a.dHz);
            adPower[k] =
                std::exp(LogPower(a.dPower) + t * (LogPower(b.dPower) - LogPower(a.dPower)));
        }
    }
}
