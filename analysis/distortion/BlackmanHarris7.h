#pragma once

// The seven-term cosine-sum window of least sidelobes (Albrecht's), in its
// periodic form: w[n] = sum of (-1)^k a_k cos(2 pi k n / N), k = 0 to 6. Its
// sidelobes stay near -180 dB, below what a 24-bit signal can hold, so that
// a tone's leakage never reads as a harmonic or as noise. The price is a
// main lobe of +-7 bins and a noise bandwidth of about 2.63 bins.
void FillBlackmanHarris7(double* pWindow, int nLength);

// Where the main lobe's first zeros lie either side of a tone, in bins.
constexpr int kBlackmanHarris7HalfWidthBins = 7;
