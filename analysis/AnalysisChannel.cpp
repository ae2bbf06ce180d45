#include "analysis/AnalysisChannel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

template <typename T> T* AllocateZeroed(int n) {
    return new (std::nothrow) T[n]();
}

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

CAnalysisChannel::~CAnalysisChannel() {
    FreeArrays();
}

void CAnalysisChannel::FreeArrays() {
    delete[] m_pSamples;
    delete[] m_pPower;
    delete[] m_pHold;
    delete[] m_pWork;
    delete[] m_pWindow;
    delete[] m_pCos;
    delete[] m_pNegSin;
    delete[] m_pBitRev;
    delete[] m_pTwiddleRe;
    delete[] m_pTwiddleIm;
    delete[] m_pRotor;
    m_pRotor = nullptr;
    m_pSamples = nullptr;
    m_pPower = m_pHold = m_pWindow = m_pCos = m_pNegSin = nullptr;
    m_pWork = m_pTwiddleRe = m_pTwiddleIm = nullptr;
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
        m_pTwiddleRe = AllocateZeroed<SComplex>(nSize);
        m_pTwiddleIm = AllocateZeroed<SComplex>(nSize);
        m_pRotor = AllocateZeroed<SComplex>(nSize);
        if (!m_pSamples || !m_pPower || !m_pHold || !m_pWork || !m_pWindow || !m_pCos ||
            !m_pNegSin || !m_pBitRev || !m_pTwiddleRe || !m_pTwiddleIm || !m_pRotor) {
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
            m_pRotor[i] = SComplex{m_pCos[i], m_pNegSin[i]};
        }
        BuildTwiddles();
    }
    SetWindow(m_nWindowType.load(std::memory_order_relaxed), 0);
    return true;
}

// Each stage's twiddle advances by a complex recurrence from (1, 0); storing the
// values it reaches lets Transform use them without recomputing them, bit for
// bit. They are kept in the butterflies' lane layout: (re, re) and (-im, im).
void CAnalysisChannel::BuildTwiddles() {
    int k = 0;
    for (int half = 1; half < m_nSize; half *= 2) {
        const double theta = kPi / half;
        const double c = std::cos(theta);
        const double s = -std::sin(theta);
        SComplex w{1.0, 0.0};
        for (int j = 0; j < half; ++j, ++k) {
            m_pTwiddleRe[k] = SComplex{w.re, w.re};
            m_pTwiddleIm[k] = SComplex{-w.im, w.im};
            w = SComplex{w.re * c - w.im * s, w.im * c + w.re * s};
        }
    }
}

void CAnalysisChannel::SetWindow(int nType, int nLength) {
    std::lock_guard lock(m_lockArrays);
    BuildWindow(nType, nLength);
}

void CAnalysisChannel::BuildWindow(int nType, int nLength) {
    const int n = m_nSize;
    if (nLength <= 0 || nLength > n)
        nLength = n;
    m_nWindowLength.store(nLength, std::memory_order_relaxed);
    if (!m_pWindow)
        return;
    m_nBuiltType = nType;
    m_nBuiltLength = nLength;
    FillWindow(nType, nLength, m_pWindow);
    std::fill(m_pWindow + nLength, m_pWindow + n, 0.0);
    m_dWindowSum = 0.0;
    m_dWindowSumSquares = 0.0;
    for (int i = 0; i < nLength; ++i) {
        m_dWindowSum += m_pWindow[i];
        m_dWindowSumSquares += m_pWindow[i] * m_pWindow[i];
    }
}

void CAnalysisChannel::FillWindow(int nType, int nLength, double* w) {
    const int len = nLength;
    const int h = len / 2;
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
}

SPowerScale CAnalysisChannel::PowerScale() const {
    return SPowerScale{m_dWindowSum, m_dWindowSumSquares, m_nSize,
                       m_bPinkToFlat.load(std::memory_order_relaxed)};
}

void CAnalysisChannel::Transform() {
    std::lock_guard lock(m_lockArrays);
    if (!m_pWork)
        return;
    LoadWindowedBlock();
    Butterflies();
    AccumulatePower();
}

// The check and the transform under one lock: a window the user interface
// rebuilt meanwhile never meets a block of another length.
void CAnalysisChannel::Transform(int nLength) {
    std::lock_guard lock(m_lockArrays);
    if (!m_pWork)
        return;
    const int nType = m_nWindowType.load(std::memory_order_relaxed);
    nLength = std::clamp(nLength, 1, m_nSize);
    if (nLength != m_nBuiltLength || nType != m_nBuiltType)
        BuildWindow(nType, nLength);
    LoadWindowedBlock();
    Butterflies();
    AccumulatePower();
}

