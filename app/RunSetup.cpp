#include "app/RunSetup.h"

#include <iterator>

#include "devices/CaptureFormat.h"

namespace {

// ⌊x + 0.5⌋ for the positive values the ranges use.
int RoundHalfUp(double x) {
    return int(x + 0.5);
}

template <std::size_t N> int ValueAt(const int (&aValues)[N], int nIndex, int nFallback) {
    return nIndex >= 0 && nIndex < int(N) ? aValues[nIndex] : nFallback;
}

} // namespace

QStringList SampleRateEntries() {
    QStringList entries;
    for (int nRate : kSampleRates)
        entries << QStringLiteral("%1 Hz").arg(nRate);
    return entries;
}

QStringList FftSizeEntries() {
    QStringList entries;
    for (int nSize : kFftSizes)
        entries << QString::number(nSize);
    return entries;
}

int SampleRateAt(int nIndex, int nFallback) {
    return ValueAt(kSampleRates, nIndex, nFallback);
}

int FftSizeAt(int nIndex, int nFallback) {
    return ValueAt(kFftSizes, nIndex, nFallback);
}

SRunRanges RunRanges(int nSampleRate, int nFftSize) {
    const double R = nSampleRate;
    const double N = nFftSize;
    return SRunRanges{nSampleRate / 2, RoundHalfUp(2.0 * R / N), RoundHalfUp(6.0 * R / N),
                      RoundHalfUp(1000.0 * N / R)};
}

QString OpenFailureReason(int nResult, int nSampleRate) {
    switch (nResult) {
    case kCaptureErrServerHung:
        return QStringLiteral("The sound server is not answering.");
    case kCaptureErrNoServer:
        return QStringLiteral("The sound server is not running.");
    case kCaptureErrStillLooking:
        return QStringLiteral("The sound system is still looking for devices.");
    case kCaptureErrBadFormat:
        return QStringLiteral("This device does not offer %1 Hz.").arg(nSampleRate);
    case kCaptureErrNoDevice:
    case kCaptureErrBusy:
    case kCaptureErrDeviceLost:
        return QStringLiteral("The device is busy or has been removed.");
    case kCaptureErrOutOfMemory:
        return QStringLiteral("There is not enough memory for the capture.");
    default:
        return QStringLiteral("The sound system gave no reason.");
    }
}
