#include "app/LevelCommands.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QMenu>
#include <QWidget>

#include "analysis/Calibration.h"
#include "app/CalibrationDialog.h"
#include "app/Prompts.h"
#include "app/RadioItems.h"
#include "capture/CaptureEngine.h"
#include "view/SpectrumView.h"

namespace {

constexpr int kNoticeMs = 4000;

} // namespace

CLevelCommands::CLevelCommands(QWidget* pWindow, CSpectrumView* pView, SHooks hooks)
    : QObject(pWindow), m_pWindow(pWindow), m_pView(pView), m_hooks(std::move(hooks)) {
    CreateActions();
    UpdateEnabled();
}

// The shortcuts work anywhere in the window, with or without the menu.
void CLevelCommands::CreateActions() {
    m_pUnitMenu = new QMenu(QStringLiteral("Level unit"), m_pWindow);
    m_pUnitGroup = new QActionGroup(this);
    AddRadioItem(m_pUnitMenu, m_pUnitGroup, QStringLiteral("As designed"), 0)->setChecked(true);
    QAction* pDbfs = AddRadioItem(m_pUnitMenu, m_pUnitGroup, QStringLiteral("dBFS"), 1);
    pDbfs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    QAction* pSpl = AddRadioItem(m_pUnitMenu, m_pUnitGroup, QStringLiteral("dB SPL"), 2);
    pSpl->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));

    m_pWeightingMenu = new QMenu(QStringLiteral("Weighting"), m_pWindow);
    m_pWeightingGroup = new QActionGroup(this);
    AddRadioItem(m_pWeightingMenu, m_pWeightingGroup, QStringLiteral("Z (none)"), 0)
        ->setChecked(true);
    AddRadioItem(m_pWeightingMenu, m_pWeightingGroup, QStringLiteral("A"), 1);
    AddRadioItem(m_pWeightingMenu, m_pWeightingGroup, QStringLiteral("C"), 2);

    m_pActionMeter = new QAction(QStringLiteral("Level meter"), this);
    m_pActionMeter->setCheckable(true);
    m_pActionMeter->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    m_pTimeMenu = new QMenu(QStringLiteral("Time weighting"), m_pWindow);
    m_pTimeGroup = new QActionGroup(this);
    m_pActionFast = AddRadioItem(m_pTimeMenu, m_pTimeGroup, QStringLiteral("Fast (125 ms)"), 0);
    m_pActionFast->setChecked(true);
    m_pActionSlow = AddRadioItem(m_pTimeMenu, m_pTimeGroup, QStringLiteral("Slow (1 s)"), 1);
    m_pActionResetMeter = new QAction(QStringLiteral("Reset meter"), this);
    m_pActionCalibrate = new QAction(QStringLiteral("Calibrate\u2026"), this);
    m_pActionForget = new QAction(QStringLiteral("Forget calibration"), this);
    m_pActionLoadMic = new QAction(QStringLiteral("Load microphone response\u2026"), this);
    m_pActionClearMic = new QAction(QStringLiteral("Clear microphone response"), this);

    for (QAction* pAction : {pDbfs, pSpl, m_pActionMeter}) {
        pAction->setShortcutContext(Qt::WindowShortcut);
        m_pWindow->addAction(pAction);
    }
    connect(m_pUnitGroup, &QActionGroup::triggered, this, &CLevelCommands::OnUnitChosen);
    connect(m_pWeightingGroup, &QActionGroup::triggered, this, &CLevelCommands::Push);
    connect(m_pTimeGroup, &QActionGroup::triggered, this, &CLevelCommands::Push);
    connect(m_pActionMeter, &QAction::triggered, this, [this](bool bChecked) {
        m_bMeterWanted = bChecked;
        Push();
    });
    connect(m_pActionResetMeter, &QAction::triggered, this, &CLevelCommands::OnResetMeter);
    connect(m_pActionCalibrate, &QAction::triggered, this, &CLevelCommands::OnCalibrate);
    connect(m_pActionForget, &QAction::triggered, this, &CLevelCommands::OnForgetCalibration);
    connect(m_pActionLoadMic, &QAction::triggered, this, &CLevelCommands::OnLoadMicResponse);
    connect(m_pActionClearMic, &QAction::triggered, this, &CLevelCommands::OnClearMicResponse);
}