// The bit reversal is its own inverse: entry j takes sample m_pBitRev[j], so
// that the work array is written in order (a third quicker than scattering
// the samples into it).
void CAnalysisChannel::LoadWindowedBlock() {
    for (int j = 0; j < m_nSize; ++j) {
        const int i = m_pBitRev[j];
        m_pWork[j] = SComplex{m_pSamples[i] * m_pWindow[i], 0.0};
    }
}

// Hot loops are compiled twice, for processors with and without AVX, and the
// loader picks one. Sanitizer builds keep one version: the loader runs the
// picking code before the sanitizer runtime is ready for it.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define VEMRA_VECTOR_CLONES
#else
#define VEMRA_VECTOR_CLONES __attribute__((target_clones("avx", "default")))
#endif

namespace {

typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));
typedef long long V2i __attribute__((vector_size(16)));
typedef long long V4i __attribute__((vector_size(32)));

template <typename V> V Load(const double* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename V> void Store(double* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

V2 SwapParts(V2 x) {
    return __builtin_shuffle(x, V2i{1, 0});
}
V4 SwapParts(V4 x) {
    return __builtin_shuffle(x, V4i{1, 0, 3, 2});
}

// One butterfly per complex value in V, on interleaved (re, im) doubles:
//   t = w * b;  b = a - t;  a = a + t
// with wRe = (w.re, w.re, ...) and wIm = (-w.im, w.im, ...). Lane by lane this is
// t.re = w.re*b.re + (-w.im)*b.im and t.im = w.re*b.im + w.im*b.re, which round
// exactly like w.re*b.re - w.im*b.im and w.im*b.re + w.re*b.im.
template <typename V>
inline void Butterfly(double* a, double* b, const double* wRe, const double* wIm) {
    const V x = Load<V>(b);
    const V u = Load<V>(a);
    const V t = Load<V>(wRe) * x + Load<V>(wIm) * SwapParts(x);
    Store(b, u - t);
    Store(a, u + t);
}

// Radix-2 decimation in time over n interleaved complex values. Within a stage
// the butterflies are independent, so they run group by group with the twiddle
// index innermost, walking memory in order; the first stage has one twiddle per
// group, every later one an even number, two of which fit one wide vector.
VEMRA_VECTOR_CLONES void RunButterflies(double* work, int n, const double* twRe,
                                        const double* twIm) {
    for (int group = 0; group < n; group += 2)
        Butterfly<V2>(work + 2 * group, work + 2 * group + 2, twRe, twIm);
    twRe += 2;
    twIm += 2;
    for (int half = 2, span = 4; half < n; half = span, span *= 2) {
        for (int group = 0; group < n; group += span) {
            double* a = work + 2 * group;
            double* b = a + 2 * half;
            for (int j = 0; j < 2 * half; j += 4)
                Butterfly<V4>(a + j, b + j, twRe + j, twIm + j);
        }
        twRe += 2 * half;
        twIm += 2 * half;
    }
}

} // namespace

void CAnalysisChannel::Butterflies() {
    RunButterflies(&m_pWork[0].re, m_nSize, &m_pTwiddleRe[0].re, &m_pTwiddleIm[0].re);
}

namespace {

// Power of each bin, folded into the running average and the held maximum.
// Written without branches so that the compiler can vectorise it; every lane
// computes what the plain per-bin rule computes.
VEMRA_VECTOR_CLONES void AccumulateBins(const double* work, int n, bool pink, bool fastAttack,
                                        int inertia, double* power, double* hold) {
    const double m = inertia;
    const double mMinus1 = inertia - 1;
    for (int i = 0; i < n; ++i) {
        const double re = work[2 * i];
        const double im = work[2 * i + 1];
        const double g = pink ? static_cast<double>(i) : 1.0;
        const double p = g * (re * re + im * im);
        const double old = power[i];
        const double averaged = (p + mMinus1 * old) / m;
        const double next = (fastAttack && p > old) ? p : averaged;
        power[i] = next;
        hold[i] = next > hold[i] ? next : hold[i];
    }
}

} // namespace

void CAnalysisChannel::AccumulatePower() {
    AccumulateBins(&m_pWork[0].re, m_nSize, m_bPinkToFlat.load(std::memory_order_relaxed),
                   m_bFastAttack.load(std::memory_order_relaxed) != 0,
                   std::max(1, m_nInertia.load(std::memory_order_relaxed)), m_pPower, m_pHold);
}

namespace {

typedef double V2d __attribute__((vector_size(16)));

// One frequency's share of a walk over the block: its phase, which steps by
// a and wraps at N, and its two sums, side by side in one vector (real,
// imaginary). Lane by lane the same operations in the same order as two
// scalar sums, so the same bits.
struct SPhaseWalk {
    double a;
    double phase;
    V2d sum;

    explicit SPhaseWalk(double dStep) : a(dStep), phase(dStep), sum{0.0, 0.0} {}
    void Step(const SComplex* pRotor, double dSample, int n) {
        V2d rotor;
        std::memcpy(&rotor, &pRotor[static_cast<int>(phase)], sizeof rotor);
        sum += V2d{dSample, dSample} * rotor;
        phase += a;
        if (phase >= n)
            phase -= n;
    }
    double Magnitude() const { return std::sqrt(sum[1] * sum[1] + sum[0] * sum[0]); }
};

} // namespace

// The block's zero tail adds nothing to the sums: the walk ends at its last
// sample that is not zero.
int CAnalysisChannel::BlockEnd() const {
    int nEnd = m_nSize;
    while (nEnd > 0 && m_pSamples[nEnd - 1] == 0)
        --nEnd;
    return nEnd;
}

double CAnalysisChannel::EvaluateAt(double dHz) const {
    const int n = m_nSize;
    if (n <= 0)
        return 0.0;
    const double a = dHz * m_dBinsPerHz;
    // Outside [0, N) the phase would index past the tables.
    if (!(a >= 0.0 && a < n))
        return 0.0;
    SPhaseWalk walk(a);
    for (int k = 0, nEnd = BlockEnd(); k < nEnd; ++k)
        walk.Step(m_pRotor, m_pSamples[k], n);
    return walk.Magnitude();
}

// Two walks in one loop: each waits on its own phase, which is what bounds
// one walk's speed, so two take little longer than one.
void CAnalysisChannel::EvaluateAt(double dHz1, double dHz2, double& dMagnitude1,
                                  double& dMagnitude2) const {
    const int n = m_nSize;
    const double a1 = dHz1 * m_dBinsPerHz;
    const double a2 = dHz2 * m_dBinsPerHz;
    if (n <= 0 || !(a1 >= 0.0 && a1 < n) || !(a2 >= 0.0 && a2 < n)) {
        dMagnitude1 = EvaluateAt(dHz1);
        dMagnitude2 = EvaluateAt(dHz2);
        return;
    }
    SPhaseWalk walk1(a1);
    SPhaseWalk walk2(a2);
    for (int k = 0, nEnd = BlockEnd(); k < nEnd; ++k) {
        const double dSample = m_pSamples[k];
        walk1.Step(m_pRotor, dSample, n);
        walk2.Step(m_pRotor, dSample, n);
    }
    dMagnitude1 = walk1.Magnitude();
    dMagnitude2 = walk2.Magnitude();
}

void CAnalysisChannel::ClearHold() {
    std::lock_guard lock(m_lockArrays);
    if (m_pHold)
        std::fill(m_pHold, m_pHold + m_nSize, 0.0);
}

// The block's bins 1 to N/2 weighted with and without the microphone: the
// ratio is what the response does to the meter's level now.
void CAnalysisChannel::CorrectMeter() {
    std::lock_guard lock(m_lockArrays);
    const std::size_t nGains = m_adMeterWithMic.size();
    if (!m_pWork || nGains == 0 || nGains != m_adMeterWeighted.size() ||
        static_cast<int>(nGains) != m_nSize / 2 + 1) {
        return;
    }
    double dWeighted = 0.0;
    double dWithMic = 0.0;
    for (std::size_t k = 1; k < nGains; ++k) {
        const double dPower = m_pWork[k].re * m_pWork[k].re + m_pWork[k].im * m_pWork[k].im;
        dWeighted += dPower * m_adMeterWeighted[k];
        dWithMic += dPower * m_adMeterWithMic[k];
    }
    if (dWeighted > 0.0) {
        m_meter.SetCorrection(dWithMic / dWeighted);
    }
}

void CAnalysisChannel::SetMeterGains(std::vector<double> adWeighted,
                                     std::vector<double> adWithMic) {
    std::lock_guard lock(m_lockArrays);
    m_adMeterWeighted.swap(adWeighted);
    m_adMeterWithMic.swap(adWithMic);
    if (m_adMeterWithMic.empty()) {
        m_meter.SetCorrection(1.0);
    }
}
