#pragma once

#include "view/SpanGeometry.h"

#include <functional>
#include <string>
#include <vector>

class CDC;
class COctaveBands;

// A label of the frequency axis: its text centred on column x.
struct SAxisLabel {
    int x = 0;
    std::string strText;
};

// Round labels for the frequency axis: 20, 50, 100, 200, 500, 1k, 2k, 5k,
// 10k and 20k (and their like in other decades), then the tens between them
// (30, 40, 60 ...) wherever they have room; a span too narrow for three of
// them takes rounder steps of its own. With bands shown, the bands' nominal
// names stand under their bars instead, the octaves' first. No label comes
// nearer another than kGap pixels, and none leaves the view.
class CRoundLabels {
public:
    static constexpr int kGap = 6;

    using TextWidth = std::function<int(const std::string&)>;
    static std::vector<SAxisLabel> Choose(const SSpanGeometry& geo, int nWidth,
                                          const TextWidth& textWidth,
                                          const COctaveBands* pBands = nullptr);
    // "20", "500", "1k", "2.5k", "20k".
    static std::string Text(double dHz);
    // The labels under the axis, each with a tick down from the axis.
    static void Draw(CDC& dc, const SSpanGeometry& geo, int nWidth, int nPlotBottom,
                     const COctaveBands* pBands);
};
