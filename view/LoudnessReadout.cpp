#include "view/LoudnessReadout.h"

#include "view/FormatText.h"

#include <cmath>

namespace {

// One decimal, or "--" for a figure with no value (or silence's minus
// infinity); in LU with its sign.
std::string Figure(const std::optional<double>& o, double dOffset, bool bSigned) {
    if (!o || !std::isfinite(*o)) {
        return "--";
    }
    return FormatText(bSigned ? "%+.1f" : "%.1f", *o - dOffset);
}

} // namespace

std::string CLoudnessReadout::Text(const SMeasureFrame& m) {
    const SLoudnessFigures& l = m.loudness;
    const bool bLu = m.settings.bLoudnessInLu;
    const double dOffset = bLu ? m.settings.dTargetLufs : 0.0;
    std::string str = FormatText(
        "M %s  S %s  I %s %s  LRA %s LU%s  TP %s dBTP", Figure(l.oMomentary, dOffset, bLu).c_str(),
        Figure(l.oShortTerm, dOffset, bLu).c_str(), Figure(l.oIntegrated, dOffset, bLu).c_str(),
        bLu ? "LU" : "LUFS", Figure(l.oRange, 0.0, false).c_str(),
        l.oRange && !l.bRangeSettled ? " (settling)" : "",
        Figure(l.TruePeak(), 0.0, false).c_str());
    // Time the meter could not hear is left out of its figures, and said.
    if (l.dGapSeconds > 0.0) {
        str += FormatText("  (%.1f s not metered)", l.dGapSeconds);
    }
    return str;
}

COLORREF CLoudnessReadout::Colour(const SMeasureFrame& m, COLORREF crNormal) {
    const SLoudnessFigures& l = m.loudness;
    const std::optional<double> oPeak = l.TruePeak();
    if (oPeak && *oPeak > kTruePeakLimitDbtp) {
        return kRed;
    }
    if (l.oShortTerm && *l.oShortTerm > m.settings.dTargetLufs + kLoudAboveTargetLu) {
        return kAmber;
    }
    return crNormal;
}

void CLoudnessReadout::Draw(CDC& dc, const SFrame& f, int y) {
    const COLORREF crText = dc.GetTextColor();
    dc.SetTextColor(Colour(f.measures, crText));
    dc.TextOut(33, y, Text(f.measures));
    dc.SetTextColor(crText);
}
