#include "ReferenceTransform.h"

#include <cmath>

void SReferenceChannel::Setup(int size, double bph, int windowType) {
    n = size;
    binsPerHz = bph;
    samples.assign(n, 0);
    window.assign(n, 0.0);
    cosTable.assign(n, 0.0);
    negSinTable.assign(n, 0.0);
    power.assign(n, 0.0);
    hold.assign(n, 0.0);
    bitRev.assign(n, 0);
    workRe.assign(n, 0.0);
    workIm.assign(n, 0.0);
    int m = 0;
    while ((1 << m) < n)
        ++m;
    for (int i = 0; i < n; ++i) {
        int r = 0;
        for (int j = 0; j < m; ++j)
            if ((i >> j) & 1)
                r |= 1 << (m - 1 - j);
        bitRev[i] = r;
    }
    for (int i = 0; i < n; ++i) {
        cosTable[i] = cos(i * 6.283185308 / n);
        negSinTable[i] = -sin(i * 6.283185308 / n);
        power[i] = 0;
        hold[i] = 0;
    }
    SetWindow(windowType, 0);
}

void SReferenceChannel::SetWindow(int type, int length) {
    if (length == 0)
        length = n;
    windowLength = length;
    int L = length;
    int h = L / 2;
    if (type == 0) {
        for (int i = 0; i < L; i++)
            window[i] = 1;
    } else if (type == 1) {
        for (int i = 0; i <= h; i++) {
            window[i] = 2.0 * i / L;
            window[L - 1 - i] = 2.0 * i / L;
        }
    } else if (type == 2) {
        for (int i = 0; i < L; i++) {
            int k = 2 * (i - h);
            window[i] = (cos(k * 3.141592654 / L) + 1) * 0.5;
        }
    } else if (type == 3) {
        for (int i = 0; i < L; i++) {
            int k = 2 * (i - h);
            window[i] = cos(k * 3.141592654 / L) * 0.45999999999999996 + 0.54;
        }
    }
    for (int i = L; i < n; i++)
        window[i] = 0;
}

void SReferenceChannel::Transform() {
    for (int i = 0; i < n; i++) {
        workRe[bitRev[i]] = (double)samples[i] * window[i];
        workIm[bitRev[i]] = 0;
    }
    int half = 1;
    int span = 2;
    while (half < n) {
        double theta = 3.141592654 / half;
        double c = cos(theta);
        double s = -sin(theta);
        double wRe = 1;
        double wIm = 0;
        for (int j = 0; j < half; j++) {
            for (int i = j; i < n; i += span) {
                double tRe = wRe * workRe[i + half] - wIm * workIm[i + half];
                double tIm = wIm * workRe[i + half] + wRe * workIm[i + half];
                workRe[i + half] = workRe[i] - tRe;
                workIm[i + half] = workIm[i] - tIm;
                workRe[i] = workRe[i] + tRe;
                workIm[i] = workIm[i] + tIm;
            }
            double nRe = wRe * c - wIm * s;
            double nIm = wIm * c + wRe * s;
            wRe = nRe;
            wIm = nIm;
        }
        half = span;
        span = 2 * span;
    }
    int m = inertia;
    for (int i = 0; i < n; i++) {
        double g = pinkToFlat ? (double)i : 1;
        double p = g * (workRe[i] * workRe[i] + workIm[i] * workIm[i]);
        double v;
        if (fastAttack && p > power[i])
            v = p;
        else
            v = (p + (m - 1) * power[i]) / m;
        power[i] = v;
        if (v > hold[i])
            hold[i] = v;
    }
}

double SReferenceChannel::EvaluateAt(double hz) const {
    if (n <= 0)
        return 0;
    double a = hz * binsPerHz;
    double phase = a;
    double re = 0;
    double im = 0;
    for (int k = 0; k < n; k++) {
        int index = (int)phase;
        re += samples[k] * cosTable[index];
        im += samples[k] * negSinTable[index];
        phase += a;
        if (phase >= n)
            phase -= n;
    }
    return sqrt(im * im + re * re);
}

std::vector<std::complex<long double>> DirectDft(const std::vector<long double>& x) {
    const size_t n = x.size();
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<long double> c(n), s(n);
    for (size_t i = 0; i < n; ++i) {
        c[i] = std::cos(2 * pi * i / n);
        s[i] = -std::sin(2 * pi * i / n);
    }
    // A real block's transform is conjugate-symmetric: bins above N/2 mirror.
    std::vector<std::complex<long double>> out(n);
    for (size_t k = 0; k <= n / 2; ++k) {
        long double re = 0, im = 0;
        size_t idx = 0;
        for (size_t t = 0; t < n; ++t) {
            re += x[t] * c[idx];
            im += x[t] * s[idx];
            idx = (idx + k) & (n - 1);
        }
        out[k] = {re, im};
        if (k > 0 && k < n - k)
            out[n - k] = {re, -im};
    }
    return out;
}
