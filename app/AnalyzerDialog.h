#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/StayOnTop.h"
#include "devices/CaptureDevices.h"
#include "devices/CaptureFormat.h"
#include "devices/DeviceWatcher.h"

class CAccelSpinBox;
class CCaptureEngine;
class CDeviceListBox;
class CSpectrumView;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QSpinBox;
class QToolButton;

// What the dialog takes from the desktop it runs on.
struct SDialogDesktop {
    // Lists the capture devices (CaptureEnumerate; tests give a scripted one).
    using EnumerateDevicesFn = int (*)(CaptureEnumCallback pfnCallback, void* pContext);
    EnumerateDevicesFn pfnEnumerateDevices = CaptureEnumerate;
    bool bWindowsStayOnTop = CanKeepWindowsOnTop();
};

// The dialog's settings, the master copy (see ReadSettings), and its layout
// state. The dialog alone writes them; others read a copy through Settings().
struct SDialogSettings {
    int m_nSampleRate = 44100;
    int m_nFftSize = 4096;
    int m_nSpanLowHz = 40;
    int m_nSpanHighHz = 16000;
    int m_nYScale = 100;
    int m_nInertia = 3;
    int m_nOffsetRight = 100;
    int m_nOffset = 100;
    int m_bStereo = 0;
    int m_bFastAttack = 0;
    int m_bHold = 0;
    int m_nWindowType = 2;
    int m_nMinXSpace = 2;
    int m_bPinkToFlat = 0;
    int m_nLengthMs = 93;
    int m_nPanelMode = 1;
    int m_nClientWidth = 0;
    int m_nClientHeight = 0;
};

// The program's main window: the spectrum view on top and the control strip
// along the bottom. The strip shows the set-up group (device, rate, samples,
// Start) while stopped and the analysis group (span, inertia, length, Y-scale,
// offsets, window function, Min X-space, check boxes, Stop) while running; in
// compact mode it is hidden and the window stays on top.
//
// The dialog holds the master copy of every setting. Each change is read into
// its fields (ReadSettings) and from there pushed into the running engine, its
// two channels and the view; nobody else reads a control.
class CAnalyzerDialog : public QDialog, private SDialogSettings {
    Q_OBJECT
public:
    // Control identifiers, in the order of the dialog's template (and tab order).
    enum EControl {
        IDC_LABEL_DEVICE = 1003,
        IDC_LIST_DEVICE = 1002,
        IDC_LABEL_RATE = 1005,
        IDC_LIST_RATE = 1004,
        IDC_LABEL_SAMPLES = 1007,
        IDC_LIST_SAMPLES = 1006,
        IDC_START = 1029,
        IDC_EDIT_SPAN_LOW = 1019,
        IDC_SPIN_SPAN_LOW = 1016,
        IDC_EDIT_SPAN_HIGH = 1031,
        IDC_SPIN_SPAN_HIGH = 1018,
        IDC_EDIT_INERTIA = 1032,
        IDC_SPIN_INERTIA = 1020,
        IDC_CHECK_PEAKS = 1014,
        IDC_EDIT_LENGTH = 1039,
        IDC_SPIN_LENGTH = 1023,
        IDC_EDIT_YSCALE = 1033,
        IDC_SPIN_YSCALE = 1024,
        IDC_EDIT_OFFSET = 1034,
        IDC_SPIN_OFFSET = 1026,
        IDC_CHECK_STEREO = 1022,
        IDC_EDIT_OFFSET_RIGHT = 1035,
        IDC_SPIN_OFFSET_RIGHT = 1027,
        IDC_VIEW = 1000,
        IDC_LABEL_SPAN = 1008,
        IDC_LABEL_INERTIA = 1012,
        IDC_LABEL_YSCALE = 1017,
        IDC_LABEL_OFFSET = 1021,
        IDC_LABEL_OFFSET_RIGHT = 1025,
        IDC_LIST_WINDOW = 1009,
        IDC_LABEL_WINDOW = 1028,
        IDC_STOP = 1036,
        IDC_EDIT_MIN_X_SPACE = 1037,
        IDC_SPIN_MIN_X_SPACE = 1030,
        IDC_LABEL_MIN_X_SPACE = 1038,
        IDC_LABEL_LENGTH = 1013,
        IDC_CHECK_HOLD = 1015,
        IDC_CHECK_PINK_TO_FLAT = 1040,
    };
    // ShowPanel's arrangements.
    static constexpr int kPanelSetup = 0;
    static constexpr int kPanelRunning = 5;
    static constexpr int kPanelNone = 1;

    using EnumerateDevicesFn = SDialogDesktop::EnumerateDevicesFn;
    using SDesktop = SDialogDesktop;

    explicit CAnalyzerDialog(const SDesktop& desktop = SDesktop(), QWidget* pParent = nullptr);

    // Said in the plot the first time compact mode cannot keep the window on top.
    static constexpr const char* kNoTopmostText =
        "This desktop does not let programs stay on top: use the window menu's 'Always on top'.";
    static constexpr int kNoticeMs = 6000;
    ~CAnalyzerDialog() override;

