#pragma once

#include "analysis/LevelMeter.h"
#include "analysis/PowerScale.h"
#include "analysis/distortion/DistortionAnalyser.h"
#include "analysis/transfer/TransferFunction.h"

#include <vector>

// One channel as the picture froze: its arrays as the channel held them
// (bins 0 to N/2, before any level unit), the mean power over all N bins,
// the scale, and the bands' held levels as the bars had them.
struct SFrozenChannel {
    std::vector<double> adPower;
    std::vector<double> adHold;
    double dMeanPower = 0.0;
    SPowerScale scale;
    std::vector<double> adBandHold;
};

// What a frozen picture shows instead of the passes going on underneath:
// taken by the first frame after Freeze, drawn by every frame until it ends.
struct SFrozenPass {
    bool bTaken = false;
    bool bStereo = false;
    SFrozenChannel left;
    SFrozenChannel right;
    SMeterFigures meter{};
    double dPeakHz = 0.0;
    int nFftsPerCycle = 10;
    // In the transfer-function mode, its results as they froze.
    bool bTransfer = false;
    CTransferFunction::SResults transfer;
    // The distortion readout's figures as they froze.
    SDistortion distortion;
};
