#include "analysis/PowerScale.h"

#include <algorithm>
#include <vector>

#include "analysis/AnalysisChannel.h"

SPowerScale SPowerScale::OfWindow(int nType, int nLength, int nSize, bool bPinkToFlat) {
    std::vector<double> window(static_cast<std::size_t>(std::max(nLength, 0)), 0.0);
    CAnalysisChannel::FillWindow(nType, nLength, window.data());
    SPowerScale scale{0.0, 0.0, nSize, bPinkToFlat};
    for (double w : window) {
        scale.dWindowSum += w;
        scale.dWindowSumSquares += w * w;
    }
    return scale;
}
