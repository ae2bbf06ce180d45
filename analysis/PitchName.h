#pragma once

#include <string>

// The nearest equal-tempered note to a frequency, in scientific pitch: A4 is
// the reference pitch, C4 middle C, and octaves begin at C. The distance to
// the note is in cents, rounded, from -50 to +50.
struct SPitchName {
    std::string strNote; // "A4", "C#4"; empty for no frequency at all
    int nCents = 0;

    static constexpr double kDefaultA4Hz = 440.0;
    static constexpr double kLowestA4Hz = 415.0;
    static constexpr double kHighestA4Hz = 466.0;

    static SPitchName Of(double dHz, double dA4Hz);
    // "B5 +12 cents  1000.00 Hz"; the frequency alone where it names no note.
    static std::string Readout(double dHz, double dA4Hz);
};
