#include "analysis/AnalysisChannel.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

template <typename T> T* AllocateZeroed(int n) { return new (std::nothrow) T[n](); }

int Log2(int n) {
    int bits = 0;
    while ((1 << bits) < n)
        ++bits;
    return bits;
}

int ReverseBits(int i, int bits) {
    int r = 0;
    for (int j = 0; j < bits; ++j)
        if (i & (1 << j))
            r |= 1 << (bits - 1 - j);
    return r;
}

} // namespace

CAnalysisChannel::CAnalysisChannel() = default;

CAnalysisChannel::~CAnalysisChannel() { FreeArrays(); }

void CAnalysisChannel::FreeArrays() {
    delete[] m_pSamples;
    delete[] m_pPower;
    delete[] m_pHold;
    delete[] m_pWork;
    delete[] m_pWindow;
    delete[] m_pCos;
    delete[] m_pNegSin;
    delete[] m_pBitRev;
    delete[] m_pTwiddle;
    m_pSamples = nullptr;
    m_pPower = m_pHold = m_pWindow = m_pCos = m_pNegSin = nullptr;
    m_pWork = m_pTwiddle = nullptr;
    m_pBitRev = nullptr;
    m_nSize = 0;
}

bool CAnalysisChannel::Setup(int nSize, double dBinsPerHz) {
    if (nSize < 2 || (nSize & (nSize - 1)) != 0)
        return false;
    {
        std::lock_guard lock(m_lockArrays);
        FreeArrays();
        m_pSamples = AllocateZeroed<int32_t>(nSize);
        m_pPower = AllocateZeroed<double>(nSize);
        m_pHold = AllocateZeroed<double>(nSize);
        m_pWork = AllocateZeroed<SComplex>(nSize);
        m_pWindow = AllocateZeroed<double>(nSize);
        m_pCos = AllocateZeroed<double>(nSize);
        m_pNegSin = AllocateZeroed<double>(nSize);
        m_pBitRev = AllocateZeroed<int>(nSize);
        m_pTwiddle = AllocateZeroed<SComplex>(nSize);
        if (!m_pSamples || !m_pPower || !m_pHold || !m_pWork || !m_pWindow || !m_pCos ||
            !m_pNegSin || !m_pBitRev || !m_pTwiddle) {
            FreeArrays();
            return false;
        }
        m_nSize = nSize;
        m_dBinsPerHz = dBinsPerHz;

        const int bits = Log2(nSize);
        for (int i = 0; i < nSize; ++i) {
            m_pBitRev[i] = ReverseBits(i, bits);
            m_pCos[i] = std::cos(i * kTwoPi / nSize);
            m_pNegSin[i] = -std::sin(i * kTwoPi / nSize);
        }
        BuildTwiddles();
    }
    SetWindow(m_nWindowType.load(std::memory_order_relaxed), 0);
    return true;
}

// Each stage's twiddle advances by a complex recurrence from (1, 0); storing the
// values it reaches lets Transform use them without recomputing them, bit for bit.
void CAnalysisChannel::BuildTwiddles() {
    SComplex* pOut = m_pTwiddle;
    for (int half = 1; half < m_nSize; half *= 2) {
        const double theta = kPi / half;
        const double c = std::cos(theta);
        const double s = -std::sin(theta);
        SComplex w{1.0, 0.0};
        for (int j = 0; j < half; ++j) {
            *pOut++ = w;
            w = SComplex{w.re * c - w.im * s, w.im * c + w.re * s};
        }
    }
}

