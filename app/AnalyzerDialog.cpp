#include "app/AnalyzerDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/AboutDialog.h"
#include "app/AccelSpinBox.h"
#include "app/AppIcon.h"
#include "app/DeviceListBox.h"
#include "app/DialogUnits.h"
#include "app/HelpPage.h"
#include "app/Prompts.h"
#include "app/SpectrumCsv.h"
#include "app/StripStyle.h"
#include "capture/CaptureEngine.h"
#include "devices/CaptureDevices.h"
#include "devices/TestSignalDevice.h"
#include "view/SpectrumView.h"

namespace {

// Height of a closed drop-down list; the template gives the opened height.
constexpr int kListClosedHeight = 21;
// Sound devices listed besides the primary device and the built-in signal.
constexpr int kMaxListedDevices = 20;

constexpr int kSampleRates[] = {8000, 11025, 22050, 44100, 48000, 96000};
constexpr int kFftSizes[] = {1024, 2048, 4096, 8192, 16384};

// The line under the apology: why the device could not be opened, in words.
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

// ⌊x + 0.5⌋ for the positive values the ranges use.
int RoundHalfUp(double x) {
    return int(x + 0.5);
}

} // namespace

CAnalyzerDialog::CAnalyzerDialog(const SDesktop& desktop, QWidget* pParent)
    : QDialog(pParent), m_hIcon(AppIcon()), m_desktop(desktop) {
    setWindowTitle(QStringLiteral("Vemra-2 by Tave"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setFont(DialogFont());
    CreateControls();
    WireControls();
    resize(DluToPxX(kTemplateWidthDlu), DluToPxY(kTemplateHeightDlu));
}

CAnalyzerDialog::~CAnalyzerDialog() {
    // No list reaches a dialog that is going.
    m_pDeviceWatcher.reset();
    // Every way of ending the dialog stops the capture first; this only makes
    // sure no cycle outlives the view it draws into.
    StopEngine();
}

// The dialog font of the 8-point class: 9-pixel DejaVu Sans is the largest
// size at which the template's sizes hold every caption and every value.
QFont CAnalyzerDialog::DialogFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(9);
    return font;
}

// ---------------------------------------------------------------------------
// Controls

// Binds a control to its identifier, as the dialog's data exchange does.
void CAnalyzerDialog::Bind(int nId, QWidget* pWidget) {
    m_controls[nId] = pWidget;
    pWidget->setObjectName(QStringLiteral("control%1").arg(nId));
}

QLabel* CAnalyzerDialog::MakeLabel(int nId, const QString& strText, int x, int y, int w, int h,
                                   Qt::Alignment align) {
    auto* pLabel = new QLabel(strText, this);
    pLabel->setGeometry(DluToPx(x, y, w, h));
    pLabel->setAlignment(align | Qt::AlignVCenter);
    Bind(nId, pLabel);
    return pLabel;
}

QComboBox* CAnalyzerDialog::MakeList(int nId, const QStringList& entries, int x, int y, int w,
                                     int h, QComboBox* pList) {
    if (!pList)
        pList = new QComboBox(this);
    pList->setEditable(false);
    pList->addItems(entries);
    const QRect rc = DluToPx(x, y, w, h);
    pList->setGeometry(rc.x(), rc.y(), rc.width(), kListClosedHeight);
    // The template height is the height of the opened list.
    const int nItemHeight = pList->fontMetrics().height() + 2;
    pList->setMaxVisibleItems(std::max(4, (rc.height() - kListClosedHeight) / nItemHeight));
    Bind(nId, pList);
    return pList;
}

CAccelSpinBox* CAnalyzerDialog::MakeSpin(int nEditId, int nSpinId, QRect rcEdit, QRect rcSpin,
                                         QPoint ptEdit, QPoint ptSpin) {
    // One spin box covers the places of the up-down control and its buddy edit.
    const QRect rcEditPx = DluToPx(rcEdit.x(), rcEdit.y(), rcEdit.width(), rcEdit.height());
    const QRect rcSpinPx = DluToPx(rcSpin.x(), rcSpin.y(), rcSpin.width(), rcSpin.height());
    const QRect rcUnion = rcEditPx.united(rcSpinPx);
    auto* pSpin = new CAccelSpinBox(this);
    pSpin->setGeometry(rcUnion);
    pSpin->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_controls[nEditId] = pSpin;
    Bind(nSpinId, pSpin);

    // Where the layout puts the two, measured from the bottom edge.
    const QRect rcLaidEdit(QPoint(ptEdit.x(), -ptEdit.y()), rcEditPx.size());
    const QRect rcLaidSpin(QPoint(ptSpin.x(), -ptSpin.y()), rcSpinPx.size());
    const QRect rcLaid = rcLaidEdit.united(rcLaidSpin);
    pSpin->resize(rcLaid.size());
    m_placements.push_back({pSpin, rcLaid.x(), -rcLaid.y()});
    return pSpin;
}

QCheckBox* CAnalyzerDialog::MakeCheck(int nId, const QString& strText, int x, int y, int w, int h) {
    auto* pCheck = new QCheckBox(strText, this);
    pCheck->setStyle(CStripStyle::Instance());
    pCheck->setGeometry(DluToPx(x, y, w, h));
    Bind(nId, pCheck);
    return pCheck;
}

QPushButton* CAnalyzerDialog::MakeButton(int nId, const QString& strText, int x, int y, int w,
                                         int h) {
    auto* pButton = new QPushButton(strText, this);
    pButton->setGeometry(DluToPx(x, y, w, h));
    // Enter must never press a button of this dialog.
    pButton->setAutoDefault(false);
    pButton->setDefault(false);
    Bind(nId, pButton);
    return pButton;
}

// The controls in the template's order, which is also the tab order. Each
// gets its template size and the layout position it keeps from the left and
// bottom edges (LayoutControls).
void CAnalyzerDialog::CreateControls() {
    auto place = [this](QWidget* pWidget, int nX, int nFromBottom) {
        m_placements.push_back({pWidget, nX, nFromBottom});
    };
    const Qt::Alignment right = Qt::AlignRight;

    place(MakeLabel(IDC_LABEL_DEVICE, QStringLiteral("Capture device:"), 5, 105, 68, 8, right), 12,
          44);
    m_pListDevice = new CDeviceListBox(this);
    MakeList(IDC_LIST_DEVICE, {}, 75, 105, 155, 62, m_pListDevice);
    m_pListDevice->setPlaceholderText(QString::fromUtf8(kLookingText));
    place(m_pListDevice, 120, 48);
    place(MakeLabel(IDC_LABEL_RATE, QStringLiteral("Sample rate:"), 5, 127, 68, 8, right), 12, 18);
    m_pListRate = MakeList(IDC_LIST_RATE,
                           {QStringLiteral("8000 Hz"), QStringLiteral("11025 Hz"),
                            QStringLiteral("22050 Hz"), QStringLiteral("44100 Hz"),
                            QStringLiteral("48000 Hz"), QStringLiteral("96000 Hz")},
                           75, 125, 47, 59);
    place(m_pListRate, 120, 22);
    place(MakeLabel(IDC_LABEL_SAMPLES, QStringLiteral("Samples:"), 143, 127, 30, 8), 240, 18);
    m_pListSamples =
        MakeList(IDC_LIST_SAMPLES,
                 {QStringLiteral("1024"), QStringLiteral("2048"), QStringLiteral("4096"),
                  QStringLiteral("8192"), QStringLiteral("16384")},
                 177, 125, 38, 59);
    place(m_pListSamples, 296, 22);
    m_pButtonStart = MakeButton(IDC_START, QStringLiteral("&Start"), 240, 125, 40, 15);
    place(m_pButtonStart, 396, 24);

    m_pSpinSpanLow = MakeSpin(IDC_EDIT_SPAN_LOW, IDC_SPIN_SPAN_LOW, {19, 204, 31, 12},
                              {5, 200, 11, 14}, {25, 29}, {6, 31});
    m_pSpinSpanHigh = MakeSpin(IDC_EDIT_SPAN_HIGH, IDC_SPIN_SPAN_HIGH, {69, 204, 32, 12},
                               {55, 200, 11, 14}, {97, 29}, {78, 31});
    m_pSpinInertia = MakeSpin(IDC_EDIT_INERTIA, IDC_SPIN_INERTIA, {129, 204, 16, 12},
                              {115, 200, 11, 14}, {169, 29}, {150, 31});
    m_pCheckPeaks = MakeCheck(IDC_CHECK_PEAKS, QStringLiteral("Pks"), 152, 198, 26, 12);
    place(m_pCheckPeaks, 197, 52);
    m_pSpinLength = MakeSpin(IDC_EDIT_LENGTH, IDC_SPIN_LENGTH, {197, 203, 22, 12},
                             {186, 203, 11, 14}, {284, 29}, {265, 31});
    m_pSpinYScale = MakeSpin(IDC_EDIT_YSCALE, IDC_SPIN_YSCALE, {219, 204, 23, 12},
                             {205, 200, 11, 14}, {354, 29}, {335, 31});
    m_pSpinOffset = MakeSpin(IDC_EDIT_OFFSET, IDC_SPIN_OFFSET, {263, 204, 23, 12},
                             {250, 200, 11, 14}, {419, 29}, {400, 31});
    m_pCheckStereo = MakeCheck(IDC_CHECK_STEREO, QStringLiteral("Stereo?"), 303, 204, 44, 12);
    place(m_pCheckStereo, 463, 51);
    m_pSpinOffsetRight = MakeSpin(IDC_EDIT_OFFSET_RIGHT, IDC_SPIN_OFFSET_RIGHT, {364, 204, 23, 12},
                                  {350, 205, 11, 14}, {482, 29}, {463, 31});

    m_pView = new CSpectrumView(this);
    // The welcome page names the page F1 opens, wherever it was found, from
    // its first frame on.
    m_pView->SetWebAddress(WebPage().toString().toStdString());
    m_pView->setGeometry(DluToPx(7, 7, 399, 88));
    Bind(IDC_VIEW, m_pView);

    place(MakeLabel(IDC_LABEL_SPAN, QStringLiteral("Frequency span:"), 5, 182, 62, 8), 6, 48);
    place(MakeLabel(IDC_LABEL_INERTIA, QStringLiteral("Inertia:"), 115, 182, 24, 8), 150, 48);
    place(MakeLabel(IDC_LABEL_YSCALE, QStringLiteral("Y-scale:"), 214, 190, 33, 8), 338, 48);
    place(MakeLabel(IDC_LABEL_OFFSET, QStringLiteral("Offset"), 257, 190, 33, 8), 401, 48);
    // Not moved by the layout: it keeps its template place, under the view.
    m_pLabelOffsetRight =
        MakeLabel(IDC_LABEL_OFFSET_RIGHT, QStringLiteral("Offset (R)"), 349, 190, 33, 8);
    m_pLabelOffsetRight->stackUnder(m_pView);
    m_pLabelOffsetRight->hide();
    m_pListWindow = MakeList(IDC_LIST_WINDOW,
                             {QStringLiteral("Rectangular"), QStringLiteral("Triangular"),
                              QStringLiteral("Hanning"), QStringLiteral("Hamming")},
                             395, 205, 55, 62);
    place(m_pListWindow, 550, 29);
    place(MakeLabel(IDC_LABEL_WINDOW, QStringLiteral("Window function:"), 395, 195, 60, 8), 550,
          48);
    m_pButtonStop = MakeButton(IDC_STOP, QStringLiteral("S&top"), 478, 172, 40, 15);
    place(m_pButtonStop, 720, 31);
    m_pSpinMinXSpace = MakeSpin(IDC_EDIT_MIN_X_SPACE, IDC_SPIN_MIN_X_SPACE, {470, 204, 23, 12},
                                {456, 205, 11, 14}, {669, 29}, {650, 31});
    place(MakeLabel(IDC_LABEL_MIN_X_SPACE, QStringLiteral("Min X-space"), 455, 190, 44, 8), 650,
          48);
    place(MakeLabel(IDC_LABEL_LENGTH, QStringLiteral("Length (ms):"), 159, 182, 38, 8), 266, 48);
    m_pCheckHold = MakeCheck(IDC_CHECK_HOLD, QStringLiteral("Hold"), 151, 207, 30, 12);
    place(m_pCheckHold, 197, 36);
    m_pCheckPinkToFlat =
        MakeCheck(IDC_CHECK_PINK_TO_FLAT, QStringLiteral("Pink 2 Flat"), 150, 217, 47, 12);
    place(m_pCheckPinkToFlat, 197, 20);

    CreateHelpButton();
    CreateExportActions();
    NameControls();

    // The template shows the set-up group and hides the analysis group.
    for (int nId : kAnalysisGroup)
        m_controls[nId]->hide();
}

// A screen reader names each control after its caption: a label with one
// control is that control's buddy; the span's two spins and the controls
// whose caption is hidden or shared get names of their own.
void CAnalyzerDialog::NameControls() {
    const std::pair<int, int> buddies[] = {
        {IDC_LABEL_DEVICE, IDC_LIST_DEVICE},           {IDC_LABEL_RATE, IDC_LIST_RATE},
        {IDC_LABEL_SAMPLES, IDC_LIST_SAMPLES},         {IDC_LABEL_INERTIA, IDC_SPIN_INERTIA},
        {IDC_LABEL_LENGTH, IDC_SPIN_LENGTH},           {IDC_LABEL_YSCALE, IDC_SPIN_YSCALE},
        {IDC_LABEL_OFFSET, IDC_SPIN_OFFSET},           {IDC_LABEL_WINDOW, IDC_LIST_WINDOW},
        {IDC_LABEL_MIN_X_SPACE, IDC_SPIN_MIN_X_SPACE},
    };
    for (const auto& [nLabel, nControl] : buddies) {
        auto* pLabel = qobject_cast<QLabel*>(m_controls[nLabel]);
        pLabel->setBuddy(m_controls[nControl]);
        m_controls[nControl]->setAccessibleName(pLabel->text().remove(u':'));
    }
    m_pSpinSpanLow->setAccessibleName(QStringLiteral("Frequency span, low edge (Hz)"));
    m_pSpinSpanHigh->setAccessibleName(QStringLiteral("Frequency span, high edge (Hz)"));
    m_pSpinOffsetRight->setAccessibleName(QStringLiteral("Offset (R)"));
    m_pView->setAccessibleName(QStringLiteral("Spectrum display"));
}

void CAnalyzerDialog::CreateHelpButton() {
    m_pActionHelp = new QAction(QStringLiteral("Help\u2026"), this);
    m_pActionHelp->setShortcut(QKeySequence(Qt::Key_F1));
    m_pActionHelp->setShortcutContext(Qt::WindowShortcut);
    // F1 works anywhere in the window, with or without the menu.
    addAction(m_pActionHelp);
    m_pActionAbout = new QAction(QStringLiteral("&About Vemra-2.5..."), this);

    m_pMenuHelp = new QMenu(this);
    m_pButtonHelp = new QToolButton(this);
    m_pButtonHelp->setText(QStringLiteral("?"));
    m_pButtonHelp->setToolTip(QStringLiteral("Help and About"));
    m_pButtonHelp->setAccessibleName(QStringLiteral("Help"));
    m_pButtonHelp->setObjectName(QStringLiteral("helpButton"));
    m_pButtonHelp->setMenu(m_pMenuHelp);
    m_pButtonHelp->setPopupMode(QToolButton::InstantPopup);
    m_pButtonHelp->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_pButtonHelp->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    m_pButtonHelp->resize(kHelpButtonWidth, kHelpButtonHeight);
}

// The export commands act on a running analysis: disabled until Start. Their
// shortcuts work anywhere in the window.
void CAnalyzerDialog::CreateExportActions() {
    auto make = [this](const QString& strText, const QKeySequence& keys) {
        auto* pAction = new QAction(strText, this);
        pAction->setShortcut(keys);
        pAction->setShortcutContext(Qt::WindowShortcut);
        pAction->setEnabled(false);
        addAction(pAction);
        return pAction;
    };
    m_pActionSaveSpectrum =
        make(QStringLiteral("Save spectrum as CSV\u2026"), QKeySequence(Qt::CTRL | Qt::Key_S));
    m_pActionSavePicture =
        make(QStringLiteral("Save picture\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    m_pActionCopyPicture = make(QStringLiteral("Copy picture"), QKeySequence(Qt::CTRL | Qt::Key_C));
    m_strExportFolder = QDir::homePath();
}

void CAnalyzerDialog::EnableExport(bool bEnable) {
    for (QAction* pAction : {m_pActionSaveSpectrum, m_pActionSavePicture, m_pActionCopyPicture})
        pAction->setEnabled(bEnable);
}

// The one place where the controls' signals reach the handlers.
void CAnalyzerDialog::WireControls() {
    for (QCheckBox* pCheck : {m_pCheckPeaks, m_pCheckHold, m_pCheckStereo, m_pCheckPinkToFlat})
        connect(pCheck, &QCheckBox::clicked, this, &CAnalyzerDialog::OnSettingsChanged);
    for (CAccelSpinBox* pSpin :
         {m_pSpinSpanLow, m_pSpinSpanHigh, m_pSpinInertia, m_pSpinYScale, m_pSpinOffset,
          m_pSpinOffsetRight, m_pSpinMinXSpace, m_pSpinLength})
        connect(pSpin, &QSpinBox::valueChanged, this, &CAnalyzerDialog::OnSettingsChanged);
    connect(m_pListWindow, &QComboBox::activated, this, &CAnalyzerDialog::OnSelchangeWindowType);
    connect(m_pListDevice, &CDeviceListBox::PopupAboutToShow, this,
            &CAnalyzerDialog::OnDeviceListOpening);
    // Every change of entry that the program does not make is the user's pick,
    // and so is choosing the entry the program had chosen.
    connect(m_pListDevice, &QComboBox::activated, this, [this] { m_bDeviceChosen = true; });
    connect(m_pListDevice, &QComboBox::currentIndexChanged, this,
            [this] { m_bDeviceChosen = m_bDeviceChosen || !m_bSelectingDevice; });
    connect(m_pButtonStart, &QPushButton::clicked, this, &CAnalyzerDialog::OnStart);
    connect(m_pButtonStop, &QPushButton::clicked, this, &CAnalyzerDialog::OnStop);
    connect(m_pActionHelp, &QAction::triggered, this, &CAnalyzerDialog::OnHelpInfo);
    connect(m_pActionAbout, &QAction::triggered, this, &CAnalyzerDialog::OnAbout);
    connect(m_pActionSaveSpectrum, &QAction::triggered, this, &CAnalyzerDialog::OnSaveSpectrum);
    connect(m_pActionSavePicture, &QAction::triggered, this, &CAnalyzerDialog::OnSavePicture);
    connect(m_pActionCopyPicture, &QAction::triggered, this, &CAnalyzerDialog::OnCopyPicture);
}

QWidget* CAnalyzerDialog::Control(int nId) const {
    auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
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
    m_pMenuHelp->addAction(m_pActionSaveSpectrum);
    m_pMenuHelp->addAction(m_pActionSavePicture);
    m_pMenuHelp->addAction(m_pActionCopyPicture);
    m_pMenuHelp->addSeparator();
    m_pMenuHelp->addAction(m_pActionHelp);
    m_pMenuHelp->addSeparator();
    m_pMenuHelp->addAction(m_pActionAbout);
    setWindowIcon(m_hIcon);

    // The devices are found off this thread: the window never waits for a
    // sound server. Until they come the list holds the built-in signal, with
    // nothing selected, and says that it is looking; the first list selects
    // entry 1, unless the user has chosen meanwhile. A failed enumeration
    // still lists the built-in signal.
    FillDeviceList();

    m_pListRate->setCurrentIndex(3);
    m_pListSamples->setCurrentIndex(2);
    m_pListWindow->setCurrentIndex(2);
    m_nWindowType = 2;

    m_pView->m_pSpinSpanLow = m_pSpinSpanLow;
    m_pView->m_pSpinSpanHigh = m_pSpinSpanHigh;
    m_pView->UpdateBackBuffer();

    m_nFftSize = 4096;
    m_nSampleRate = 44100;

    SetRange(m_pSpinSpanHigh, 5, 22050);
    SetRange(m_pSpinSpanLow, 5, 22050);
    SetRange(m_pSpinYScale, 1, 500);
    SetRange(m_pSpinInertia, 1, 1000);
    SetRange(m_pSpinLength, 1, 93);
    SetRange(m_pSpinOffsetRight, 0, 1000);
    SetRange(m_pSpinOffset, 0, 1000);
    SetRange(m_pSpinMinXSpace, 0, 1000);

    m_pCheckPeaks->setChecked(false);
    m_pCheckStereo->setChecked(false);

    m_pSpinSpanLow->SetAccel({{0, 1}, {2, 10}, {5, 100}});
    m_pSpinSpanHigh->SetAccel({{0, 1}, {2, 10}, {5, 100}});
    m_pSpinYScale->SetAccel({{0, 1}});
    m_pSpinOffsetRight->SetAccel({{0, 1}, {2, 10}});
    m_pSpinOffset->SetAccel({{0, 1}, {2, 10}});
    m_pSpinMinXSpace->SetAccel({{0, 1}, {2, 10}});

    m_pSpinSpanLow->setValue(40);
    m_pSpinSpanHigh->setValue(16000);
    m_pSpinYScale->setValue(100);
    m_pSpinInertia->setValue(3);
    m_pSpinLength->setValue(93);
    m_pSpinOffsetRight->setValue(100);
    m_pSpinOffset->setValue(100);
    m_pSpinMinXSpace->setValue(2);

    ReadSettings();
    if (m_nClientWidth > 50 && m_nClientHeight > 50)
        LayoutControls();
    m_pView->m_pDialog = this;
    m_pListDevice->setFocus();
    return true;
}

// A range change alone does not count as a settings change; the position
// set next does.
void CAnalyzerDialog::SetRange(QSpinBox* pSpin, int nLow, int nHigh) {
    const QSignalBlocker quiet(pSpin);
    pSpin->setRange(nLow, nHigh);
}

void CAnalyzerDialog::FillDeviceList() {
    ShowDeviceList({});
    SelectDevice(-1);
    m_pDeviceWatcher = std::make_unique<CDeviceWatcher>(
        m_desktop.pfnEnumerateDevices, [this](std::vector<SCaptureDeviceEntry> devices) {
            QMetaObject::invokeMethod(
                this,
                [this, devices = std::move(devices)]() mutable {
                    OnDevicesListed(std::move(devices));
                },
                Qt::QueuedConnection);
        });
}

void CAnalyzerDialog::OnDevicesListed(std::vector<SCaptureDeviceEntry> devices) {
    // A running capture keeps the list it was started from.
    if (m_pEngine) {
        m_pendingDevices = std::move(devices);
        return;
    }
    const bool bFirst = std::exchange(m_bLookingForDevices, false);
    if (!bFirst && devices == m_shownDevices)
        return;
    // The user's pick follows its device by identifier while it is listed.
    // Otherwise the program chooses as at start-up, entry 1, the first device
    // after the primary one: so a stand-in chosen while the server was away
    // gives way to the server's first source when it is back.
    const QByteArray chosen =
        m_bDeviceChosen ? EntryKey(m_pListDevice->currentIndex()) : QByteArray();
    ShowDeviceList(devices);
    m_shownDevices = std::move(devices);
    int nSelect = -1;
    for (int i = 0; !chosen.isEmpty() && i < m_pListDevice->count() && nSelect < 0; ++i)
        if (EntryKey(i) == chosen)
            nSelect = i;
    m_bDeviceChosen = nSelect >= 0;
    SelectDevice(nSelect >= 0 ? nSelect : std::min(1, m_pListDevice->count() - 1));
}

void CAnalyzerDialog::SelectDevice(int nIndex) {
    m_bSelectingDevice = true;
    m_pListDevice->setCurrentIndex(nIndex);
    m_bSelectingDevice = false;
}

// What names an entry from one list to the next: its device's identifier, or
// "primary" for the primary device; empty for no entry.
QByteArray CAnalyzerDialog::EntryKey(int nIndex) const {
    if (nIndex < 0 || nIndex >= m_pListDevice->count())
        return {};
    const QVariant data = m_pListDevice->itemData(nIndex);
    if (!data.isValid())
        return QByteArrayLiteral("primary");
    const SCaptureGuid& guid = m_deviceGuids[size_t(data.toInt())];
    return QByteArray(reinterpret_cast<const char*>(guid.bytes), sizeof guid.bytes);
}

// Entries through EnumCaptureDevice, as the sound system reported them, and
// the built-in signal where the report did not include it.
void CAnalyzerDialog::ShowDeviceList(const std::vector<SCaptureDeviceEntry>& devices) {
    const QSignalBlocker quiet(m_pListDevice);
    m_pListDevice->clear();
    m_deviceGuids.clear();
    m_nListedDevices = 0;
    m_bBuiltInListed = false;
    for (const SCaptureDeviceEntry& device : devices)
        EnumCaptureDevice(device.bPrimary ? nullptr : &device.guid, device.description.c_str(),
                          device.module.c_str(), this);
    if (!m_bBuiltInListed) {
        const SCaptureGuid guid = CTestSignalDevice::Guid();
        AddDevice(&guid, QString::fromUtf8(CTestSignalDevice::kDescription), true);
    }
}

// Without a sound server to report them, devices plugged in since the last
// look are found when the list is opened.
void CAnalyzerDialog::OnDeviceListOpening() {
    if (!m_pEngine && m_pDeviceWatcher)
        m_pDeviceWatcher->Rescan();
}

bool CAnalyzerDialog::EnumCaptureDevice(const SCaptureGuid* pGuid, const char* pszDescription,
                                        const char* /*pszModule*/, void* pContext) {
    auto* pDialog = static_cast<CAnalyzerDialog*>(pContext);
    const bool bBuiltIn = pGuid && CTestSignalDevice::IsGuid(*pGuid);
    pDialog->AddDevice(pGuid, QString::fromUtf8(pszDescription), bBuiltIn);
    return true;
}

void CAnalyzerDialog::AddDevice(const SCaptureGuid* pGuid, const QString& strDescription,
                                bool bBuiltIn) {
    if (bBuiltIn) {
        if (m_bBuiltInListed)
            return;
        m_bBuiltInListed = true;
    } else if (pGuid && m_nListedDevices >= kMaxListedDevices) {
        return;
    }
    QVariant data; // null: the primary device
    if (pGuid) {
        data = int(m_deviceGuids.size());
        m_deviceGuids.push_back(*pGuid);
        if (!bBuiltIn)
            ++m_nListedDevices;
    }
    m_pListDevice->addItem(strDescription, data);
}

const SCaptureGuid* CAnalyzerDialog::SelectedDevice() const {
    const QVariant data = m_pListDevice->currentData();
    if (!data.isValid())
        return nullptr; // the primary device, or nothing selected: the default input
    const int nIndex = data.toInt();
    if (nIndex < 0 || nIndex >= int(m_deviceGuids.size()))
        return nullptr;
    return &m_deviceGuids[size_t(nIndex)];
}

QString CAnalyzerDialog::SelectedDeviceName() const {
    return m_pListDevice->currentText();
}

// ---------------------------------------------------------------------------
// Settings

void CAnalyzerDialog::OnSettingsChanged() {
    ReadSettings();
}

void CAnalyzerDialog::ReadSettings() {
    m_nSpanHighHz = m_pSpinSpanHigh->value();
    m_nSpanLowHz = m_pSpinSpanLow->value();
    m_nYScale = m_pSpinYScale->value();
    m_nInertia = m_pSpinInertia->value();
    m_nLengthMs = m_pSpinLength->value();
    m_bPinkToFlat = m_pCheckPinkToFlat->isChecked() ? 1 : 0;
    m_nOffsetRight = m_pSpinOffsetRight->value();
    m_nOffset = m_pSpinOffset->value();
    m_bFastAttack = m_pCheckPeaks->isChecked() ? 1 : 0;
    m_bHold = m_pCheckHold->isChecked() ? 1 : 0;
    m_bStereo = m_pCheckStereo->isChecked() ? 1 : 0;

    // The right channel's controls belong to the running arrangement only.
    const bool bShowRight = m_nShownPanel == kPanelRunning && m_bStereo;
    if (m_controls[kStereoOnly[0]]->isHidden() == bShowRight) {
        for (int nId : kStereoOnly)
            m_controls[nId]->setVisible(bShowRight);
        PlaceHelpButton();
    }

    m_nMinXSpace = m_pSpinMinXSpace->value();
    if (!m_pEngine)
        return;

    m_pEngine->m_nInertia = m_nInertia;
    for (CAnalysisChannel* pChannel : {&m_pEngine->m_chanLeft, &m_pEngine->m_chanRight}) {
        pChannel->m_nInertia = m_nInertia;
        pChannel->m_bPinkToFlat = m_bPinkToFlat != 0;
        pChannel->m_bFastAttack = m_bFastAttack;
    }
    m_pEngine->m_nLengthMs = m_nLengthMs;
    m_pEngine->m_bStereo = m_bStereo;
    m_pEngine->m_nSpanLowHz = m_nSpanLowHz;
    m_pEngine->m_nSpanHighHz = m_nSpanHighHz;

    if (m_pView->m_nSpanLowHz != m_nSpanLowHz || m_pView->m_nSpanHighHz != m_nSpanHighHz) {
        m_pView->m_nSpanLowHz = m_nSpanLowHz;
        m_pView->m_nSpanHighHz = m_nSpanHighHz;
        m_pView->DrawScale();
    }
    if (m_pView->m_bHold != m_bHold) {
        m_pView->m_bHold = m_bHold;
        if (m_bHold) {
            m_pEngine->m_chanLeft.ClearHold();
            m_pEngine->m_chanRight.ClearHold();
        }
    }
    m_pView->m_nYScale = m_nYScale;
    m_pView->m_nOffsetRight = m_nOffsetRight;
    m_pView->m_nOffset = m_nOffset;
    m_pView->m_nMinXSpace = m_nMinXSpace;
}

void CAnalyzerDialog::OnSelchangeWindowType() {
    m_nWindowType = m_pListWindow->currentIndex();
    if (!m_pEngine)
        return;
    m_pEngine->m_nWindowType = m_nWindowType;
    for (CAnalysisChannel* pChannel : {&m_pEngine->m_chanLeft, &m_pEngine->m_chanRight}) {
        pChannel->m_nWindowType = m_nWindowType;
        // Regenerated over the whole block; the next cycle shortens it again
        // where the analysis length is below the block length.
        pChannel->SetWindow(m_nWindowType, 0);
    }
}

// ---------------------------------------------------------------------------
// Arrangements and layout

void CAnalyzerDialog::ShowPanel(int nShow) {
    m_nShownPanel = nShow == kPanelSetup || nShow == kPanelRunning ? nShow : kPanelNone;
    for (int nId : kSetupGroup)
        m_controls[nId]->setVisible(nShow == kPanelSetup);
    for (int nId : kAnalysisGroup) {
        bool bShow = nShow == kPanelRunning;
        if (IsStereoOnly(nId))
            bShow = bShow && m_bStereo;
        m_controls[nId]->setVisible(bShow);
    }
    m_pButtonHelp->setVisible(m_nShownPanel != kPanelNone);
    PlaceHelpButton();
}

bool CAnalyzerDialog::IsStereoOnly(int nId) {
    return std::find(std::begin(kStereoOnly), std::end(kStereoOnly), nId) != std::end(kStereoOnly);
}

void CAnalyzerDialog::LayoutControls() {
    const int W = m_nClientWidth;
    const int H = m_nClientHeight;
    const int nViewHeight = m_nPanelMode == 1 ? H - 60 : H - 3;
    // A client area too small for the view leaves it empty rather than negative.
    m_pView->setGeometry(2, 2, std::max(0, W - 3), std::max(0, nViewHeight));
    for (const SPlacement& p : m_placements)
        p.pWidget->move(p.nX, H - p.nFromBottom);
    PlaceHelpButton();
}

// At the right end of the strip, above Stop. Where the window is too narrow
// for that and the button would cover a control, it goes right after the last
// control of the arrangement shown.
void CAnalyzerDialog::PlaceHelpButton() {
    QRect rcHelp(m_nClientWidth - kHelpButtonWidth - 4, m_nClientHeight - 52, kHelpButtonWidth,
                 kHelpButtonHeight);
    bool bCovers = false;
    int nLastRight = 0;
    for (const auto& [nId, pControl] : m_controls) {
        if (pControl == m_pView || pControl->isHidden())
            continue;
        bCovers = bCovers || pControl->geometry().intersects(rcHelp);
        nLastRight = std::max(nLastRight, pControl->geometry().right());
    }
    if (bCovers)
        rcHelp.moveLeft(nLastRight + 5);
    m_pButtonHelp->move(rcHelp.topLeft());
    m_pButtonHelp->raise();
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

// ---------------------------------------------------------------------------
// Compact mode

void CAnalyzerDialog::mousePressEvent(QMouseEvent* pEvent) {
    // Qt hands a right press that a button or check box does not take on to
    // the dialog; only the background and the labels toggle compact mode.
    if (pEvent->button() == Qt::RightButton) {
        QWidget* pUnder = childAt(pEvent->position().toPoint());
        if (!pUnder || qobject_cast<QLabel*>(pUnder)) {
            OnRButtonDown();
            return;
        }
    }
    QDialog::mousePressEvent(pEvent);
}

void CAnalyzerDialog::OnRButtonDown() {
    ++m_nPanelMode;
    if (m_nPanelMode > 1) {
        m_nPanelMode = 0;
        ShowPanel(kPanelNone);
        SetTopmost(true);
        // Where the desktop ignores the request, the user is told once how to
        // get the window on top instead.
        if (!m_desktop.bWindowsStayOnTop && !std::exchange(m_bToldNoTopmost, true))
            m_pView->ShowNotice(kNoTopmostText, kNoticeMs);
    } else {
        ShowPanel(m_pEngine ? kPanelRunning : kPanelSetup);
        SetTopmost(false);
    }
    LayoutControls();
}

bool CAnalyzerDialog::IsTopmost() const {
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void CAnalyzerDialog::SetTopmost(bool bTopmost) {
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, bTopmost);
    if (QWindow* pWindow = windowHandle()) {
        // Changing the widget's flags would hide the window and show it
        // anew; the window itself changes its band in place.
        overrideWindowFlags(flags);
        pWindow->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

// ---------------------------------------------------------------------------
// Start and Stop

void CAnalyzerDialog::OnStart() {
    if (m_pEngine) {
        ShowMessageBox(
            this, QCoreApplication::applicationName(),
            QStringLiteral(
                "Hello?\nYou are already up and running, please stop before you start."));
        return;
    }
    const SCaptureGuid* pDevice = SelectedDevice();
    m_pEngine = new CCaptureEngine;

    const int nRate = m_pListRate->currentIndex();
    if (nRate >= 0 && nRate < int(std::size(kSampleRates)))
        m_nSampleRate = kSampleRates[nRate];
    const int nSize = m_pListSamples->currentIndex();
    if (nSize >= 0 && nSize < int(std::size(kFftSizes)))
        m_nFftSize = kFftSizes[nSize];

    m_pView->m_nSpanLowHz = m_nSpanLowHz;
    m_pView->m_nOffsetRight = m_nOffsetRight;
    m_pView->m_nFftSize = m_nFftSize;
    m_pView->m_nYScale = m_nYScale;
    m_pView->m_nSampleRate = m_nSampleRate;
    m_pView->m_nMinXSpace = m_nMinXSpace;
    m_pView->m_nSpanHighHz = m_nSpanHighHz;
    m_pView->m_nOffset = m_nOffset;

    ResetRunRanges();

    m_pEngine->m_pView = m_pView;
    ShowPanel(kPanelRunning);
    m_pEngine->m_nWindowType = m_nWindowType;
    m_pEngine->m_nInertia = m_nInertia;
    m_pEngine->m_chanLeft.m_nInertia = m_nInertia;
    m_pEngine->m_chanRight.m_nInertia = m_nInertia;
    m_pEngine->m_chanLeft.m_bFastAttack = m_bFastAttack;
    m_pEngine->m_chanRight.m_bFastAttack = m_bFastAttack;
    m_pEngine->m_bStereo = m_bStereo;
    m_pEngine->m_nLengthMs = m_nLengthMs;
    m_pEngine->m_nSpanHighHz = m_nSpanHighHz;
    m_pEngine->m_nSpanLowHz = m_nSpanLowHz;
    m_pEngine->m_nFftSize = m_nFftSize;
    m_pEngine->m_nSampleRate = m_nSampleRate;
    m_pView->DrawScale();

    int nResult = m_pEngine->Open(pDevice);
    if (nResult >= 0)
        nResult = m_pEngine->Start();
    if (nResult < 0) {
        // The set-up group is back behind the apology, ready for another Start.
        OnStop();
        ShowMessageBox(this, QCoreApplication::applicationName(),
                       QStringLiteral("Sorry!\nBut I couldn't open the capture device.\n") +
                           OpenFailureReason(nResult, m_nSampleRate));
        return;
    }
    EnableExport(true);
    // The group that held the focus is hidden: the next key goes to Stop.
    m_pButtonStop->setFocus();
}

// The span to the full range of the new set-up and the length to one block.
void CAnalyzerDialog::ResetRunRanges() {
    const int R = m_nSampleRate;
    const int N = m_nFftSize;
    const int nLowFloor = RoundHalfUp(2.0 * R / N);
    const int nHighFloor = RoundHalfUp(6.0 * R / N);
    const int nBlockMs = RoundHalfUp(1000.0 * N / R);

    SetRange(m_pSpinSpanHigh, nHighFloor, R / 2);
    SetRange(m_pSpinSpanLow, nLowFloor, R / 2);
    m_pSpinSpanLow->setValue(nLowFloor);
    m_pSpinSpanHigh->setValue(R / 2);
    SetRange(m_pSpinLength, 1, nBlockMs);
    m_pSpinLength->setValue(nBlockMs);
    // A position equal to the old one raises no change; the engine needs all.
    ReadSettings();
}

void CAnalyzerDialog::OnStop() {
    if (!m_pEngine)
        return;
    StopEngine();
    ShowPanel(kPanelSetup);
    m_pButtonStart->setFocus();
    if (m_pendingDevices)
        OnDevicesListed(*std::exchange(m_pendingDevices, std::nullopt));
}

void CAnalyzerDialog::StopEngine() {
    if (!m_pEngine)
        return;
    // A cycle in progress leaves after its current pass; Stop waits for it.
    m_pEngine->m_bStopCycle = 1;
    m_pEngine->m_nPassCount = 20000;
    m_pEngine->Stop();
    delete m_pEngine;
    m_pEngine = nullptr;
    // The channels are gone with the engine.
    EnableExport(false);
    m_pView->BindChannels(nullptr, nullptr, m_nFftSize, m_nSampleRate);
    m_pView->update();
}

// ---------------------------------------------------------------------------
// Ending the dialog

void CAnalyzerDialog::closeEvent(QCloseEvent* pEvent) {
    OnClose();
    QDialog::closeEvent(pEvent);
}

void CAnalyzerDialog::OnClose() {
    OnStop();
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

// ---------------------------------------------------------------------------
// Keeping a measurement

// Asks where to save, offering a name with the date and time in the folder
// saved to last during this run; the path chosen (and its folder kept for
// the next time), or empty.
QString CAnalyzerDialog::AskExportPath(const QString& strCaption, const QString& strExtension,
                                       const QString& strFilter) {
    const QString strName =
        QStringLiteral("vemra2-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + u'.' +
        strExtension;
    const QString strPath =
        AskSaveFileName(this, strCaption, QDir(m_strExportFolder).filePath(strName), strFilter);
    if (!strPath.isEmpty())
        m_strExportFolder = QFileInfo(strPath).absolutePath();
    return strPath;
}

void CAnalyzerDialog::SayNotSaved(const QString& strWhat, const QString& strPath,
                                  const QString& strError) {
    ShowMessageBox(this, QCoreApplication::applicationName(),
                   QStringLiteral("Sorry!\nBut I couldn't save the %1 to %2.\n%3")
                       .arg(strWhat, strPath, strError));
}

// The data of the pass shown when the command was given, before the file
// dialog: the analysis goes on while it is open.
void CAnalyzerDialog::OnSaveSpectrum() {
    if (!m_pEngine)
        return;
    const SSpectrumSnapshot snapshot =
        CSpectrumCsv::Take(*m_pEngine, Settings(), m_nSampleRate, m_nFftSize, SelectedDeviceName(),
                           m_pListWindow->currentText());
    const QString strPath =
        AskExportPath(QStringLiteral("Save spectrum as CSV"), QStringLiteral("csv"),
                      QStringLiteral("CSV files (*.csv);;All files (*)"));
    QString strError;
    if (!strPath.isEmpty() &&
        !CSpectrumCsv::Save(strPath, CSpectrumCsv::Format(snapshot), &strError))
        SayNotSaved(QStringLiteral("spectrum"), strPath, strError);
}

// The picture handed to the window, at the screen's resolution.
void CAnalyzerDialog::OnSavePicture() {
    if (!m_pEngine)
        return;
    const QImage picture = m_pView->FrontImage();
    const QString strPath = AskExportPath(QStringLiteral("Save picture"), QStringLiteral("png"),
                                          QStringLiteral("PNG pictures (*.png);;All files (*)"));
    if (strPath.isEmpty())
        return;
    QSaveFile file(strPath);
    QImageWriter writer(&file, "png");
    if (file.open(QIODevice::WriteOnly) && writer.write(picture) && file.commit())
        return;
    const QString strError =
        file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
    file.cancelWriting();
    SayNotSaved(QStringLiteral("picture"), strPath, strError);
}

void CAnalyzerDialog::OnCopyPicture() {
    if (!m_pEngine)
        return;
    QGuiApplication::clipboard()->setImage(m_pView->FrontImage());
}