void CLevelCommands::AddTo(QMenu* pMenu) {
    pMenu->addMenu(m_pUnitMenu);
    pMenu->addMenu(m_pWeightingMenu);
    pMenu->addAction(m_pActionMeter);
    pMenu->addMenu(m_pTimeMenu);
    pMenu->addAction(m_pActionResetMeter);
    pMenu->addAction(m_pActionCalibrate);
    pMenu->addAction(m_pActionForget);
    pMenu->addAction(m_pActionLoadMic);
    pMenu->addAction(m_pActionClearMic);
    // The device may have changed since the menu was last open.
    connect(pMenu, &QMenu::aboutToShow, this, &CLevelCommands::FollowDevice);
}

QAction* CLevelCommands::UnitAction(ELevelUnit eUnit) const {
    return m_pUnitGroup->actions().at(static_cast<int>(eUnit));
}

QAction* CLevelCommands::WeightingAction(EWeighting eWeighting) const {
    return m_pWeightingGroup->actions().at(static_cast<int>(eWeighting));
}

SLevelSettings CLevelCommands::Settings() const {
    SLevelSettings s;
    s.eUnit = static_cast<ELevelUnit>(m_pUnitGroup->checkedAction()->data().toInt());
    s.eWeighting = static_cast<EWeighting>(m_pWeightingGroup->checkedAction()->data().toInt());
    if (s.eUnit == ELevelUnit::DbSpl) {
        s.dFullScaleDbSpl = m_calibration.dFullScaleDbSpl;
        s.pMic = m_calibration.pMic;
    }
    return s;
}

bool CLevelCommands::IsMeterShown() const {
    return m_pActionMeter->isChecked();
}

bool CLevelCommands::IsSlow() const {
    return m_pActionSlow->isChecked();
}

// The meter is off while "As designed" is chosen, and comes back in a unit
// as the user last left it there.
void CLevelCommands::OnUnitChosen() {
    const bool bDesigned = Settings().IsDesigned();
    m_pActionMeter->setChecked(!bDesigned && m_bMeterWanted);
    Push();
}

void CLevelCommands::FollowDevice() {
    const QString strDevice = m_hooks.fnDeviceName ? m_hooks.fnDeviceName() : QString();
    if (strDevice == m_strDevice && !m_strDevice.isEmpty()) {
        return;
    }
    m_strDevice = strDevice;
    QString strRefused;
    m_calibration = CCalibrationStore::Load(strDevice, &strRefused).value_or(SStoredCalibration{});
    QString strNotice = strRefused;
    if (Settings().eUnit == ELevelUnit::DbSpl && !m_calibration.bCalibrated) {
        UnitAction(ELevelUnit::Dbfs)->setChecked(true);
        strNotice = strRefused.isEmpty()
                        ? "No calibration for " + strDevice + ": levels are shown in dBFS."
                        : strRefused + QStringLiteral(" Levels are shown in dBFS.");
    }
    if (!strNotice.isEmpty()) {
        m_pView->ShowNotice(strNotice.toStdString(), kNoticeMs);
    }
    Push();
}

void CLevelCommands::SetRunning(bool bRunning) {
    if (bRunning) {
        FollowDevice();
        PushToEngine(m_hooks.fnEngine());
    }
}

void CLevelCommands::Push() {
    UpdateEnabled();
    if (m_pDialog != nullptr) {
        m_pDialog->Follow(m_strDevice, m_calibration.pMic);
    }
    m_pView->SetLevels(Settings(), IsMeterShown(), IsSlow());
    PushToEngine(m_hooks.fnEngine ? m_hooks.fnEngine() : nullptr);
    emit LevelsChanged();
}

// The meter weights the samples as the bars are weighted.
void CLevelCommands::PushToEngine(CCaptureEngine* pEngine) const {
    if (pEngine != nullptr) {
        pEngine->SetMeterLevels(Settings(), IsSlow());
    }
}

void CLevelCommands::UpdateEnabled() {
    const bool bDesigned = Settings().IsDesigned();
    UnitAction(ELevelUnit::DbSpl)->setEnabled(m_calibration.bCalibrated);
    m_pActionMeter->setEnabled(!bDesigned);
    m_pActionResetMeter->setEnabled(!bDesigned);
    m_pActionForget->setEnabled(m_calibration.bCalibrated);
    m_pActionClearMic->setEnabled(m_calibration.pMic != nullptr);
}

