#include "view/DistortionReadout.h"

#include "view/FormatText.h"
#include "view/MarkerOverlay.h"

#include <cmath>

namespace {

const char* Reason(EDistortionStatus eStatus) {
    switch (eStatus) {
    case EDistortionStatus::NoData:
        return "Distortion: waiting for a whole block";
    case EDistortionStatus::SpanTooNarrow:
        return "Distortion: the span does not hold the tone's whole lobe";
    case EDistortionStatus::TransformTooShort:
        return "Distortion: the transform is too short for a tone this low (more points)";
    case EDistortionStatus::NoTone:
        return "Distortion: no tone 20 dB above the rest";
    case EDistortionStatus::AboveBand:
        return "Distortion: the tone lies above the 20 kHz band";
    case EDistortionStatus::BlockTooShort:
        return "Distortion: Length must take the whole block";
    case EDistortionStatus::Ok:
        break;
    }
    return "";
}

} // namespace

std::string CDistortionReadout::Percent(double dPercent) {
    const int nDecimals =
        dPercent > 0.0 ? std::clamp(2 - int(std::floor(std::log10(dPercent))), 1, 7) : 3;
    return FormatText("%.*f", nDecimals, dPercent);
}

std::string CDistortionReadout::Text(const SDistortion& d) {
    if (d.eStatus != EDistortionStatus::Ok) {
        return Reason(d.eStatus);
    }
    std::string str = FormatText("%.1f Hz %.1f dBFS", d.dFundamentalHz, d.dFundamentalDbfs);
    str += d.nHarmonics > 0
               ? FormatText("  THD %s %% (%.1f dB)", Percent(d.dThdPercent).c_str(), d.dThdDb)
               : std::string("  THD: no harmonic in the band");
    // Within a few dB of what 16 bits allow, the figure is the input's, not
    // the device's.
    if (d.bAtInputLimit) {
        return str + FormatText("  THD+N at the 16-bit input's limit (%.1f dB)", d.dInputLimitDb);
    }
    return str + FormatText("  THD+N %s %% (%.1f dB)  SINAD %.1f dB",
                            Percent(d.dThdnPercent).c_str(), d.dThdnDb, d.dSinadDb);
}

std::string CDistortionReadout::HarmonicLabel(int k, const SHarmonic& h) {
    return FormatText("H%d %.0f", k, h.dDb);
}

void CDistortionReadout::Draw(CDC& dc, const SFrame& f, const std::vector<SRectangle>& aBars,
                              int y) {
    const SDistortion& d = f.measures.distortion;
    dc.TextOut(33, y, Text(d));
    if (d.eStatus != EDistortionStatus::Ok) {
        return;
    }
    int nFreeX = 0; // labels left to right, none over the one before
    for (int k = SDistortion::kFirstHarmonic; k <= SDistortion::kLastHarmonic; ++k) {
        const SHarmonic& h = d.Harmonic(k);
        const int x = h.bPresent ? CMarkerOverlay::ColumnOf(f, h.dHz) : -1;
        if (x < 0) {
            continue;
        }
        const std::string str = HarmonicLabel(k, h);
        const CSize size = dc.GetTextExtent(str);
        const int nLeft = x - size.cx / 2;
        if (nLeft < nFreeX) {
            continue;
        }
        const int nTop = CMarkerOverlay::BarTopAt(f, aBars, x);
        dc.TextOut(nLeft, std::max(nTop - 2 - size.cy, y + 14), str);
        nFreeX = nLeft + size.cx + 4;
    }
}
