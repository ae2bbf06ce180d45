#include "app/SelfTestDriver.h"

#include "app/TransferCommands.h"

#include <QCheckBox>
#include <QComboBox>

#include <QAction>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

#include "app/AnalyzerDialog.h"
#include "app/BandCommands.h"
#include "app/DeviceChooser.h"
#include "app/GeneratorPanel.h"
#include "app/HelpPage.h"
#include "app/LevelCommands.h"
#include "app/MeasureCommands.h"
#include "app/Prompts.h"
#include "app/SpectrogramCommands.h"

CSelfTestDriver::CSelfTestDriver(CAnalyzerDialog* pDialog) : m_pDialog(pDialog) {}

CSelfTestDriver::~CSelfTestDriver() {
    if (m_bActive) {
        SetMessageBoxHook(nullptr);
        SetOpenUrlHook(nullptr);
    }
}

void CSelfTestDriver::StartIfRequested() {
    m_strScreenshot = qEnvironmentVariable("VEMRA_SELFTEST_SCREENSHOT");
    if (m_strScreenshot.isEmpty())
        return;
    bool bOk = false;
    const int nSeconds = qEnvironmentVariableIntValue("VEMRA_SELFTEST_SECONDS", &bOk);
    if (bOk && nSeconds > 0)
        m_nSeconds = nSeconds;
    m_bActive = true;
    // Measurements of the picture with the spectrogram under the spectrum,
    // levels in dBFS with the meter, and third-octave bands.
    if (qEnvironmentVariableIntValue("VEMRA_SELFTEST_SPECTROGRAM") != 0)
        m_pDialog->Spectrogram().ShowAction()->setChecked(true);
    if (qEnvironmentVariableIntValue("VEMRA_SELFTEST_DBFS") != 0)
        m_pDialog->Levels().UnitAction(ELevelUnit::Dbfs)->trigger();
    if (qEnvironmentVariableIntValue("VEMRA_SELFTEST_BANDS") != 0)
        m_pDialog->Bands().Action(3)->trigger();
    // Another transform size or rate than the default, by its text ("16384",
    // "48000 Hz").
    ChooseByText(CAnalyzerDialog::IDC_LIST_SAMPLES, qEnvironmentVariable("VEMRA_SELFTEST_SAMPLES"));
    ChooseByText(CAnalyzerDialog::IDC_LIST_RATE, qEnvironmentVariable("VEMRA_SELFTEST_RATE"));
    // The transfer-function mode, which analyses both channels (the stereo
    // spectrum to compare it with is switched on once running).
    if (qEnvironmentVariableIntValue("VEMRA_SELFTEST_TRANSFER") != 0)
        m_pDialog->Transfer().ModeAction()->setChecked(true);
    // The distortion readout and the loudness meter, for their cost.
    if (qEnvironmentVariableIntValue("VEMRA_SELFTEST_DISTORTION") != 0)
        m_pDialog->Measures().DistortionAction()->setChecked(true);
    if (qEnvironmentVariableIntValue("VEMRA_SELFTEST_LOUDNESS") != 0)
        m_pDialog->Measures().LoudnessAction()->setChecked(true);
    SetMessageBoxHook([](QWidget*, const QString& strCaption, const QString& strText,
                         QMessageBox::StandardButtons) {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(strCaption), qPrintable(strText));
        return QMessageBox::Ok;
    });
    SetOpenUrlHook([](const QUrl& url) {
        std::fprintf(stderr, "would open %s\n", qPrintable(url.toString()));
    });
    std::fprintf(stderr, "Help page: %s\n", qPrintable(HelpPagePath()));
    QTimer::singleShot(1000, this, &CSelfTestDriver::ClickStart);
}

void CSelfTestDriver::ChooseByText(int nListId, const QString& strText) {
    auto* pList = qobject_cast<QComboBox*>(m_pDialog->Control(nListId));
    if (pList != nullptr && !strText.isEmpty() && pList->findText(strText) >= 0)
        pList->setCurrentIndex(pList->findText(strText));
}

void CSelfTestDriver::ClickStart() {
    // Start on the device a person would see selected once the list is in.
    if (m_pDialog->Devices().IsLookingForDevices() && m_nWaitsForDevices++ < kMaxWaitsForDevices) {
        QTimer::singleShot(kWaitForDevicesMs, this, &CSelfTestDriver::ClickStart);
        return;
    }
    auto* pStart = qobject_cast<QPushButton*>(m_pDialog->Control(CAnalyzerDialog::IDC_START));
    std::fprintf(stderr, "Clicking Start on \"%s\"\n",
                 qPrintable(m_pDialog->Devices().SelectedDeviceName()));
    pStart->click();
    if (qEnvironmentVariableIntValue("VEMRA_SELFTEST_STEREO") != 0) {
        if (auto* pStereo =
                qobject_cast<QCheckBox*>(m_pDialog->Control(CAnalyzerDialog::IDC_CHECK_STEREO)))
            pStereo->click();
    }
    // The generator playing pink noise into the default output, whose monitor
    // the analyser may be recording.
    if (qEnvironmentVariableIntValue("VEMRA_SELFTEST_GENERATOR") != 0) {
        m_pDialog->GeneratorAction()->trigger();
        if (CGeneratorPanel* pPanel = m_pDialog->Generator())
            pPanel->OnPlay();
    }
    QTimer::singleShot(m_nSeconds * 1000, this, &CSelfTestDriver::SaveAndClose);
}

void CSelfTestDriver::SaveAndClose() {
    const QPixmap picture = m_pDialog->grab();
    if (picture.save(m_strScreenshot, "PNG"))
        std::fprintf(stderr, "Saved %s\n", qPrintable(m_strScreenshot));
    else
        std::fprintf(stderr, "Could not save %s\n", qPrintable(m_strScreenshot));
    m_pDialog->close();
}
