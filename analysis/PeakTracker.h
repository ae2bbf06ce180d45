#pragma once

class CAnalysisChannel;

// The peak tracker: finds the strongest bin of a channel's power spectrum inside
// a frequency span, refines its frequency between bins by bisection on the exact
// single-frequency magnitude, and folds it into the channel's m_dPeakHz.

// The bins searched: loBin up to hiBin - 1.
struct SPeakBins {
    int loBin;
    int hiBin;
};

// A frequency bracket in Hz: the peak lies between lo and hi.
struct SPeakBracket {
    double lo;
    double hi;
};

SPeakBins PeakSearchBins(int nFftSize, int nSampleRate, int nSpanLowHz, int nSpanHighHz);

// The first bin of loBin..hiBin-1 with the greatest power above 0, else 0.
int FindStrongestBin(const double* pPower, SPeakBins bins);

// Half a bin beside bin v, on the side of its stronger neighbour (towards it
// when the neighbours are equal or v is 0).
SPeakBracket PeakBracket(const double* pPower, int v, int nFftSize, int nSampleRate);

// Evaluates both ends, then bisects ten times: the weaker end moves to the
// midpoint, the lower one on a tie. evaluate(hz) gives the magnitude at hz.
template <typename Evaluate> SPeakBracket RefinePeak(Evaluate&& evaluate, SPeakBracket bracket) {
    double eLo = evaluate(bracket.lo);
    double eHi = evaluate(bracket.hi);
    for (int step = 0; step < 10; ++step) {
        const double mid = (bracket.lo + bracket.hi) * 0.5;
        if (eLo > eHi) {
            bracket.hi = mid;
            eHi = evaluate(mid);
        } else {
            bracket.lo = mid;
            eLo = evaluate(mid);
        }
    }
    return bracket;
}

// The same bisection, two evaluations at a time: a step's midpoint and the
// next one's are both known before either is evaluated (which end moves
// depends on the ends' values, which the step before left), so each pair of
// steps evaluates its two midpoints together. evaluate(hz1, hz2, e1, e2);
// the bracket comes out as RefinePeak's, bit for bit.
template <typename EvaluateTwo>
SPeakBracket RefinePeakInPairs(EvaluateTwo&& evaluate, SPeakBracket bracket) {
    double eLo = 0.0;
    double eHi = 0.0;
    evaluate(bracket.lo, bracket.hi, eLo, eHi);
    for (int step = 0; step < 10; step += 2) {
        const double mid1 = (bracket.lo + bracket.hi) * 0.5;
        const bool bHiMoves = eLo > eHi;
        SPeakBracket next =
            bHiMoves ? SPeakBracket{bracket.lo, mid1} : SPeakBracket{mid1, bracket.hi};
        const double mid2 = (next.lo + next.hi) * 0.5;
        double e1 = 0.0;
        double e2 = 0.0;
        evaluate(mid1, mid2, e1, e2);
        (bHiMoves ? eHi : eLo) = e1;
        if (eLo > eHi) {
            next.hi = mid2;
            eHi = e2;
        } else {
            next.lo = mid2;
            eLo = e2;
        }
        bracket = next;
    }
    return bracket;
}

// One tracking step: search, bracket, refine, smooth into m_dPeakHz. Makes
// exactly twelve single-frequency evaluations.
void TrackPeak(CAnalysisChannel& chan, int nFftSize, int nSampleRate, int nSpanLowHz,
               int nSpanHighHz);
