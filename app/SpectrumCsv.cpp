#include "app/SpectrumCsv.h"

#include <cmath>
#include <mutex>

#include "analysis/AnalysisChannel.h"
#include "analysis/OctaveBands.h"
#include "app/CalibrationStore.h"
#include "app/DialogSettings.h"
#include "capture/CaptureEngine.h"
#include "view/BuildInfo.h"
#include "view/DifferenceBars.h"
#include "view/DistortionReadout.h"
#include "view/GridLevel.h"

namespace {

// The bins a transform of N points resolves, 0 to N/2.
std::vector<double> FirstHalf(const double* pValues, int nSize) {
    if (!pValues || nSize <= 0)
        return {};
    return std::vector<double>(pValues, pValues + nSize / 2 + 1);
}

SPowerScale CopyChannel(const CAnalysisChannel& chan, bool bHold, std::vector<double>& power,
                        std::vector<double>& hold) {
    auto lock = chan.LockArrays();
    power = FirstHalf(chan.m_pPower, chan.m_nSize);
    if (bHold)
        hold = FirstHalf(chan.m_pHold, chan.m_nSize);
    return chan.PowerScale();
}

QString OnOff(bool b) {
    return b ? QStringLiteral("on") : QStringLiteral("off");
}

// Locale-independent numbers: QString::number always writes '.'.
QString Number(double d, int nPrecision) {
    return QString::number(d, 'f', nPrecision);
}
// As many digits as bring back the same double.
QString Exact(double d) {
    return QString::number(d, 'g', 17);
}

// How a channel's power becomes the level written: on the display's grid, or
// in the level unit chosen, through the unit's factor per bin for the
// channel's scale (a copy: the left and right channels may differ).
struct SLevelColumn {
    const CLevelScale& levels;
    SPowerScale scale;
    int nOffset;
    int nYScale;
    std::vector<double> adGain;

    SLevelColumn(CLevelScale& unit, const SPowerScale& powerScale, int nOffsetSetting,
                 int nYScaleSetting)
        : levels(unit), scale(powerScale), nOffset(nOffsetSetting), nYScale(nYScaleSetting),
          adGain(unit.IsDesigned() ? std::vector<double>() : unit.ChannelGains(powerScale)) {}

