#pragma once

#include <complex>
#include <cstdint>
#include <vector>

// A literal transcription of the analysis loops as they were first written down:
// tables, windows, the butterflies with their twiddle recurrence advanced after
// every inner loop, power averaging and hold. The channel may be organised
// differently for speed but must compute the very same values.
struct SReferenceChannel {
    int n = 0;
    double binsPerHz = 0.0;
    std::vector<int32_t> samples;
    std::vector<double> window, cosTable, negSinTable, power, hold;
    std::vector<int> bitRev;
    std::vector<double> workRe, workIm;
    int windowLength = 0;
    bool pinkToFlat = false;
    int fastAttack = 1;
    int inertia = 1;

    void Setup(int size, double bph, int windowType);
    void SetWindow(int type, int length);
    void Transform();
    double EvaluateAt(double hz) const;
};

// The discrete Fourier transform of a real block, straight from its definition,
// in long double: bins 0 to N - 1.
std::vector<std::complex<long double>> DirectDft(const std::vector<long double>& x);