    // Reads every analysis control into the fields and, while running, passes
    // the values on to the engine, its channels and the view.
    void ReadSettings();
    // Shows the set-up (kPanelSetup), running (kPanelRunning) or no arrangement.
    void ShowPanel(int nShow);
    // Places the view and the strip for the recorded client size.
    void LayoutControls();

    // The control with that identifier; a spin and its buddy edit are one widget.
    QWidget* Control(int nId) const;
    CSpectrumView* View() const { return m_pView; }
    CCaptureEngine* Engine() const { return m_pEngine; }
    bool IsTopmost() const;
    QString SelectedDeviceName() const;
    // The device list is waiting for its first answer (it says so meanwhile).
    bool IsLookingForDevices() const { return m_bLookingForDevices; }
    CDeviceWatcher* DeviceWatcher() const { return m_pDeviceWatcher.get(); }
    QToolButton* HelpButton() const { return m_pButtonHelp; }
    QAction* HelpAction() const { return m_pActionHelp; }
    QAction* AboutAction() const { return m_pActionAbout; }
    QAction* SaveSpectrumAction() const { return m_pActionSaveSpectrum; }
    QAction* SavePictureAction() const { return m_pActionSavePicture; }
    QAction* CopyPictureAction() const { return m_pActionCopyPicture; }

    const SDialogSettings& Settings() const { return *this; }

    // What the device list says until the devices have been found.
    static constexpr const char* kLookingText = "Looking for sound devices\u2026";

    // Template size of the client area, in dialog units.
    static constexpr int kTemplateWidthDlu = 525;
    static constexpr int kTemplateHeightDlu = 286;
    static constexpr int kHelpButtonWidth = 24;
    static constexpr int kHelpButtonHeight = 20;

    // The groups, in the order ShowPanel handles them.
    static constexpr int kSetupGroup[] = {IDC_LABEL_DEVICE, IDC_LABEL_RATE, IDC_LABEL_SAMPLES,
                                          IDC_LIST_DEVICE,  IDC_LIST_RATE,  IDC_LIST_SAMPLES,
                                          IDC_START};
    // "Offset (R)" is not among them: it stays hidden, as in short windows it
    // would stand over "Window function:", and "Stereo?" captions the right
    // offset already.
    static constexpr int kAnalysisGroup[] = {IDC_LABEL_SPAN,
                                             IDC_LABEL_INERTIA,
                                             IDC_LABEL_YSCALE,
                                             IDC_LABEL_OFFSET,
                                             IDC_LABEL_WINDOW,
                                             IDC_LABEL_MIN_X_SPACE,
                                             IDC_LABEL_LENGTH,
                                             IDC_SPIN_SPAN_HIGH,
                                             IDC_EDIT_SPAN_HIGH,
                                             IDC_SPIN_SPAN_LOW,
                                             IDC_EDIT_SPAN_LOW,
                                             IDC_SPIN_INERTIA,
                                             IDC_EDIT_INERTIA,
                                             IDC_CHECK_PEAKS,
                                             IDC_CHECK_HOLD,
                                             IDC_CHECK_PINK_TO_FLAT,
                                             IDC_SPIN_LENGTH,
                                             IDC_EDIT_LENGTH,
                                             IDC_SPIN_YSCALE,
                                             IDC_EDIT_YSCALE,
                                             IDC_SPIN_OFFSET,
                                             IDC_EDIT_OFFSET,
                                             IDC_SPIN_OFFSET_RIGHT,
                                             IDC_EDIT_OFFSET_RIGHT,
                                             IDC_CHECK_STEREO,
                                             IDC_LIST_WINDOW,
                                             IDC_SPIN_MIN_X_SPACE,
                                             IDC_EDIT_MIN_X_SPACE,
                                             IDC_STOP};
    static constexpr int kStereoOnly[] = {IDC_SPIN_OFFSET_RIGHT, IDC_EDIT_OFFSET_RIGHT};

