#include "analysis/distortion/BlackmanHarris7.h"

#include <cmath>
#include <iterator>
#include <numbers>

namespace {

constexpr double kCoefficients[] = {0.27105140069342, 0.43329793923448, 0.21812299954311,
                                    0.06592544638803, 0.01081174209837, 0.00077658482522,
                                    0.00001388721735};

} // namespace

void FillBlackmanHarris7(double* pWindow, int nLength) {
    for (int n = 0; n < nLength; ++n) {
        double dSum = 0.0;
        double dSign = 1.0;
        for (int k = 0; k < int(std::size(kCoefficients)); ++k, dSign = -dSign) {
            // The phase reduced to one turn in integers, so that every term is
            // as exact as the cosine itself.
            const int nTurn = int((long long)k * n % nLength);
            dSum += dSign * kCoefficients[k] * std::cos(2.0 * std::numbers::pi * nTurn / nLength);
        }
        pWindow[n] = dSum;
    }
}