void CAnalysisChannel::SetWindow(int nType, int nLength) {
    std::lock_guard lock(m_lockArrays);
    const int n = m_nSize;
    if (nLength <= 0 || nLength > n)
        nLength = n;
    m_nWindowLength.store(nLength, std::memory_order_relaxed);
    if (!m_pWindow)
        return;

    const int len = nLength;
    const int h = len / 2;
    double* w = m_pWindow;
    switch (nType) {
    case 0:
        std::fill(w, w + len, 1.0);
        break;
    case 1:
        // Ascending and descending halves written in one sweep; for even lengths
        // the later writes leave a flat top of two ones.
        for (int i = 0; i <= h; ++i) {
            w[i] = 2.0 * i / len;
            w[len - 1 - i] = 2.0 * i / len;
        }
        break;
    case 2:
        for (int i = 0; i < len; ++i) {
            const int k = 2 * (i - h);
            w[i] = (std::cos(k * kPi / len) + 1.0) * 0.5;
        }
        break;
    case 3:
        for (int i = 0; i < len; ++i) {
            const int k = 2 * (i - h);
            w[i] = std::cos(k * kPi / len) * kHammingFactor + 0.54;
        }
        break;
    default:
        break;
    }
    std::fill(w + len, w + n, 0.0);
}

void CAnalysisChannel::Transform() {
    std::lock_guard lock(m_lockArrays);
    if (!m_pWork)
        return;
    LoadWindowedBlock();
    Butterflies();
    AccumulatePower();
}

void CAnalysisChannel::LoadWindowedBlock() {
    for (int i = 0; i < m_nSize; ++i)
        m_pWork[m_pBitRev[i]] = SComplex{m_pSamples[i] * m_pWindow[i], 0.0};
}

// Radix-2 decimation in time. Within a stage the butterflies are independent, so
// they run group by group with the twiddle index innermost, which walks memory in
// order; each butterfly computes exactly what the textbook loop order computes.
void CAnalysisChannel::Butterflies() {
    const int n = m_nSize;
    SComplex* const work = m_pWork;
    const SComplex* w = m_pTwiddle;
    for (int half = 1, span = 2; half < n; half = span, span *= 2) {
        for (int group = 0; group < n; group += span) {
            SComplex* a = work + group;
            SComplex* b = a + half;
            for (int j = 0; j < half; ++j) {
                const double tr = w[j].re * b[j].re - w[j].im * b[j].im;
                const double ti = w[j].im * b[j].re + w[j].re * b[j].im;
                b[j].re = a[j].re - tr;
                b[j].im = a[j].im - ti;
                a[j].re = a[j].re + tr;
                a[j].im = a[j].im + ti;
            }
        }
        w += half;
    }
}

void CAnalysisChannel::AccumulatePower() {
    const int m = std::max(1, m_nInertia.load(std::memory_order_relaxed));
    const bool pink = m_bPinkToFlat.load(std::memory_order_relaxed);
    const bool fastAttack = m_bFastAttack.load(std::memory_order_relaxed) != 0;
    for (int i = 0; i < m_nSize; ++i) {
        const double g = pink ? static_cast<double>(i) : 1.0;
        const double p = g * (m_pWork[i].re * m_pWork[i].re + m_pWork[i].im * m_pWork[i].im);
        const double old = m_pPower[i];
        const double next = (fastAttack && p > old) ? p : (p + (m - 1) * old) / m;
        m_pPower[i] = next;
        if (next > m_pHold[i])
            m_pHold[i] = next;
    }
}

double CAnalysisChannel::EvaluateAt(double dHz) const {
    const int n = m_nSize;
    if (n <= 0)
        return 0.0;
    const double a = dHz * m_dBinsPerHz;
    // Outside [0, N) the phase would index past the tables.
    if (!(a >= 0.0 && a < n))
        return 0.0;
    double phase = a;
    double re = 0.0;
    double im = 0.0;
    for (int k = 0; k < n; ++k) {
        const int index = static_cast<int>(phase);
        re += m_pSamples[k] * m_pCos[index];
        im += m_pSamples[k] * m_pNegSin[index];
        phase += a;
        if (phase >= n)
            phase -= n;
    }
    return std::sqrt(im * im + re * re);
}

void CAnalysisChannel::ClearHold() {
    std::lock_guard lock(m_lockArrays);
    if (m_pHold)
        std::fill(m_pHold, m_pHold + m_nSize, 0.0);
}
