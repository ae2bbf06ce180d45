#include "app/AnalyzerDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>

#include "analysis/BinWidth.h"
#include "app/AboutDialog.h"
#include "app/AccelSpinBox.h"
#include "app/AppIcon.h"
#include "app/AxisCommands.h"
#include "app/BandCommands.h"
#include "app/DeviceChooser.h"
#include "app/DeviceListBox.h"
#include "app/DialogUnits.h"
#include "app/GeneratorPanel.h"
#include "app/HelpPage.h"
#include "app/LevelCommands.h"
#include "app/MeasureCommands.h"
#include "app/MeasurementExport.h"
#include "app/Prompts.h"
#include "app/ReadingCommands.h"
#include "app/ReferenceCommands.h"
#include "app/RunCommand.h"
#include "app/RunControl.h"
#include "app/RunSetup.h"
#include "app/SpectrogramCommands.h"
#include "app/SpectrumCsv.h"
#include "app/TransferCommands.h"
#include "capture/CaptureEngine.h"
#include "view/SpectrumView.h"

namespace {

constexpr int kTemplateWidthDlu = 525;
constexpr int kTemplateHeightDlu = 286;

} // namespace

CAnalyzerDialog::CAnalyzerDialog(const SDesktop& desktop, QWidget* pParent)
    : QDialog(pParent), m_desktop(desktop), m_hIcon(AppIcon()), m_pView(new CSpectrumView(this)),
      m_strip(this, m_pView), m_stacking(this, m_pView, desktop.bWindowsStayOnTop) {
    setWindowTitle(QStringLiteral("Vemra-2 by Tave"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    // The welcome page names the page F1 opens, wherever it was found, from
    // its first frame on.
    m_pView->SetWebAddress(WebPage().toString().toStdString());
    m_pDevices =
        std::make_unique<CDeviceChooser>(m_strip.DeviceList(), m_desktop.pfnEnumerateDevices);
    m_pExport =
        std::make_unique<CMeasurementExport>(this, m_pView, [this] { return TakeSnapshot(); });
    m_pRun = std::make_unique<CRunControl>(m_pView);
    m_pReference =
        std::make_unique<CReferenceCommands>(this, m_pView, [this](std::string strSource) {
            return m_pRun->LeftSpectrum(std::move(strSource));
        });
    m_pLevels = new CLevelCommands(
        this, m_pView,
        CLevelCommands::SHooks{[this] { return m_pRun->Engine(); },
                               [this] { return m_pDevices->SelectedDeviceName(); }});
    m_pSpectrogram = new CSpectrogramCommands(this, m_pView);
    m_pBands = new CBandCommands(this, m_pView);
    m_pReading = new CReadingCommands(this, m_pView);
    m_pAxis = new CAxisCommands(this, m_pView);
    m_pTransfer = new CTransferCommands(this, m_pView, [this] { return m_pRun->Engine(); });
    m_pMeasures = new CMeasureCommands(this, m_pView, [this] { return m_pRun->Engine(); });
    m_pActionGenerator = MakeWindowCommand(this, QStringLiteral("Signal generator\u2026"),
                                           QKeySequence(Qt::CTRL | Qt::Key_N));
    CreateHelpActions();
    WireControls();
    resize(DluToPxX(kTemplateWidthDlu), DluToPxY(kTemplateHeightDlu));
}

CAnalyzerDialog::~CAnalyzerDialog() {
    // No list reaches a window that is going, and no cycle outlives it.
    m_pDevices.reset();
    m_pRun.reset();
}

CCaptureEngine* CAnalyzerDialog::Engine() const {
    return m_pRun->Engine();
}

// The pass shown now, what the file says of the run, and the reference
// shown, laid onto the same bins.
SSpectrumSnapshot CAnalyzerDialog::TakeSnapshot() const {
    SSpectrumSnapshot snapshot = CSpectrumCsv::Take(
        *Engine(), m_settings, m_settings.m_nSampleRate, m_settings.m_nFftSize,
        m_pDevices->SelectedDeviceName(), m_strip.List(IDC_LIST_WINDOW)->currentText());
    CSpectrumCsv::TakeLevels(*Engine(), m_pLevels->Settings(), m_pLevels->IsSlow(),
                             m_pLevels->Calibration(), snapshot);
    // The bands the bars show, over the span the axis shows.
    snapshot.nBandFraction = m_pView->BandFraction();
    const SSpanGeometry geo = m_pView->ComputeSpanGeometry();
    snapshot.dSpanLowHz = geo.nBinLow * geo.dBinWidth;
    snapshot.dSpanHighHz = geo.nBinMax * geo.dBinWidth;
    m_pView->BandHold(0, snapshot.leftBandHold);
    m_pView->BandHold(1, snapshot.rightBandHold);
    SFrozenPass frozen;
    const bool bFrozen = m_pView->FrozenPass(frozen);
    if (bFrozen)
        TakeFrozen(frozen, snapshot);
    const SMeasureSettings measures = m_pMeasures->Settings();
    snapshot.bDistortion = measures.bDistortion;
    if (measures.bDistortion)
        snapshot.distortion = bFrozen ? frozen.distortion : Engine()->m_distortion.Result();
    snapshot.bLoudness = measures.bLoudness;
    snapshot.dLoudnessTargetLufs = measures.dTargetLufs;
    if (measures.bLoudness)
        snapshot.loudness = Engine()->m_loudness.Figures();
    if (m_pTransfer->IsOn() && m_pView->TransferShown(snapshot.transfer)) {
        snapshot.bTransfer = true;
        snapshot.strReferenceChannel =
            m_pTransfer->IsReferenceRight() ? QStringLiteral("Right") : QStringLiteral("Left");
        snapshot.dDelayMs = m_pTransfer->DelayMs();
        snapshot.strAveraging = m_pTransfer->AveragingText();
        snapshot.strSmoothing = m_pTransfer->SmoothingText();
        snapshot.dCoherenceThreshold = m_pTransfer->Threshold();
    }
    if (m_pGenerator != nullptr)
        snapshot.generator = m_pGenerator->FileComments();
    const CSpectrumView::SMarkerFigures markers = m_pView->MarkerFigures();
    for (int i = 0; i < 2; ++i) {
        snapshot.adMarkerHz[i] = markers.adHz[i];
        snapshot.adMarkerDb[i] = markers.adDb[i];
    }
    if (const auto pReference = m_pReference->Reference()) {
        const double dBinWidth = BinWidthHz(m_settings.m_nSampleRate, m_settings.m_nFftSize);
        pReference->MapOntoRun(dBinWidth, int(snapshot.leftPower.size()), snapshot.leftScale,
                               snapshot.reference);
        snapshot.strReference = QString::fromStdString(pReference->Source());
        snapshot.bDifference = m_pView->IsDifferenceShown();
    }
    return snapshot;
}

// A frozen picture saves what it shows, not the passes that went on.
void CAnalyzerDialog::TakeFrozen(const SFrozenPass& frozen, SSpectrumSnapshot& snapshot) {
    const bool bHold = snapshot.bHold;
    snapshot.leftPower = frozen.left.adPower;
    snapshot.leftHold = bHold ? frozen.left.adHold : std::vector<double>();
    snapshot.leftScale = frozen.left.scale;
    snapshot.bStereo = snapshot.bStereo && frozen.bStereo;
    snapshot.rightPower = snapshot.bStereo ? frozen.right.adPower : std::vector<double>();
    snapshot.rightHold = snapshot.bStereo && bHold ? frozen.right.adHold : std::vector<double>();
    if (snapshot.bStereo)
        snapshot.rightScale = frozen.right.scale;
    snapshot.meter = frozen.meter;
    if (bHold && snapshot.nBandFraction > 0) {
        snapshot.leftBandHold = frozen.left.adBandHold;
        snapshot.rightBandHold = frozen.right.adBandHold;
    }
    snapshot.bFrozen = true;
}

void CAnalyzerDialog::CreateHelpActions() {
    m_pActionHelp = new QAction(QStringLiteral("Help\u2026"), this);
    m_pActionHelp->setShortcut(QKeySequence(Qt::Key_F1));
    m_pActionHelp->setShortcutContext(Qt::WindowShortcut);
    // F1 works anywhere in the window, with or without the menu.
    addAction(m_pActionHelp);
    m_pActionAbout = new QAction(QStringLiteral("&About Vemra-2.5..."), this);
}

// The one place where the controls' signals and the parts' news reach the
// handlers.
void CAnalyzerDialog::WireControls() {
    for (QCheckBox* pCheck : m_strip.SettingChecks())
        connect(pCheck, &QCheckBox::clicked, this, &CAnalyzerDialog::OnSettingsChanged);
    for (CAccelSpinBox* pSpin : m_strip.SettingSpins())
        connect(pSpin, &QSpinBox::valueChanged, this, &CAnalyzerDialog::OnSettingsChanged);
    connect(m_strip.List(IDC_LIST_WINDOW), &QComboBox::activated, this,
            &CAnalyzerDialog::OnSelchangeWindowType);
    connect(m_strip.Button(IDC_START), &QPushButton::clicked, this, &CAnalyzerDialog::OnStart);
    connect(m_strip.Button(IDC_STOP), &QPushButton::clicked, this, &CAnalyzerDialog::OnStop);
    connect(m_pActionHelp, &QAction::triggered, this, &CAnalyzerDialog::OnHelpInfo);
    connect(m_pActionAbout, &QAction::triggered, this, &CAnalyzerDialog::OnAbout);
    connect(m_pActionGenerator, &QAction::triggered, this, &CAnalyzerDialog::OnGenerator);
    // After the double-click's own events.
    connect(m_pView, &CSpectrumView::CompactModeRequested, this,
            &CAnalyzerDialog::OnToggleCompactMode, Qt::QueuedConnection);
    connect(m_pRun.get(), &CRunControl::RunningChanged, m_pExport.get(),
            &CMeasurementExport::SetRunning);
    connect(m_pRun.get(), &CRunControl::RunningChanged, m_pReference.get(),
            &CReferenceCommands::SetRunning);
    connect(m_pRun.get(), &CRunControl::RunningChanged, m_pDevices.get(),
            &CDeviceChooser::SetRunning);
    connect(m_pRun.get(), &CRunControl::RunningChanged, m_pLevels, &CLevelCommands::SetRunning);
    connect(m_pRun.get(), &CRunControl::RunningChanged, m_pReading, &CReadingCommands::SetRunning);
    connect(m_pReference.get(), &CReferenceCommands::ReferenceChanged, m_pReading,
            &CReadingCommands::SetReferenceKept);
    connect(m_pRun.get(), &CRunControl::RunningChanged, m_pTransfer,
            &CTransferCommands::SetRunning);
    connect(m_pRun.get(), &CRunControl::RunningChanged, m_pMeasures, &CMeasureCommands::SetRunning);
    connect(
        m_pTransfer, &CTransferCommands::DelayFound, this,
        [this](bool, const QString& strText) { m_pView->ShowNotice(strText.toStdString(), 4000); });
    connect(m_strip.DeviceList(), &QComboBox::currentIndexChanged, m_pLevels,
            &CLevelCommands::FollowDevice);
}

// ---------------------------------------------------------------------------
// Start-up

void CAnalyzerDialog::showEvent(QShowEvent* pEvent) {
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(pEvent);
}

bool CAnalyzerDialog::OnInitDialog() {
    QMenu* pMenu = m_strip.HelpMenu();
    pMenu->addAction(m_pExport->SaveSpectrumAction());
    pMenu->addAction(m_pExport->SavePictureAction());
    pMenu->addAction(m_pExport->CopyPictureAction());
    pMenu->addSeparator();
    pMenu->addAction(m_pReference->KeepAction());
    pMenu->addAction(m_pReference->LoadAction());
    pMenu->addAction(m_pReference->ClearAction());
    pMenu->addSeparator();
    m_pLevels->AddTo(pMenu);
    pMenu->addSeparator();
    m_pSpectrogram->AddTo(pMenu);
    m_pBands->AddTo(pMenu);
    pMenu->addSeparator();
    m_pReading->AddTo(pMenu);
    m_pAxis->AddTo(pMenu);
    pMenu->addSeparator();
    m_pTransfer->AddTo(pMenu);
    pMenu->addAction(m_pExport->SaveFrdAction());
    pMenu->addSeparator();
    m_pMeasures->AddTo(pMenu);
    pMenu->addAction(m_pActionGenerator);
    pMenu->addSeparator();
    pMenu->addAction(m_pActionHelp);
    pMenu->addSeparator();
    pMenu->addAction(m_pActionAbout);
    setWindowIcon(m_hIcon);

    // The devices are found off this thread: the window never waits for a
    // sound server.
    m_pDevices->FillDeviceList();

    m_pView->m_pSpinSpanLow = m_strip.Spin(IDC_SPIN_SPAN_LOW);
    m_pView->m_pSpinSpanHigh = m_strip.Spin(IDC_SPIN_SPAN_HIGH);
    m_pView->UpdateBackBuffer();

    m_settings.m_nSampleRate = kSampleRates[kDefaultRateIndex];
    m_settings.m_nFftSize = kFftSizes[kDefaultSizeIndex];
    m_strip.SetStartupValues();
    m_settings.m_nWindowType = m_strip.List(IDC_LIST_WINDOW)->currentIndex();

    ReadSettings();
    if (m_nClientWidth > 50 && m_nClientHeight > 50)
        LayoutControls();
    UpdateMinimumSize();
    m_pView->m_pDialog = this;
    m_strip.DeviceList()->setFocus();
    return true;
}

// ---------------------------------------------------------------------------
// Settings

void CAnalyzerDialog::OnSettingsChanged() {
    ReadSettings();
}

void CAnalyzerDialog::ReadSettings() {
    SDialogSettings& s = m_settings;
    s.m_nSpanHighHz = m_strip.Spin(IDC_SPIN_SPAN_HIGH)->value();
    s.m_nSpanLowHz = m_strip.Spin(IDC_SPIN_SPAN_LOW)->value();
    s.m_nYScale = m_strip.Spin(IDC_SPIN_YSCALE)->value();
    s.m_nInertia = m_strip.Spin(IDC_SPIN_INERTIA)->value();
    s.m_nLengthMs = m_strip.Spin(IDC_SPIN_LENGTH)->value();
    s.m_bPinkToFlat = m_strip.Check(IDC_CHECK_PINK_TO_FLAT)->isChecked();
    s.m_nOffsetRight = m_strip.Spin(IDC_SPIN_OFFSET_RIGHT)->value();
    s.m_nOffset = m_strip.Spin(IDC_SPIN_OFFSET)->value();
    s.m_bFastAttack = m_strip.Check(IDC_CHECK_PEAKS)->isChecked();
    s.m_bHold = m_strip.Check(IDC_CHECK_HOLD)->isChecked();
    s.m_bStereo = m_strip.Check(IDC_CHECK_STEREO)->isChecked();
    m_strip.ShowRightChannel(s.m_bStereo);
    s.m_nMinXSpace = m_strip.Spin(IDC_SPIN_MIN_X_SPACE)->value();
    m_pRun->Push(s);
}

void CAnalyzerDialog::OnSelchangeWindowType() {
    m_settings.m_nWindowType = m_strip.List(IDC_LIST_WINDOW)->currentIndex();
    m_pRun->Push(m_settings);
}

// ---------------------------------------------------------------------------
// Arrangements, layout and compact mode

void CAnalyzerDialog::ShowPanel(CControlStrip::EPanel ePanel) {
    m_strip.ShowPanel(ePanel);
    UpdateMinimumSize();
}

void CAnalyzerDialog::LayoutControls() {
    m_strip.Layout(m_nClientWidth, m_nClientHeight, m_bCompact);
}

// The window never gets smaller than the arrangement shown needs.
void CAnalyzerDialog::UpdateMinimumSize() {
    if (m_bInitialised)
        setMinimumSize(m_strip.MinimumSize(m_bCompact, m_pRun->IsRunning()));
}

void CAnalyzerDialog::resizeEvent(QResizeEvent* pEvent) {
    QDialog::resizeEvent(pEvent);
    OnSize(width(), height());
}

void CAnalyzerDialog::OnSize(int nWidth, int nHeight) {
    m_nClientWidth = nWidth;
    m_nClientHeight = nHeight;
    if (nWidth > 10 && nHeight > 10 && m_bInitialised)
        LayoutControls();
}

void CAnalyzerDialog::mousePressEvent(QMouseEvent* pEvent) {
    // Qt hands a right press that a button or check box does not take on to
    // the window; only the background and the labels toggle compact mode.
    if (pEvent->button() == Qt::RightButton) {
        QWidget* pUnder = childAt(pEvent->position().toPoint());
        if (!pUnder || qobject_cast<QLabel*>(pUnder)) {
            OnToggleCompactMode();
            return;
        }
    }
    QDialog::mousePressEvent(pEvent);
}

void CAnalyzerDialog::OnToggleCompactMode() {
    m_bCompact = !m_bCompact;
    if (m_bCompact) {
        ShowPanel(CControlStrip::EPanel::None);
    } else {
        ShowPanel(m_pRun->IsRunning() ? CControlStrip::EPanel::Running
                                      : CControlStrip::EPanel::Setup);
    }
    m_stacking.SetTopmost(m_bCompact);
    LayoutControls();
}

// ---------------------------------------------------------------------------
// Start and Stop

void CAnalyzerDialog::OnStart() {
    if (m_pRun->IsRunning()) {
        ShowMessageBox(
            this, QCoreApplication::applicationName(),
            QStringLiteral(
                "Hello?\nYou are already up and running, please stop before you start."));
        return;
    }
    const SCaptureGuid* pDevice = m_pDevices->SelectedDevice();
    m_settings.m_nSampleRate =
        SampleRateAt(m_strip.List(IDC_LIST_RATE)->currentIndex(), m_settings.m_nSampleRate);
    m_settings.m_nFftSize =
        FftSizeAt(m_strip.List(IDC_LIST_SAMPLES)->currentIndex(), m_settings.m_nFftSize);
    m_pRun->Create(m_settings);

    // The span to the full range of the new set-up and the length to one
    // block. A position equal to the old one raises no change, and the new
    // engine needs every setting: they are read once more.
    m_strip.SetRunRanges(RunRanges(m_settings.m_nSampleRate, m_settings.m_nFftSize));
    ReadSettings();
    ShowPanel(CControlStrip::EPanel::Running);
    m_pView->DrawScale();

    int nResult = m_pRun->Open(pDevice);
    if (nResult >= 0)
        nResult = m_pRun->Start();
    if (nResult < 0) {
        FailStart(nResult);
        return;
    }
    // The group that held the focus is hidden: the next key goes to Stop.
    m_strip.Button(IDC_STOP)->setFocus();
}

// The set-up group is back behind the apology, ready for another Start.
void CAnalyzerDialog::FailStart(int nResult) {
    OnStop();
    ShowMessageBox(this, QCoreApplication::applicationName(),
                   QStringLiteral("Sorry!\nBut I couldn't open the capture device.\n") +
                       OpenFailureReason(nResult, m_settings.m_nSampleRate));
}

void CAnalyzerDialog::OnStop() {
    if (!m_pRun->IsRunning())
        return;
    m_pRun->Stop();
    ShowPanel(CControlStrip::EPanel::Setup);
    m_strip.Button(IDC_START)->setFocus();
}

// ---------------------------------------------------------------------------
// Ending the window

void CAnalyzerDialog::closeEvent(QCloseEvent* pEvent) {
    OnClose();
    QDialog::closeEvent(pEvent);
}

// The generator's sound fades out before anything else ends.
void CAnalyzerDialog::OnClose() {
    if (m_pGenerator != nullptr)
        m_pGenerator->Shutdown();
    OnStop();
}

// The panel is made once and keeps what was chosen while the program runs.
void CAnalyzerDialog::OnGenerator() {
    if (m_pGenerator == nullptr) {
        m_pGenerator = new CGeneratorPanel(this, [this] {
            return std::pair{
                SampleRateAt(m_strip.List(IDC_LIST_RATE)->currentIndex(), m_settings.m_nSampleRate),
                FftSizeAt(m_strip.List(IDC_LIST_SAMPLES)->currentIndex(), m_settings.m_nFftSize)};
        });
        m_pGenerator->setWindowIcon(m_hIcon);
    }
    m_pGenerator->show();
    m_pGenerator->raise();
    m_pGenerator->activateWindow();
}

void CAnalyzerDialog::reject() {
    // Esc, and the close box through closeEvent: the capture stops first.
    OnStop();
    QDialog::reject();
}

void CAnalyzerDialog::keyPressEvent(QKeyEvent* pEvent) {
    // Enter ends nothing and presses nothing.
    if (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) {
        OnOK();
        pEvent->accept();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

// ---------------------------------------------------------------------------
// Help and About

bool CAnalyzerDialog::OnHelpInfo() {
    const QString strWeb = WebPage().toString();
    const QString strText =
        QStringLiteral("Most features and settings in Vemra are self-explained,\nif you however "
                       "need some extra help or want some hints on how to use Vemra then you "
                       "should check out the web page available at ") +
        strWeb + QStringLiteral(" and ") + SecondWebPage().toString() +
        QStringLiteral(". Follow the \"How to use\" link to find some hints on how to use the "
                       "different settings.\n\nIf you're still confused send an email to me, ") +
        ContactEmail() +
        QStringLiteral(".\n\nPress Ok to go to the Vemra web page or Cancel to get back to Vemra.");
    const auto answer = ShowMessageBox(this, QStringLiteral("F1 key pressed"), strText,
                                       QMessageBox::Ok | QMessageBox::Cancel);
    if (answer == QMessageBox::Ok)
        OpenUrl(this, WebPage());
    return true;
}

void CAnalyzerDialog::OnAbout() {
    CAboutDialog about(this);
    about.exec();
}
