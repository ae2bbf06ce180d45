#include "analysis/LobePeak.h"

#include <algorithm>

int StrongestBinIn(const double* pPower, int nBins, int nFirst, int nEnd) {
    nFirst = std::max(nFirst, 1);
    nEnd = std::min(nEnd, nBins);
    int nBest = -1;
    for (int k = nFirst; k < nEnd; ++k) {
        if (nBest < 0 || pPower[k] > pPower[nBest]) {
            nBest = k;
        }
    }
    return nBest;
}

namespace {

// From bin k towards the stronger neighbour while the power rises.
int ClimbToPeak(const double* pPower, int nBins, int k, int nClimb) {
    for (int step = 0; step < nClimb; ++step) {
        const bool bLeft = k > 1 && pPower[k - 1] > pPower[k];
        const bool bRight = k + 1 < nBins && pPower[k + 1] > pPower[k];
        if (!bLeft && !bRight) {
            break;
        }
        k = bLeft && (!bRight || pPower[k - 1] > pPower[k + 1]) ? k - 1 : k + 1;
    }
    return k;
}

} // namespace

SLobePeak LobePeakAt(const double* pPower, int nBins, int nNear, double dNoiseBandwidthBins,
                     int nClimb) {
    SLobePeak peak;
    if (pPower == nullptr || nBins < 3 || nNear < 1 || nNear >= nBins ||
        !(dNoiseBandwidthBins > 0.0)) {
        return peak;
    }
    const int k0 = ClimbToPeak(pPower, nBins, nNear, nClimb);
    int lo = k0;
    while (lo > 1 && k0 - lo < kLobeMaxHalfWidth && pPower[lo - 1] < pPower[lo]) {
        --lo;
    }
    int hi = k0;
    while (hi + 1 < nBins && hi - k0 < kLobeMaxHalfWidth && pPower[hi + 1] < pPower[hi]) {
        ++hi;
    }
    double dSum = 0.0;
    double dMoment = 0.0;
    for (int k = lo; k <= hi; ++k) {
        dSum += pPower[k];
        dMoment += (k - k0) * pPower[k];
    }
    if (!(dSum > 0.0)) {
        return peak;
    }
    peak.dBin = k0 + dMoment / dSum;
    peak.dPower = dSum / dNoiseBandwidthBins;
    peak.bFound = true;
    return peak;
}
