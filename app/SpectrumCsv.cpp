#include "app/SpectrumCsv.h"

#include <mutex>

#include "analysis/AnalysisChannel.h"
#include "app/DialogSettings.h"
#include "view/BuildInfo.h"
#include "view/GridLevel.h"

namespace {

// The bins a transform of N points resolves, 0 to N/2.
std::vector<double> FirstHalf(const double* pValues, int nSize) {
    if (!pValues || nSize <= 0)
        return {};
    return std::vector<double>(pValues, pValues + nSize / 2 + 1);
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

void AppendChannel(QString& strRow, const std::vector<double>& power,
                   const std::vector<double>& hold, size_t nBin, int nOffset, int nYScale) {
    strRow += u',' + Number(GridLevelDb(power[nBin], nOffset, nYScale), 3);
    strRow += u',' + Number(GridLevelDb(hold[nBin], nOffset, nYScale), 3);
    strRow += u',' + Exact(power[nBin]);
}

} // namespace

SSpectrumSnapshot CSpectrumCsv::Take(const CAnalysisChannel& left, const CAnalysisChannel& right,
                                     const SDialogSettings& settings, int nSampleRate, int nFftSize,
                                     const QString& strDevice, const QString& strWindowFunction) {
    SSpectrumSnapshot s;
    s.strDevice = strDevice;
    s.strWindowFunction = strWindowFunction;
    s.time = QDateTime::currentDateTime();
    s.nSampleRate = nSampleRate;
    s.nFftSize = nFftSize;
    s.nInertia = settings.m_nInertia;
    s.nLengthMs = settings.m_nLengthMs;
    s.bPinkToFlat = settings.m_bPinkToFlat;
    s.bHold = settings.m_bHold;
    s.bStereo = settings.m_bStereo;
    s.nOffset = settings.m_nOffset;
    s.nOffsetRight = settings.m_nOffsetRight;
    s.nYScale = settings.m_nYScale;
    auto lockLeft = left.LockArrays();
    s.leftPower = FirstHalf(left.m_pPower, left.m_nSize);
    s.leftHold = FirstHalf(left.m_pHold, left.m_nSize);
    if (s.bStereo) {
        auto lockRight = right.LockArrays();
        s.rightPower = FirstHalf(right.m_pPower, right.m_nSize);
        s.rightHold = FirstHalf(right.m_pHold, right.m_nSize);
    }
    return s;
}

QByteArray CSpectrumCsv::Format(const SSpectrumSnapshot& s) {
    const QDateTime local = s.time.toOffsetFromUtc(s.time.offsetFromUtc());
    QString text;
    auto line = [&text](const QString& strLine) { text += strLine + QStringLiteral("\r\n"); };
    line(QStringLiteral("# Vemra-2 %1 spectrum").arg(QString::fromUtf8(g_szVersion)));
    line(QStringLiteral("# Date: ") + local.toString(Qt::ISODate));
    line(QStringLiteral("# Device: ") + Quote(s.strDevice));
    line(QStringLiteral("# Sample rate (Hz): %1").arg(s.nSampleRate));
    line(QStringLiteral("# Transform size: %1").arg(s.nFftSize));
    line(QStringLiteral("# Window function: ") + s.strWindowFunction);
    line(QStringLiteral("# Inertia: %1").arg(s.nInertia));
    line(QStringLiteral("# Length (ms): %1").arg(s.nLengthMs));
    line(QStringLiteral("# Pink 2 Flat: ") + OnOff(s.bPinkToFlat));
    line(QStringLiteral("# Hold: ") + OnOff(s.bHold));
    line(QStringLiteral("# Stereo: ") + OnOff(s.bStereo));
    line(QStringLiteral("# Offset: %1").arg(s.nOffset));
    if (s.bStereo)
        line(QStringLiteral("# Offset (R): %1").arg(s.nOffsetRight));
    line(QStringLiteral("# Y-scale: %1").arg(s.nYScale));

    QString header = QStringLiteral("Frequency (Hz),Left level (dB),Left hold (dB),Left power");
    if (s.bStereo)
        header += QStringLiteral(",Right level (dB),Right hold (dB),Right power");
    line(header);
    const bool bRight = s.bStereo && s.rightPower.size() == s.leftPower.size();
    for (size_t k = 0; k < s.leftPower.size(); ++k) {
        QString row = Exact(double(k) * s.nSampleRate / s.nFftSize);
        AppendChannel(row, s.leftPower, s.leftHold, k, s.nOffset, s.nYScale);
        if (bRight)
            AppendChannel(row, s.rightPower, s.rightHold, k, s.nOffsetRight, s.nYScale);
        line(row);
    }
    return text.toUtf8();
}

QString CSpectrumCsv::Quote(const QString& strField) {
    if (!strField.contains(u',') && !strField.contains(u'"') && !strField.contains(u'\n') &&
        !strField.contains(u'\r'))
        return strField;
    QString quoted = strField;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}
