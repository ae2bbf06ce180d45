#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

class CAnalysisChannel;
struct SDialogSettings;

// One pass of the spectrum, copied at once, and what the file says of the run.
struct SSpectrumSnapshot {
    QString strDevice;
    QString strWindowFunction;
    QDateTime time;
    int nSampleRate = 0;
    int nFftSize = 0;
    int nInertia = 0;
    int nLengthMs = 0;
    bool bPinkToFlat = false;
    bool bHold = false;
    bool bStereo = false;
    int nOffset = 0;
    int nOffsetRight = 0;
    int nYScale = 0;
    // Bins 0 to N/2: averaged power and held maximum, as the channels hold them.
    std::vector<double> leftPower, leftHold, rightPower, rightHold;
};

// The spectrum as a CSV file: comment lines starting with '#' that describe
// the run, a header row, then one row per bin from 0 to N/2 with its frequency
// and, per channel, its level and held level in dB on the display's grid and
// its linear power. '.' is the decimal point whatever the locale; the text is
// UTF-8, and the device's name is quoted as RFC 4180 quotes a field.
class CSpectrumCsv {
public:
    // Copies both channels' arrays while holding their locks (left, then
    // right, as the frames take them), so that every row comes from one pass.
    static SSpectrumSnapshot Take(const CAnalysisChannel& left, const CAnalysisChannel& right,
                                  const SDialogSettings& settings, int nSampleRate, int nFftSize,
                                  const QString& strDevice, const QString& strWindowFunction);
    static QByteArray Format(const SSpectrumSnapshot& snapshot);
    // A field as RFC 4180 writes it: quoted when it holds a comma, a quote or
    // a line break, with its quotes doubled.
    static QString Quote(const QString& strField);
};