    // A bin's power in the unit's linear scale (as designed: as it is).
    double UnitPower(double dPower, size_t nBin) const {
        return adGain.empty() ? dPower : nBin < adGain.size() ? dPower * adGain[nBin] : 0.0;
    }
    // A value of that scale in dB.
    double Db(double dUnitPower) const {
        return levels.IsDesigned() ? GridLevelDb(dUnitPower, nOffset, nYScale)
                                   : levels.LevelDb(dUnitPower);
    }
    double BinDb(double dPower, size_t nBin) const { return Db(UnitPower(dPower, nBin)); }
    // A band's power from its bins' values (NaN where one of them has none),
    // over the window's noise bandwidth, in the unit's linear scale.
    double BandPower(const COctaveBands& bands, int nBand,
                     const std::vector<double>& values) const {
        const int nBins = static_cast<int>(values.size());
        return bands.WeightedSum(nBand, [&](int k) {
            return k >= 0 && k < nBins ? UnitPower(values[size_t(k)], size_t(k)) : 0.0;
        }) / scale.NoiseBandwidthBins();
    }
};

QString UnitName(const CLevelScale& levels) {
    return levels.IsDesigned() ? QStringLiteral("dB") : QString::fromStdString(levels.Caption());
}

// The columns a channel has, in the order its values follow.
QString ChannelHeader(const QString& strSide, bool bHold, const QString& strUnit) {
    QString header = u',' + strSide + QStringLiteral(" level (") + strUnit + u')';
    if (bHold)
        header += u',' + strSide + QStringLiteral(" hold (") + strUnit + u')';
    return header + u',' + strSide + QStringLiteral(" power");
}

void AppendChannel(QString& strRow, const std::vector<double>& power,
                   const std::vector<double>& hold, size_t nBin, const SLevelColumn& column) {
    strRow += u',' + Number(column.BinDb(power[nBin], nBin), 3);
    if (!hold.empty())
        strRow += u',' + Number(column.BinDb(hold[nBin], nBin), 3);
    strRow += u',' + Exact(power[nBin]);
}

// On the left channel's levels; a bin the reference does not reach stays empty.
void AppendReference(QString& strRow, double dPower, size_t nBin, const SLevelColumn& column) {
    strRow += u',';
    if (!std::isnan(dPower))
        strRow += Number(column.BinDb(dPower, nBin), 3);
}

// The live level less the reference's, in dB; empty where either has none.
void AppendDifference(QString& strRow, double dLive, double dReference) {
    const double dDb = CDifferenceBars::DifferenceDb(dLive, dReference);
    strRow += u',';
    if (!std::isnan(dDb))
        strRow += Number(dDb, 3);
}

// A value of the transfer function, empty where the bin has none.
QString TransferCell(const std::vector<double>& ad, size_t k, int nDecimals) {
    return k < ad.size() && std::isfinite(ad[k]) ? Number(ad[k], nDecimals) : QString();
}

// The transfer function's settings, then a row per bin from the first to
// half the rate: magnitude, phase and coherence, empty where the reference
// held no signal.
template <typename Comment, typename Line>
void AppendTransfer(const SSpectrumSnapshot& s, Comment comment, Line line) {
    comment(QStringLiteral("Transfer function"), QStringLiteral("on"));
    comment(QStringLiteral("Reference channel"), s.strReferenceChannel);
    comment(QStringLiteral("Delay (ms)"), Number(s.dDelayMs, 2));
    comment(QStringLiteral("Averaging"), s.strAveraging);
    comment(QStringLiteral("Smoothing"), s.strSmoothing);
    line(QStringLiteral("Frequency (Hz),Magnitude (dB),Phase (deg),Coherence"));
    const CTransferFunction::SResults& r = s.transfer;
    for (size_t k = 1; k < r.adMagnitudeDb.size(); ++k) {
        line(Exact(double(k) * s.nSampleRate / s.nFftSize) + u',' +
             TransferCell(r.adMagnitudeDb, k, 3) + u',' + TransferCell(r.adPhaseDeg, k, 2) + u',' +
             TransferCell(r.adCoherence, k, 4));
    }
}

// The markers' frequencies and levels, and their difference once both read.
template <typename Comment> void CommentMarkers(const SSpectrumSnapshot& s, Comment comment) {
    for (int i = 0; i < 2; ++i) {
        if (std::isnan(s.adMarkerHz[i]))
            continue;
        const QString strName = QStringLiteral("Marker ") + QChar(u'A' + i);
        comment(strName + QStringLiteral(" (Hz)"), Number(s.adMarkerHz[i], 3));
        comment(strName + QStringLiteral(" level"),
                std::isnan(s.adMarkerDb[i]) ? QStringLiteral("none") : Number(s.adMarkerDb[i], 2));
    }
    if (!std::isnan(s.adMarkerDb[0]) && !std::isnan(s.adMarkerDb[1]) &&
        !std::isnan(s.adMarkerHz[0]) && !std::isnan(s.adMarkerHz[1]))
        comment(QStringLiteral("Marker delta (dB)"), Number(s.adMarkerDb[1] - s.adMarkerDb[0], 2));
}

// A channel's band levels: the band's power from its bins, and its hold as
// the bars keep it (pHold, one per band; null without Hold).
void AppendBandChannel(QString& strRow, const COctaveBands& bands, int nBand,
                       const std::vector<double>& power, const std::vector<double>* pHold,
                       const SLevelColumn& column) {
    const double dPower = column.BandPower(bands, nBand, power);
    strRow += u',' + Number(column.Db(dPower), 3);
    if (pHold != nullptr) {
        const bool bHeld = static_cast<int>(pHold->size()) == bands.Count();
        strRow += u',' + Number(column.Db(bHeld ? (*pHold)[size_t(nBand)] : dPower), 3);
    }
}

QString MeterDb(const CLevelScale& levels, double dMeanSquare) {
    return Number(levels.LevelDb(dMeanSquare), 1);
}

// The unit, the weighting, the calibration and the meter's figures, in a
// level unit only: a file "As designed" stays as it was.
template <typename Comment>
void CommentLevels(const SSpectrumSnapshot& s, const CLevelScale& levels, Comment comment) {
    if (levels.IsDesigned())
        return;
    const bool bSpl = s.level.eUnit == ELevelUnit::DbSpl;
    const QString strLetter = QString::fromLatin1(WeightingLetter(s.level.eWeighting));
    comment(QStringLiteral("Level unit"), bSpl ? QStringLiteral("dB SPL") : QStringLiteral("dBFS"));
    comment(QStringLiteral("Weighting"), strLetter);
    if (bSpl) {
        comment(QStringLiteral("Calibration"), s.strCalibration);
        comment(QStringLiteral("Full scale (dB SPL)"), Number(s.level.dFullScaleDbSpl, 2));
        comment(QStringLiteral("Microphone response"),
                s.strMicrophone.isEmpty() ? QStringLiteral("none") : s.strMicrophone);
    }
    const QString strTime = s.bSlowMeter ? QStringLiteral("S") : QStringLiteral("F");
    comment(QStringLiteral("Meter time weighting"),
            s.bSlowMeter ? QStringLiteral("Slow") : QStringLiteral("Fast"));
    if (!s.meter.bValid)
        return;
    if (bSpl) {
        comment(u'L' + strLetter + strTime + QStringLiteral(" (dB)"),
                MeterDb(levels, s.meter.dLevel));
        comment(u'L' + strLetter + QStringLiteral("eq (dB)"), MeterDb(levels, s.meter.dLeq));
        comment(u'L' + strLetter + strTime + QStringLiteral("max (dB)"),
                MeterDb(levels, s.meter.dMax));
    } else {
        comment(QStringLiteral("Meter RMS (dBFS)"), MeterDb(levels, s.meter.dLevel));
        comment(QStringLiteral("Meter peak (dBFS)"), MeterDb(levels, s.meter.dPeak));
    }
    comment(QStringLiteral("Meter gaps (s)"), Number(s.meter.dGapSeconds, 1));
}

// A figure to one decimal, "none" without a value; silence's loudness is
// minus infinity.
QString FigureText(const std::optional<double>& o) {
    if (!o || std::isnan(*o))
        return QStringLiteral("none");
    if (std::isinf(*o))
        return *o < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    return Number(*o, 1);
}

QString FigureText(double d) {
    return FigureText(std::optional<double>(d));
}

template <typename Comment> void CommentLoudness(const SSpectrumSnapshot& s, Comment comment) {
    const SLoudnessFigures& l = s.loudness;
    comment(QStringLiteral("Loudness momentary (LUFS)"), FigureText(l.oMomentary));
    comment(QStringLiteral("Loudness short-term (LUFS)"), FigureText(l.oShortTerm));
    comment(QStringLiteral("Loudness integrated (LUFS)"), FigureText(l.oIntegrated));
    comment(QStringLiteral("Loudness range (LU)"), FigureText(l.oRange));
    comment(QStringLiteral("True peak (dBTP)"), FigureText(l.TruePeak()));
    comment(QStringLiteral("Loudness momentary max (LUFS)"), FigureText(l.oMaxMomentary));
    comment(QStringLiteral("Loudness short-term max (LUFS)"), FigureText(l.oMaxShortTerm));
    comment(QStringLiteral("Loudness target (LUFS)"), FigureText(s.dLoudnessTargetLufs));
}

// The figures, or "none" for each where the readout says why it has none
// (the reason in its own line); a harmonic beyond the band or the span is
// "none" too.
template <typename Comment> void CommentDistortion(const SSpectrumSnapshot& s, Comment comment) {
    const SDistortion& d = s.distortion;
    const bool bOk = d.eStatus == EDistortionStatus::Ok;
    if (!bOk)
        comment(QStringLiteral("Distortion"), QString::fromStdString(CDistortionReadout::Text(d)));
    const auto figure = [bOk](double dValue, int nDecimals) {
        return bOk && std::isfinite(dValue) ? Number(dValue, nDecimals) : QStringLiteral("none");
    };
    comment(QStringLiteral("Fundamental (Hz)"), figure(d.dFundamentalHz, 2));
    comment(QStringLiteral("Fundamental (dBFS)"), figure(d.dFundamentalDbfs, 2));
    comment(QStringLiteral("THD (%)"),
            bOk && std::isfinite(d.dThdPercent)
                ? QString::fromStdString(CDistortionReadout::Percent(d.dThdPercent))
                : QStringLiteral("none"));
    comment(QStringLiteral("THD (dB)"), figure(d.dThdDb, 2));
    comment(QStringLiteral("THD+N (%)"),
            bOk && std::isfinite(d.dThdnPercent)
                ? QString::fromStdString(CDistortionReadout::Percent(d.dThdnPercent))
                : QStringLiteral("none"));
    comment(QStringLiteral("THD+N (dB)"), figure(d.dThdnDb, 2));
    if (bOk && d.bAtInputLimit)
        comment(QStringLiteral("THD+N at the input's limit"), QStringLiteral("yes"));
    comment(QStringLiteral("SINAD (dB)"), figure(d.dSinadDb, 2));
    comment(QStringLiteral("SNR (dB)"), figure(d.dSnrDb, 2));
    for (int k = SDistortion::kFirstHarmonic; k <= SDistortion::kLastHarmonic; ++k) {
        const SHarmonic& h = d.Harmonic(k);
        comment(QStringLiteral("H%1 (dB)").arg(k),
                h.bPresent ? figure(h.dDb, 2) : QStringLiteral("none"));
    }
}

// One row per band over the snapshot's span: its centre, nominal frequency
// and edges, each channel's level (and hold), the reference's level in the
// band while one is shown (empty where it does not reach), and whether the
// run resolves the band.
template <typename Line>
void AppendBands(const SSpectrumSnapshot& s, CLevelScale& levels, const QString& strUnit,
                 Line line) {
    COctaveBands bands;
    bands.Build(s.nBandFraction, s.nSampleRate, s.nFftSize, s.dSpanLowHz, s.dSpanHighHz,
                s.leftScale.NoiseBandwidthBins());
    const size_t nBins = s.leftPower.size();
    const bool bRight = s.bStereo && s.rightPower.size() == nBins;
    const bool bHold = s.bHold;
    const bool bReference = !s.reference.empty() && s.reference.size() == nBins;
    auto header = [&](const QString& strSide) {
        QString str = u',' + strSide + QStringLiteral(" level (") + strUnit + u')';
        if (bHold)
            str += u',' + strSide + QStringLiteral(" hold (") + strUnit + u')';
        return str;
    };
    line(QStringLiteral("Band centre (Hz),Nominal (Hz),Lower edge (Hz),Upper edge (Hz)") +
         header(QStringLiteral("Left")) + (bRight ? header(QStringLiteral("Right")) : QString()) +
         (bReference ? QStringLiteral(",Reference level (") + strUnit + u')' : QString()) +
         (bReference && s.bDifference ? QStringLiteral(",Difference (dB)") : QString()) +
         QStringLiteral(",Resolved"));
    const SLevelColumn leftColumn(levels, s.leftScale, s.nOffset, s.nYScale);
    const SLevelColumn rightColumn(levels, s.rightScale, s.nOffsetRight, s.nYScale);
    for (int i = 0; i < bands.Count(); ++i) {
        const SOctaveBand& band = bands.Band(i);
        QString row = Number(band.dCentreHz, 3) + u',' + QString::number(band.dNominalHz, 'g', 6) +
                      u',' + Number(band.dLowHz, 3) + u',' + Number(band.dHighHz, 3);
        AppendBandChannel(row, bands, i, s.leftPower, bHold ? &s.leftBandHold : nullptr,
                          leftColumn);
        if (bRight)
            AppendBandChannel(row, bands, i, s.rightPower, bHold ? &s.rightBandHold : nullptr,
                              rightColumn);
        if (bReference) {
            const double dReference = leftColumn.BandPower(bands, i, s.reference);
            row +=
                u',' + (std::isnan(dReference) ? QString() : Number(leftColumn.Db(dReference), 3));
            if (s.bDifference)
                AppendDifference(row, leftColumn.BandPower(bands, i, s.leftPower), dReference);
        }
        row += bands.IsResolved(i) ? QStringLiteral(",yes") : QStringLiteral(",no");
        line(row);
    }
}

} // namespace

