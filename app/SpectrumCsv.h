#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cmath>
#include <utility>
#include <vector>

#include "analysis/LevelMeter.h"
#include "analysis/LevelScale.h"
#include "analysis/PowerScale.h"
#include "analysis/distortion/DistortionAnalyser.h"
#include "analysis/loudness/LoudnessMeter.h"
#include "analysis/transfer/TransferFunction.h"

class CCaptureEngine;
struct SDialogSettings;
struct SStoredCalibration;

// One pass of the spectrum, copied at once, and what the file says of the run.
struct SSpectrumSnapshot {
    QString strDevice;
    QString strWindowFunction;
    QDateTime time;
    int nSampleRate = 0;
    int nFftSize = 0;
    int nInertia = 0;
    int nLengthMs = 0;
    bool bFastAttack = false;
    bool bPinkToFlat = false;
    bool bHold = false;
    bool bStereo = false;
    int nOffset = 0;
    int nOffsetRight = 0;
    int nYScale = 0;
    // Bins 0 to N/2 as the channels hold them: the averaged power, and the held
    // maximum only while Hold is on (what it holds otherwise is not shown).
    std::vector<double> leftPower, leftHold, rightPower, rightHold;
    // How each channel's power relates to a reference's levels.
    SPowerScale leftScale;
    SPowerScale rightScale;
    // The unit the levels are written in, and in a unit the left channel's
    // meter and the calibration.
    SLevelSettings level;
    bool bSlowMeter = false;
    SMeterFigures meter{};
    QString strCalibration; // its date and how it was made
    QString strMicrophone;  // the microphone response's file
    // The reference shown, as the left channel would hold it at the same bins
    // (NaN where it has none), and where it came from; empty while none is
    // shown.
    std::vector<double> reference;
    QString strReference;
    // Octave bands shown instead of the bins (1/nBandFraction octave, 0 for
    // none), over the span the axis shows.
    int nBandFraction = 0;
    // With bands and Hold, each band's held level as the bars keep it, in
    // the unit's linear scale (as designed: the channel's power); empty while
    // none is held.
    std::vector<double> leftBandHold, rightBandHold;
    double dSpanLowHz = 0.0;
    double dSpanHighHz = 0.0;
    // Markers A and B as the picture reads them: frequency and level in dB of
    // the unit (NaN where not set, or where a marker reads nothing).
    double adMarkerHz[2] = {std::nan(""), std::nan("")};
    double adMarkerDb[2] = {std::nan(""), std::nan("")};
    // The bars show the difference from the reference: the file gets a
    // column of it.
    bool bDifference = false;
    // The picture was frozen: the arrays are those it shows.
    bool bFrozen = false;
    // In the transfer-function mode: its results as the picture shows them
    // (bins 0 to N/2), and how they were made.
    bool bTransfer = false;
    CTransferFunction::SResults transfer;
    QString strReferenceChannel; // "Left" or "Right"
    double dDelayMs = 0.0;
    QString strAveraging; // "2 s", "Infinite"
    QString strSmoothing; // "1/24 octave", "Off"
    double dCoherenceThreshold = 0.3;
    // While the distortion readout is on: its figures.
    bool bDistortion = false;
    SDistortion distortion;
    // While the loudness meter is on: its figures and the target.
    bool bLoudness = false;
    SLoudnessFigures loudness;
    double dLoudnessTargetLufs = -23.0;
    // While the generator plays: its comment lines, key and value.
    std::vector<std::pair<QString, QString>> generator;
};

// The spectrum as a CSV file: comment lines starting with '#' that describe
// the run, a header row, then one row per bin from 0 to N/2 with its frequency
// and, per channel, its level in dB on the display's grid (or in the level
// unit chosen, which the header names), its held level while Hold is on, and
// its linear power; with a reference shown, the
// reference's level on the grid (empty beyond the reference's frequencies).
// With octave bands shown, one row per band instead: its exact centre, its
// nominal frequency and its edges, each channel's band level (and hold), and
// whether the run resolves it ("yes" or "no"). '.' is the decimal point
// whatever the locale; the text is UTF-8.
//
// Every reader must take the file the same way, however the device is named:
// each '#' line is one field (no separator a spreadsheet may split at, be it
// ',', ';' or a tab, no quote and no line break in it), and the other rows
// hold numbers only (and "yes" or "no"), so that no cell of the file can
// start a spreadsheet formula.
class CSpectrumCsv {
public:
    // Copies both channels' arrays of one pass: under the engine's pass lock,
    // then each channel's own, so that left and right come from the same pass.
    static SSpectrumSnapshot Take(const CCaptureEngine& engine, const SDialogSettings& settings,
                                  int nSampleRate, int nFftSize, const QString& strDevice,
                                  const QString& strWindowFunction);
    // The unit levels are read in, the left meter and the calibration.
    static void TakeLevels(const CCaptureEngine& engine, const SLevelSettings& level,
                           bool bSlowMeter, const SStoredCalibration& calibration,
                           SSpectrumSnapshot& snapshot);
    static QByteArray Format(const SSpectrumSnapshot& snapshot);
    // The transfer function as loudspeaker and crossover design programs
    // read it (FRD): '*' comment lines, then "frequency magnitude phase" (Hz,
    // dB, degrees) per bin whose coherence reaches the threshold.
    static QByteArray FormatFrd(const SSpectrumSnapshot& snapshot);
    // A text as a '#' line may carry it, one cell to every reader whatever
    // separator it splits at: commas, semicolons, tabs, line breaks and other
    // control characters become spaces (a run of spaces one), double quotes
    // single ones.
    static QString CommentText(const QString& strText);
};
