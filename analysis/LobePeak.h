#pragma once

// A tone's frequency and power read off an averaged power spectrum, whatever
// lies between the tone and the nearest bin centre. A window spreads a tone
// over the bins of its main lobe: the lobe's power summed over the window's
// noise bandwidth is the tone's power at a bin centre (the scalloping of the
// peak bin, up to 1.4 dB for the Hann window, cancels), and the power-weighted
// mean of the lobe's bins is the tone's frequency (exact for Hann, within a
// few thousandths of a bin for Hamming and the triangle).
struct SLobePeak {
    double dBin = 0.0;   // the tone's frequency in bins
    double dPower = 0.0; // its power as a bin centre would hold it
    bool bFound = false;
};

// The strongest of bins nFirst to nEnd - 1 (kept inside 1 to nBins - 1), or
// -1 where the range holds none.
int StrongestBinIn(const double* pPower, int nBins, int nFirst, int nEnd);

// The lobe whose peak lies within nClimb bins uphill of bin nNear: from its
// peak outwards as long as the power falls, at most kLobeMaxHalfWidth bins.
SLobePeak LobePeakAt(const double* pPower, int nBins, int nNear, double dNoiseBandwidthBins,
                     int nClimb = 2);

constexpr int kLobeMaxHalfWidth = 64;