SSpectrumSnapshot CSpectrumCsv::Take(const CCaptureEngine& engine, const SDialogSettings& settings,
                                     int nSampleRate, int nFftSize, const QString& strDevice,
                                     const QString& strWindowFunction) {
    SSpectrumSnapshot s;
    s.strDevice = strDevice;
    s.strWindowFunction = strWindowFunction;
    s.time = QDateTime::currentDateTime();
    s.nSampleRate = nSampleRate;
    s.nFftSize = nFftSize;
    s.nInertia = settings.m_nInertia;
    s.nLengthMs = settings.m_nLengthMs;
    s.bFastAttack = settings.m_bFastAttack;
    s.bPinkToFlat = settings.m_bPinkToFlat;
    s.bHold = settings.m_bHold;
    s.bStereo = settings.m_bStereo;
    s.nOffset = settings.m_nOffset;
    s.nOffsetRight = settings.m_nOffsetRight;
    s.nYScale = settings.m_nYScale;
    const auto lockPass = engine.LockPass();
    s.leftScale = CopyChannel(engine.m_chanLeft, s.bHold, s.leftPower, s.leftHold);
    if (s.bStereo)
        s.rightScale = CopyChannel(engine.m_chanRight, s.bHold, s.rightPower, s.rightHold);
    return s;
}

