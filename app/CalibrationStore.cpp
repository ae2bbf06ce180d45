#include "app/CalibrationStore.h"

#include <QSettings>
#include <QStringList>
#include <QUrl>

#include <cmath>
#include <memory>

#include "analysis/Calibration.h"

namespace {

std::unique_ptr<QSettings> Store() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Vemra-2"), QStringLiteral("calibrations"));
}

// Any name as one group: '/' and '%' and the rest are escaped.
QString GroupOf(const QString& strDevice) {
    return QStringLiteral("device-") + QString::fromLatin1(QUrl::toPercentEncoding(strDevice));
}

bool Synced(QSettings& settings) {
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace

std::optional<SStoredCalibration> CCalibrationStore::Load(const QString& strDevice,
                                                          QString* pstrRefused) {
    const auto pSettings = Store();
    QSettings& settings = *pSettings;
    settings.beginGroup(GroupOf(strDevice));
    SStoredCalibration stored;
    QStringList refused;
    const QString strFullScale = settings.value(QStringLiteral("fullScaleDbSpl")).toString();
    bool bNumber = false;
    const double dFullScale = strFullScale.toDouble(&bNumber);
    if (bNumber && std::isfinite(dFullScale) && SCalibrationRange::Holds(dFullScale)) {
        stored.bCalibrated = true;
        stored.dFullScaleDbSpl = dFullScale;
        stored.strDate = settings.value(QStringLiteral("date")).toString();
        stored.strHow = settings.value(QStringLiteral("how")).toString();
    } else if (!strFullScale.isEmpty()) {
        refused << QStringLiteral("its calibration (%1 dB SPL at full scale) is not a level "
                                  "between %2 and %3 dB SPL")
                       .arg(strFullScale.left(40))
                       .arg(SCalibrationRange::kLowestDbSpl)
                       .arg(SCalibrationRange::kHighestDbSpl);
    }
    const QString strMic = settings.value(QStringLiteral("microphone")).toString();
    CMicResponse mic;
    if (!strMic.isEmpty() && CMicResponse::Deserialise(strMic.toStdString(), mic) &&
        !mic.IsEmpty()) {
        stored.pMic = std::make_shared<const CMicResponse>(std::move(mic));
    } else if (!strMic.isEmpty() && strMic != QString::fromStdString(CMicResponse().Serialise())) {
        refused << QStringLiteral("its microphone response does not read back as finite points");
    }
    if (pstrRefused != nullptr) {
        *pstrRefused = refused.isEmpty()
                           ? QString()
                           : QStringLiteral("Left out for ") + strDevice + QStringLiteral(": ") +
                                 refused.join(QStringLiteral("; ")) + u'.';
    }
    if (stored.IsEmpty()) {
        return std::nullopt;
    }
    return stored;
}

bool CCalibrationStore::Save(const QString& strDevice, const SStoredCalibration& calibration) {
    const auto pSettings = Store();
    QSettings& settings = *pSettings;
    settings.remove(GroupOf(strDevice));
    if (!calibration.IsEmpty()) {
        settings.beginGroup(GroupOf(strDevice));
        settings.setValue(QStringLiteral("device"), strDevice);
        if (calibration.bCalibrated) {
            // As text, so that the number reads back the same in any locale.
            settings.setValue(QStringLiteral("fullScaleDbSpl"),
                              QString::number(calibration.dFullScaleDbSpl, 'g', 17));
            settings.setValue(QStringLiteral("date"), calibration.strDate);
            settings.setValue(QStringLiteral("how"), calibration.strHow);
        }
        if (calibration.pMic != nullptr) {
            settings.setValue(QStringLiteral("microphone"),
                              QString::fromStdString(calibration.pMic->Serialise()));
        }
        settings.endGroup();
    }
    return Synced(settings);
}

bool CCalibrationStore::Forget(const QString& strDevice) {
    const auto pSettings = Store();
    QSettings& settings = *pSettings;
    settings.remove(GroupOf(strDevice));
    return Synced(settings);
}

QString CCalibrationStore::FilePath() {
    return Store()->fileName();
}
