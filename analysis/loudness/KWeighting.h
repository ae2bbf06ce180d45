#pragma once

// One second-order section as BS.1770 writes its filters: the numerator
// b0 + b1 z^-1 + b2 z^-2 over 1 + a1 z^-1 + a2 z^-2.
struct SBiquadCoefficients {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

// The K weighting of BS.1770 that loudness is measured through: a high shelf
// of about +4 dB above 2 kHz, for the head's effect on what reaches the ears,
// then the RLB high-pass near 38 Hz. The standard gives both as coefficients
// at 48 kHz only; each is taken here as the bilinear transform of an analog
// prototype with its centre frequency prewarped, which gives those
// coefficients at 48 kHz and the same curve at any other rate.
class CKWeighting {
public:
    CKWeighting() { Design(48000); }

    // Designs both stages for a rate; the next sample starts them.
    void Design(int nSampleRate);
    int SampleRate() const { return m_nSampleRate; }
    const SBiquadCoefficients& Shelf() const { return m_shelf.c; }
    const SBiquadCoefficients& HighPass() const { return m_highPass.c; }

    // Forgets the signal: the next sample is taken as a steady level that has
    // lasted, so that an offset gives no transient.
    void Restart() { m_bPrimed = false; }

    double Process(double x) {
        if (!m_bPrimed) {
            Prime(x);
        }
        return m_highPass.Process(m_shelf.Process(x));
    }

    // Clears state too small to matter before it decays into subnormal
    // numbers, which would slow the sections down a hundredfold in digital
    // silence; called now and then, not per sample.
    void FlushTinyState();

private:
    // y = b0 x + s1; s1 = b1 x - a1 y + s2; s2 = b2 x - a2 y (transposed form 2).
    struct SSection {
        SBiquadCoefficients c;
        double s1 = 0.0, s2 = 0.0;
        double Process(double x) {
            const double y = c.b0 * x + s1;
            s1 = c.b1 * x - c.a1 * y + s2;
            s2 = c.b2 * x - c.a2 * y;
            return y;
        }
        // The state of a section that has had the input x for ever; its output.
        double Settle(double x);
    };

    void Prime(double x);

    int m_nSampleRate = 0;
    SSection m_shelf;
    SSection m_highPass;
    bool m_bPrimed = false;
};