void CSpectrumCsv::TakeLevels(const CCaptureEngine& engine, const SLevelSettings& level,
                              bool bSlowMeter, const SStoredCalibration& calibration,
                              SSpectrumSnapshot& s) {
    s.level = level;
    s.bSlowMeter = bSlowMeter;
    s.meter = engine.m_chanLeft.m_meter.Figures();
    if (calibration.bCalibrated)
        s.strCalibration = calibration.strDate + u' ' + calibration.strHow;
    if (calibration.pMic != nullptr)
        s.strMicrophone = QString::fromStdString(calibration.pMic->m_strFileName);
}

QByteArray CSpectrumCsv::Format(const SSpectrumSnapshot& s) {
    const QDateTime local = s.time.toOffsetFromUtc(s.time.offsetFromUtc());
    QString text;
    auto line = [&text](const QString& strLine) { text += strLine + QStringLiteral("\r\n"); };
    auto comment = [&line](const QString& strKey, const QString& strValue) {
        line(QStringLiteral("# ") + strKey + QStringLiteral(": ") + CommentText(strValue));
    };
    line(QStringLiteral("# Vemra-2 ") + CommentText(QString::fromUtf8(g_szVersion)) +
         QStringLiteral(" spectrum"));
    comment(QStringLiteral("Date"), local.toString(Qt::ISODate));
    comment(QStringLiteral("Device"), s.strDevice);
    comment(QStringLiteral("Sample rate (Hz)"), QString::number(s.nSampleRate));
    comment(QStringLiteral("Transform size"), QString::number(s.nFftSize));
    comment(QStringLiteral("Window function"), s.strWindowFunction);
    comment(QStringLiteral("Inertia"), QString::number(s.nInertia));
    comment(QStringLiteral("Length (ms)"), QString::number(s.nLengthMs));
    comment(QStringLiteral("Pks"), OnOff(s.bFastAttack));
    comment(QStringLiteral("Pink 2 Flat"), OnOff(s.bPinkToFlat));
    comment(QStringLiteral("Hold"), OnOff(s.bHold));
    comment(QStringLiteral("Stereo"), OnOff(s.bStereo));
    comment(QStringLiteral("Offset"), QString::number(s.nOffset));
    if (s.bStereo)
        comment(QStringLiteral("Offset (R)"), QString::number(s.nOffsetRight));
    comment(QStringLiteral("Y-scale"), QString::number(s.nYScale));
    const bool bReference = !s.reference.empty() && s.reference.size() == s.leftPower.size();
    if (bReference)
        comment(QStringLiteral("Reference"), s.strReference);
    CLevelScale levels;
    levels.Update(s.level, s.nSampleRate, s.nFftSize);
    CommentLevels(s, levels, comment);
    if (s.bFrozen)
        comment(QStringLiteral("Frozen"), QStringLiteral("yes"));
    // The generator's lines are the program's own words, whose commas
    // separate what played as a person reads it: a spreadsheet shows them
    // over a few cells.
    for (const auto& [strKey, strValue] : s.generator)
        line(QStringLiteral("# ") + strKey + QStringLiteral(": ") + strValue);
    if (s.bLoudness)
        CommentLoudness(s, comment);
    if (s.bDistortion && !s.bTransfer)
        CommentDistortion(s, comment);
    // The markers' lines give spectrum levels, which a transfer function's
    // file does not hold.
    if (s.bTransfer) {
        AppendTransfer(s, comment, line);
        return text.toUtf8();
    }
    CommentMarkers(s, comment);
    const QString strUnit = UnitName(levels);
    if (s.nBandFraction > 0) {
        comment(QStringLiteral("Bands"),
                QString::fromStdString(COctaveBands::Name(s.nBandFraction)));
        AppendBands(s, levels, strUnit, line);
        return text.toUtf8();
    }
    // A column is written for every row or not at all.
    const size_t nBins = s.leftPower.size();
    const bool bRight = s.bStereo && s.rightPower.size() == nBins;
    const bool bHold =
        s.bHold && s.leftHold.size() == nBins && (!bRight || s.rightHold.size() == nBins);
    const std::vector<double> none;
    const SLevelColumn leftColumn(levels, s.leftScale, s.nOffset, s.nYScale);
    const SLevelColumn rightColumn(levels, s.rightScale, s.nOffsetRight, s.nYScale);
    line(QStringLiteral("Frequency (Hz)") + ChannelHeader(QStringLiteral("Left"), bHold, strUnit) +
         (bRight ? ChannelHeader(QStringLiteral("Right"), bHold, strUnit) : QString()) +
         (bReference ? QStringLiteral(",Reference level (") + strUnit + u')' : QString()) +
         (bReference && s.bDifference ? QStringLiteral(",Difference (dB)") : QString()));
    for (size_t k = 0; k < nBins; ++k) {
        QString row = Exact(double(k) * s.nSampleRate / s.nFftSize);
        AppendChannel(row, s.leftPower, bHold ? s.leftHold : none, k, leftColumn);
        if (bRight)
            AppendChannel(row, s.rightPower, bHold ? s.rightHold : none, k, rightColumn);
        if (bReference)
            AppendReference(row, s.reference[k], k, leftColumn);
        if (bReference && s.bDifference)
            AppendDifference(row, leftColumn.UnitPower(s.leftPower[k], k),
                             leftColumn.UnitPower(s.reference[k], k));
        line(row);
    }
    return text.toUtf8();
}

