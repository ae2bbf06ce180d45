#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "app/AccelSpinBox.h"
#include "app/AnalyzerDialog.h"
#include "app/DeviceChooser.h"
#include "app/MeasurementExport.h"
#include "app/Prompts.h"
#include "app/SpectrumApp.h"
#include "capture/CaptureEngine.h"
#include "devices/TestSignalDevice.h"
#include "tests/devices/ScriptedCaptureBuffer.h"
#include "tests/devices/ScriptedCaptureDevice.h"
#include "view/SpectrumView.h"

// Saves a picture of a window when VEMRA_TEST_SCREENSHOTS names a folder, to
// look at the layout by eye.
inline void SaveShot(QWidget* pWidget, const char* pszName) {
    const QString strDir = qEnvironmentVariable("VEMRA_TEST_SCREENSHOTS");
    if (!strDir.isEmpty())
        pWidget->grab().save(strDir + u'/' + QLatin1String(pszName) + QStringLiteral(".png"));
}

// The strip's groups of controls.
inline std::vector<int> SetupGroup() {
    return CControlStrip::Group(CControlStrip::EGroup::Setup);
}
inline std::vector<int> AnalysisGroup() {
    return CControlStrip::Group(CControlStrip::EGroup::Analysis);
}
inline std::vector<int> StereoOnlyGroup() {
    return CControlStrip::Group(CControlStrip::EGroup::StereoOnly);
}

// A message box the dialog showed.
struct SPrompt {
    QString strCaption;
    QString strText;
    QMessageBox::StandardButtons buttons;
};

// The devices the tests' enumeration lists: the primary device, a scripted
// device that opens, one that refuses to open, and the built-in signal.
struct SScriptedDevices {
    CScriptedCaptureDevice* pGood = CScriptedCaptureDevice::Create();
    CScriptedCaptureDevice* pBroken = CScriptedCaptureDevice::Create();

    SScriptedDevices() { pBroken->m_nOpenResult = kCaptureErrBusy; }
    ~SScriptedDevices() {
        pGood->Release();
        pBroken->Release();
    }
};

// A shown main dialog with its message boxes and address openings captured.
class DialogTest : public ::testing::Test {
protected:
    static constexpr int kPrimary = 0;
    static constexpr int kScripted = 1;
    static constexpr int kBroken = 2;
    static constexpr int kBuiltIn = 3;

    void SetUp() override {
        s_pDevices = &m_devices;
        SetMessageBoxHook([this](QWidget*, const QString& strCaption, const QString& strText,
                                 QMessageBox::StandardButtons buttons) {
            m_prompts.push_back({strCaption, strText, buttons});
            return m_answer;
        });
        SetOpenUrlHook([this](const QUrl& url) { m_opened.push_back(url); });
        if (m_bShowOnSetUp)
            ShowDialog();
    }

    void TearDown() override {
        m_pDialog.reset();
        SetMessageBoxHook(nullptr);
        SetOpenUrlHook(nullptr);
        s_pDevices = nullptr;
    }

    // Shows the dialog and waits for its first device list.
    void ShowDialog() {
        m_pDialog = std::make_unique<CAnalyzerDialog>(m_desktop);
        m_pDialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pDialog.get()));
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return !m_pDialog->Devices().IsLookingForDevices(); }, 5000));
    }

    CAnalyzerDialog& Dlg() { return *m_pDialog; }
    template <typename T = QWidget> T* Ctl(int nId) {
        return qobject_cast<T*>(m_pDialog->Control(nId));
    }
    CAccelSpinBox* Spin(int nId) { return Ctl<CAccelSpinBox>(nId); }
    QComboBox* List(int nId) { return Ctl<QComboBox>(nId); }
    QCheckBox* Check(int nId) { return Ctl<QCheckBox>(nId); }

    void Click(QWidget* pWidget) {
        ASSERT_TRUE(pWidget->isVisible());
        QTest::mouseClick(pWidget, Qt::LeftButton);
    }
    void ClickStart() { Click(Ctl(CAnalyzerDialog::IDC_START)); }
    void ClickStop() { Click(Ctl(CAnalyzerDialog::IDC_STOP)); }

    // Chooses the set-up a person would before pressing Start.
    void ChooseSetup(int nDevice, const QString& strRate, const QString& strSamples) {
        List(CAnalyzerDialog::IDC_LIST_DEVICE)->setCurrentIndex(nDevice);
        QComboBox* pRate = List(CAnalyzerDialog::IDC_LIST_RATE);
        pRate->setCurrentIndex(pRate->findText(strRate));
        QComboBox* pSamples = List(CAnalyzerDialog::IDC_LIST_SAMPLES);
        pSamples->setCurrentIndex(pSamples->findText(strSamples));
    }

    // Threads of this process, from the kernel's list: their identifiers.
    static QStringList Threads() {
        return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }
    static int ThreadCount() { return int(Threads().size()); }
    // Whether every thread begun since `before` has ended, within a second.
    // Threads of earlier tests that end meanwhile do not count.
    static bool NoThreadLeftSince(const QStringList& before) {
        return QTest::qWaitFor(
            [&] {
                const QStringList now = Threads();
                return std::all_of(now.begin(), now.end(),
                                   [&](const QString& id) { return before.contains(id); });
            },
            1000);
    }

    static int ScriptedEnumerate(CaptureEnumCallback pfnCallback, void* pContext) {
        const SCaptureGuid good = s_pDevices->pGood->Guid();
        const SCaptureGuid broken = s_pDevices->pBroken->Guid();
        const SCaptureGuid builtIn = CTestSignalDevice::Guid();
        pfnCallback(nullptr, "Primary capture device", "", pContext);
        pfnCallback(&good, "Scripted device", "scripted", pContext);
        pfnCallback(&broken, "Broken device", "scripted", pContext);
        pfnCallback(&builtIn, CTestSignalDevice::kDescription, CTestSignalDevice::kModule,
                    pContext);
        return 0;
    }

    static inline SScriptedDevices* s_pDevices = nullptr;
    // The desktop the dialogs a test makes run on: devices from the script.
    CAnalyzerDialog::SDesktop m_desktop{&ScriptedEnumerate};
    SScriptedDevices m_devices;
    std::unique_ptr<CAnalyzerDialog> m_pDialog;
    std::vector<SPrompt> m_prompts;
    std::vector<QUrl> m_opened;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;
    bool m_bShowOnSetUp = true;
};
