#pragma once

// The width of one transform bin in Hz, the sample rate over the transform
// size: bin k lies at k times this. Worked out here only, for the view, the
// saved spectrum and the reference alike.
inline double BinWidthHz(int nSampleRate, int nFftSize) {
    return nFftSize > 0 ? static_cast<double>(nSampleRate) / nFftSize : 0.0;
}