    // The font the controls' template sizes are made for.
    static QFont DialogFont();

public slots:
    void OnStart();
    void OnStop();
    void OnSettingsChanged();
    void OnSelchangeWindowType();
    // Toggles compact mode; the view invokes it on a right double-click.
    Q_INVOKABLE void OnRButtonDown();
    bool OnHelpInfo();
    void OnAbout();
    // Keeping a measurement while running: the spectrum as CSV, the picture
    // shown as PNG, the picture to the clipboard.
    void OnSaveSpectrum();
    void OnSavePicture();
    void OnCopyPicture();
    // A new list of the capture devices (user-interface thread). While a
    // capture runs it waits for Stop.
    void OnDevicesListed(std::vector<SCaptureDeviceEntry> devices);

protected:
    // Runs the start-up initialisation once, before the window first appears.
    void showEvent(QShowEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void reject() override;
    void accept() override { OnOK(); }

private:
    bool OnInitDialog();
    void OnOK() {}
    void OnSize(int nWidth, int nHeight);
    void OnClose();
    void FillDeviceList();
    void ShowDeviceList(const std::vector<SCaptureDeviceEntry>& devices);
    QByteArray EntryKey(int nIndex) const;
    // The program's own choice of entry, which is not the user's pick.
    void SelectDevice(int nIndex);
    void OnDeviceListOpening();
    void SetRange(QSpinBox* pSpin, int nLow, int nHigh);
    void ResetRunRanges();
    static bool IsStereoOnly(int nId);
    static bool EnumCaptureDevice(const SCaptureGuid* pGuid, const char* pszDescription,
                                  const char* pszModule, void* pContext);
    void AddDevice(const SCaptureGuid* pGuid, const QString& strDescription, bool bBuiltIn);
    const SCaptureGuid* SelectedDevice() const;
    void SetTopmost(bool bTopmost);
    void StopEngine();

    void CreateControls();
    void NameControls();
    void CreateHelpButton();
    void CreateExportActions();
    void EnableExport(bool bEnable);
    QString AskExportPath(const QString& strCaption, const QString& strExtension,
                          const QString& strFilter);
    void SayNotSaved(const QString& strWhat, const QString& strPath, const QString& strError);
    void WireControls();
    void Bind(int nId, QWidget* pWidget);
    QLabel* MakeLabel(int nId, const QString& strText, int nX, int nY, int nW, int nH,
                      Qt::Alignment align = Qt::AlignLeft);
    // A drop-down list with the entries; pList, if given, is the one to place.
    QComboBox* MakeList(int nId, const QStringList& entries, int nX, int nY, int nW, int nH,
                        QComboBox* pList = nullptr);
    CAccelSpinBox* MakeSpin(int nEditId, int nSpinId, QRect rcEdit, QRect rcSpin, QPoint ptEdit,
                            QPoint ptSpin);
    QCheckBox* MakeCheck(int nId, const QString& strText, int nX, int nY, int nW, int nH);
    QPushButton* MakeButton(int nId, const QString& strText, int nX, int nY, int nW, int nH);
    void PlaceHelpButton();

    struct SPlacement {
        QWidget* pWidget;
        int nX;          // pixels from the client area's left edge
        int nFromBottom; // pixels from its bottom edge to the widget's top
    };

    CSpectrumView* m_pView = nullptr;
    CCaptureEngine* m_pEngine = nullptr;
    QIcon m_hIcon;
    bool m_bInitialised = false;
    // The arrangement ShowPanel set last.
    int m_nShownPanel = kPanelSetup;

    std::map<int, QWidget*> m_controls;
    std::vector<SPlacement> m_placements;
    // Identifiers of the listed devices; the device list's item data indexes it.
    std::vector<SCaptureGuid> m_deviceGuids;
    int m_nListedDevices = 0;
    bool m_bBuiltInListed = false;
    SDesktop m_desktop;
    bool m_bToldNoTopmost = false;
    // Finds the devices off this thread and follows the sound server.
    std::unique_ptr<CDeviceWatcher> m_pDeviceWatcher;
    // The list shown, and one that came while a capture ran.
    std::vector<SCaptureDeviceEntry> m_shownDevices;
    std::optional<std::vector<SCaptureDeviceEntry>> m_pendingDevices;
    bool m_bLookingForDevices = true;
    // The entry selected is the user's pick, not the program's choice.
    bool m_bDeviceChosen = false;
    bool m_bSelectingDevice = false;

    CDeviceListBox* m_pListDevice = nullptr;
    QComboBox* m_pListRate = nullptr;
    QComboBox* m_pListSamples = nullptr;
    QComboBox* m_pListWindow = nullptr;
    QPushButton* m_pButtonStart = nullptr;
    QPushButton* m_pButtonStop = nullptr;
    CAccelSpinBox* m_pSpinSpanLow = nullptr;
    CAccelSpinBox* m_pSpinSpanHigh = nullptr;
    CAccelSpinBox* m_pSpinInertia = nullptr;
    CAccelSpinBox* m_pSpinLength = nullptr;
    CAccelSpinBox* m_pSpinYScale = nullptr;
    CAccelSpinBox* m_pSpinOffset = nullptr;
    CAccelSpinBox* m_pSpinOffsetRight = nullptr;
    CAccelSpinBox* m_pSpinMinXSpace = nullptr;
    QCheckBox* m_pCheckPeaks = nullptr;
    QCheckBox* m_pCheckHold = nullptr;
    QCheckBox* m_pCheckStereo = nullptr;
    QCheckBox* m_pCheckPinkToFlat = nullptr;
    QLabel* m_pLabelOffsetRight = nullptr;
    QToolButton* m_pButtonHelp = nullptr;
    QMenu* m_pMenuHelp = nullptr;
    QAction* m_pActionHelp = nullptr;
    QAction* m_pActionAbout = nullptr;
    QAction* m_pActionSaveSpectrum = nullptr;
    QAction* m_pActionSavePicture = nullptr;
    QAction* m_pActionCopyPicture = nullptr;
    // Where the last file was saved, for the next file dialog of this run.
    QString m_strExportFolder;
};