void CLevelCommands::OnResetMeter() {
    if (CCaptureEngine* pEngine = m_hooks.fnEngine ? m_hooks.fnEngine() : nullptr) {
        pEngine->m_chanLeft.m_meter.Reset();
    }
}

// The calibration's own spectrum of the newest samples, whatever window and
// length the run uses; empty while nothing runs.
CReferenceSpectrum CLevelCommands::CalibrationSpectrum() const {
    const CCaptureEngine* pEngine = m_hooks.fnEngine ? m_hooks.fnEngine() : nullptr;
    std::vector<double> adSamples;
    if (pEngine == nullptr || !pEngine->m_chanLeft.m_recentSamples.Newest(adSamples)) {
        return {};
    }
    return ::CalibrationSpectrum(adSamples, pEngine->m_nSampleRate.load());
}

void CLevelCommands::OnCalibrate() {
    FollowDevice();
    if (m_pDialog != nullptr) {
        m_pDialog->raise();
        return;
    }
    CCalibrationDialog::SInputs inputs;
    inputs.strDevice = m_strDevice;
    inputs.fnTakeSpectrum = [this] { return CalibrationSpectrum(); };
    inputs.fnFullScalePasses = [this]() -> long long {
        const CCaptureEngine* pEngine = m_hooks.fnEngine ? m_hooks.fnEngine() : nullptr;
        return pEngine != nullptr ? pEngine->m_chanLeft.m_meter.ClippedFeeds() : 0;
    };
    inputs.pMic = m_calibration.pMic;
    m_pDialog = new CCalibrationDialog(m_pWindow, std::move(inputs));
    m_pDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_pDialog, &CCalibrationDialog::Calibrated, this, &CLevelCommands::OnCalibrated);
    connect(m_pDialog, &QObject::destroyed, this, [this] { m_pDialog = nullptr; });
    m_pDialog->show();
}

// A calibration belongs to the device it was made with; dB SPL is then the
// unit the user calibrated for.
void CLevelCommands::OnCalibrated(double dFullScaleDbSpl, const QString& strHow) {
    m_calibration.bCalibrated = true;
    m_calibration.dFullScaleDbSpl = dFullScaleDbSpl;
    m_calibration.strDate = QDate::currentDate().toString(Qt::ISODate);
    m_calibration.strHow = strHow;
    StoreCalibration();
    UnitAction(ELevelUnit::DbSpl)->setEnabled(true);
    UnitAction(ELevelUnit::DbSpl)->setChecked(true);
    OnUnitChosen();
}

void CLevelCommands::OnForgetCalibration() {
    FollowDevice();
    m_calibration.bCalibrated = false;
    StoreCalibration();
    if (Settings().eUnit == ELevelUnit::DbSpl) {
        UnitAction(ELevelUnit::Dbfs)->setChecked(true);
    }
    OnUnitChosen();
}

void CLevelCommands::OnLoadMicResponse() {
    FollowDevice();
    const QString strPath =
        AskOpenFileName(m_pWindow, QStringLiteral("Load microphone response"), m_strMicFolder,
                        QStringLiteral("Response files (*.txt *.frd *.cal *.csv);;All files (*)"));
    if (strPath.isEmpty()) {
        return;
    }
    m_strMicFolder = QFileInfo(strPath).absolutePath();
    CMicResponse mic;
    std::string strError;
    if (!CMicResponse::Load(strPath.toStdString(), mic, strError)) {
        ShowMessageBox(m_pWindow, QCoreApplication::applicationName(),
                       QStringLiteral("The microphone response was not loaded.\n") +
                           QString::fromStdString(strError));
        return;
    }
    mic.m_strFileName = QFileInfo(strPath).fileName().toStdString();
    m_calibration.pMic = std::make_shared<const CMicResponse>(std::move(mic));
    StoreCalibration();
    Push();
}

void CLevelCommands::OnClearMicResponse() {
    FollowDevice();
    m_calibration.pMic = nullptr;
    StoreCalibration();
    Push();
}

void CLevelCommands::StoreCalibration() {
    if (!CCalibrationStore::Save(m_strDevice, m_calibration)) {
        ShowMessageBox(m_pWindow, QCoreApplication::applicationName(),
                       QStringLiteral("Sorry!\nBut I couldn't keep the calibration in ") +
                           CCalibrationStore::FilePath());
    }
}
