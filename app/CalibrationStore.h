#pragma once

#include <QString>

#include <memory>
#include <optional>

#include "analysis/MicResponse.h"

// What is kept of a capture device's calibration: the level in dB SPL that a
// full-scale sine stands for, when and how it was measured, and the
// microphone's response, which may be kept without a calibration.
struct SStoredCalibration {
    bool bCalibrated = false;
    double dFullScaleDbSpl = 0.0;
    QString strDate; // ISO 8601
    QString strHow;  // e.g. "calibrator 94.0 dB SPL at 1000 Hz, measured -26.0 dBFS"
    std::shared_ptr<const CMicResponse> pMic;

    bool IsEmpty() const { return !bCalibrated && pMic == nullptr; }
};

// Calibrations are measurements, kept between runs in the user's
// configuration folder ($XDG_CONFIG_HOME/Vemra-2/calibrations.ini), one group
// per capture device, by the device's name. The program's settings are not
// stored there or anywhere.
class CCalibrationStore {
public:
    // A stored calibration that is not a plausible level, or a microphone
    // response that does not read back, is left out, and strRefused (when
    // given) says what and why; the rest of the device's record is kept.
    static std::optional<SStoredCalibration> Load(const QString& strDevice,
                                                  QString* pstrRefused = nullptr);
    // Writes the device's calibration; an empty one removes it. False when the
    // configuration could not be written.
    static bool Save(const QString& strDevice, const SStoredCalibration& calibration);
    static bool Forget(const QString& strDevice);
    // The file they are kept in.
    static QString FilePath();
};
