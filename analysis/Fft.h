#pragma once

#include <complex>
#include <vector>

// A radix-2 FFT for analyses of their own (the run's channels have theirs):
// the forward transform of x in place, sum of x[n] e^(-2 pi i k n / N), for
// N a power of two.
void ForwardFft(std::vector<std::complex<double>>& x);
