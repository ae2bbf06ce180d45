#include "view/LevelReadout.h"

#include "view/FormatText.h"
#include "view/RunningFrame.h"
#include "view/TransferPlot.h"

std::string CLevelReadout::MeterText(const SFrame& f) {
    const CLevelScale& levels = *f.pLevels;
    const SMeterFigures& m = f.meter;
    const char* pszLetter = WeightingLetter(levels.Settings().eWeighting);
    std::string str;
    if (levels.Settings().eUnit == ELevelUnit::DbSpl) {
        const char* pszTime = f.bSlowMeter ? "S" : "F";
        if (!m.bValid) {
            return FormatText("L%s%s --  L%seq --  L%s%smax -- dB", pszLetter, pszTime, pszLetter,
                              pszLetter, pszTime);
        }
        str = FormatText("L%s%s %s  L%seq %s  L%s%smax %s dB", pszLetter, pszTime,
                         levels.LevelText(m.dLevel).c_str(), pszLetter,
                         levels.LevelText(m.dLeq).c_str(), pszLetter, pszTime,
                         levels.LevelText(m.dMax).c_str());
    } else {
        const std::string strRms = levels.Settings().eWeighting == EWeighting::Z
                                       ? "RMS"
                                       : FormatText("RMS(%s)", pszLetter);
        if (!m.bValid) {
            return strRms + "  --  Peak -- dBFS";
        }
        str = FormatText("%s %s  Peak %s dBFS", strRms.c_str(), levels.LevelText(m.dLevel).c_str(),
                         levels.LevelText(m.dPeak).c_str());
    }
    // Time the meter could not hear is left out of its figures, and said.
    if (m.dGapSeconds > 0.0) {
        str += FormatText("  (%.1f s not metered)", m.dGapSeconds);
    }
    return str;
}

int CLevelReadout::DrawCaption(CDC& dc, const SFrame& f, int nRightEnd) {
    const int yBelow = f.nMode == 1 ? 34 : 18;
    if (f.IsDesigned() && !f.transfer.bOn) {
        return yBelow;
    }
    // In the transfer-function mode the delay in use takes the caption's place.
    const std::string str = f.transfer.bOn ? CTransferPlot::DelayText(f)
                            : f.bMeter     ? MeterText(f)
                                           : f.pLevels->Caption();
    int x = CRunningFrame::TopLeftX(dc, f);
    if (f.bBuiltInSignal) {
        x += dc.GetTextExtent(CRunningFrame::kBuiltInSignalText).cx + 12;
    }
    int y = 4;
    if (x + dc.GetTextExtent(str).cx + 8 > nRightEnd) {
        x = 33;
        y = yBelow;
    }
    dc.TextOut(x, y, str);
    return std::max(y + 14, yBelow);
}
