#include "app/SpectrumCsv.h"

#include <cmath>
#include <mutex>

#include "analysis/AnalysisChannel.h"
#include "app/DialogSettings.h"
#include "capture/CaptureEngine.h"
#include "view/BuildInfo.h"
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

// The columns a channel has, in the order its values follow.
QString ChannelHeader(const QString& strSide, bool bHold) {
    QString header = u',' + strSide + QStringLiteral(" level (dB)");
    if (bHold)
        header += u',' + strSide + QStringLiteral(" hold (dB)");
    return header + u',' + strSide + QStringLiteral(" power");
}

void AppendChannel(QString& strRow, const std::vector<double>& power,
                   const std::vector<double>& hold, size_t nBin, int nOffset, int nYScale) {
    strRow += u',' + Number(GridLevelDb(power[nBin], nOffset, nYScale), 3);
    if (!hold.empty())
        strRow += u',' + Number(GridLevelDb(hold[nBin], nOffset, nYScale), 3);
    strRow += u',' + Exact(power[nBin]);
}

// On the left channel's grid; a bin the reference does not reach stays empty.
void AppendReference(QString& strRow, double dPower, int nOffset, int nYScale) {
    strRow += u',';
    if (!std::isnan(dPower))
        strRow += Number(GridLevelDb(dPower, nOffset, nYScale), 3);
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
        CopyChannel(engine.m_chanRight, s.bHold, s.rightPower, s.rightHold);
    return s;
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

    // A column is written for every row or not at all.
    const size_t nBins = s.leftPower.size();
    const bool bRight = s.bStereo && s.rightPower.size() == nBins;
    const bool bHold =
        s.bHold && s.leftHold.size() == nBins && (!bRight || s.rightHold.size() == nBins);
    const std::vector<double> none;
    line(QStringLiteral("Frequency (Hz)") + ChannelHeader(QStringLiteral("Left"), bHold) +
         (bRight ? ChannelHeader(QStringLiteral("Right"), bHold) : QString()) +
         (bReference ? QStringLiteral(",Reference level (dB)") : QString()));
    for (size_t k = 0; k < nBins; ++k) {
        QString row = Exact(double(k) * s.nSampleRate / s.nFftSize);
        AppendChannel(row, s.leftPower, bHold ? s.leftHold : none, k, s.nOffset, s.nYScale);
        if (bRight)
            AppendChannel(row, s.rightPower, bHold ? s.rightHold : none, k, s.nOffsetRight,
                          s.nYScale);
        if (bReference)
            AppendReference(row, s.reference[k], s.nOffset, s.nYScale);
        line(row);
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