QByteArray CSpectrumCsv::FormatFrd(const SSpectrumSnapshot& s) {
    QString text;
    const auto line = [&text](const QString& strLine) { text += strLine + u'\n'; };
    line(QStringLiteral("* Vemra-2 ") + CommentText(QString::fromUtf8(g_szVersion)) +
         QStringLiteral(" transfer function"));
    line(QStringLiteral("* Date: ") + s.time.toString(Qt::ISODate));
    line(QStringLiteral("* Device: ") + CommentText(s.strDevice));
    line(QStringLiteral("* Reference channel: ") + s.strReferenceChannel);
    line(QStringLiteral("* Delay (ms): ") + Number(s.dDelayMs, 2));
    line(QStringLiteral("* Averaging: ") + s.strAveraging + QStringLiteral(", smoothing: ") +
         s.strSmoothing);
    line(QStringLiteral("* Bins with a coherence of at least ") +
         QString::number(s.dCoherenceThreshold) + QStringLiteral(" only"));
    line(QStringLiteral("* Frequency (Hz)  Magnitude (dB)  Phase (deg)"));
    const CTransferFunction::SResults& r = s.transfer;
    for (size_t k = 1; k < r.adMagnitudeDb.size() && k < r.adCoherence.size(); ++k) {
        const bool bValue = std::isfinite(r.adMagnitudeDb[k]) && std::isfinite(r.adPhaseDeg[k]) &&
                            std::isfinite(r.adCoherence[k]);
        if (!bValue || r.adCoherence[k] < s.dCoherenceThreshold)
            continue;
        line(Number(double(k) * s.nSampleRate / s.nFftSize, 4) + u' ' +
             Number(r.adMagnitudeDb[k], 3) + u' ' + Number(r.adPhaseDeg[k], 2));
    }
    return text.toUtf8();
}

QString CSpectrumCsv::CommentText(const QString& strText) {
    QString text;
    text.reserve(strText.size());
    for (const QChar c : strText) {
        if (c == u'"') {
            text += u'\'';
            continue;
        }
        // What any reader may take for a separator or a line break becomes a
        // space, and runs of spaces one.
        const bool bBreak = c == u',' || c == u';' || c.category() == QChar::Other_Control ||
                            c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
        const QChar out = bBreak ? QChar(u' ') : c;
        if (out != u' ' || !text.endsWith(u' '))
            text += out;
    }
    return text;
}
