#pragma once

#include <QDialog>
#include <QIcon>

#include <memory>

#include "app/ControlIds.h"
#include "app/ControlStrip.h"
#include "app/DialogSettings.h"
#include "app/WindowStacking.h"
#include "devices/CaptureDevices.h"

class CCaptureEngine;
class CDeviceChooser;
class CLevelCommands;
class CMeasurementExport;
class CReferenceCommands;
class CSpectrogramCommands;
class CAxisCommands;
class CBandCommands;
struct SFrozenPass;
struct SSpectrumSnapshot;
class CReadingCommands;
class CTransferCommands;
class CGeneratorPanel;
class CMeasureCommands;
class CRunControl;
class CSpectrumView;
struct SSpectrumSnapshot;
class QAction;
class QToolButton;

// What the main window takes from the desktop it runs on.
struct SDialogDesktop {
    // Lists the capture devices (tests give a scripted list).
    CaptureEnumerateFn pfnEnumerateDevices = CaptureEnumerate;
    bool bWindowsStayOnTop = CanKeepWindowsOnTop();
};

// The program's main window: the spectrum view on top and the control strip
// along the bottom. The strip shows the set-up group while stopped and the
// analysis group while running; in compact mode it is hidden and the window
// stays on top.
//
// The window holds the master copy of every setting (m_settings): each change
// of a control is read into it (ReadSettings) and from there pushed into the
// running engine, its two channels and the view; nobody else reads a control.
//
// It is the place where the parts meet: the strip (the controls and their
// layout), the device chooser (the device list), the run control (the engine
// from Start to Stop), the export (keeping a measurement) and the stacking
// (compact mode's stay-on-top). The parts know nothing of the window; it
// wires them together in WireControls.
class CAnalyzerDialog : public QDialog {
    Q_OBJECT
public:
    using enum EControlId;
    using SDesktop = SDialogDesktop;

    explicit CAnalyzerDialog(const SDesktop& desktop = SDesktop(), QWidget* pParent = nullptr);
    ~CAnalyzerDialog() override;

    // Reads every analysis control into the settings and, while running,
    // pushes them on to the engine, its channels and the view.
    void ReadSettings();
    // Shows the set-up, running or no arrangement of the strip.
    void ShowPanel(CControlStrip::EPanel ePanel);
    // Places the view and the strip for the recorded client size.
    void LayoutControls();

    const SDialogSettings& Settings() const { return m_settings; }
    int ClientWidth() const { return m_nClientWidth; }
    int ClientHeight() const { return m_nClientHeight; }
    bool IsCompact() const { return m_bCompact; }
    bool IsTopmost() const { return m_stacking.IsTopmost(); }

    // The control with that identifier; a spin and its buddy edit are one widget.
    QWidget* Control(int nId) const { return m_strip.Control(nId); }
    CSpectrumView* View() const { return m_pView; }
    CCaptureEngine* Engine() const;
    CControlStrip& Strip() { return m_strip; }
    CDeviceChooser& Devices() const { return *m_pDevices; }
    CMeasurementExport& Export() const { return *m_pExport; }
    CReferenceCommands& Reference() const { return *m_pReference; }
    CSpectrogramCommands& Spectrogram() const { return *m_pSpectrogram; }
    CBandCommands& Bands() const { return *m_pBands; }
    CReadingCommands& Reading() const { return *m_pReading; }
    CAxisCommands& Axis() const { return *m_pAxis; }
    CTransferCommands& Transfer() const { return *m_pTransfer; }
    CMeasureCommands& Measures() const { return *m_pMeasures; }
    // The generator's panel, or null before "Signal generator…" first opened it.
    CGeneratorPanel* Generator() const { return m_pGenerator; }
    QAction* GeneratorAction() const { return m_pActionGenerator; }
    CLevelCommands& Levels() const { return *m_pLevels; }
    QToolButton* HelpButton() const { return m_strip.HelpButton(); }
    QAction* HelpAction() const { return m_pActionHelp; }
    QAction* AboutAction() const { return m_pActionAbout; }

public slots:
    void OnStart();
    void OnStop();
    void OnSettingsChanged();
    void OnSelchangeWindowType();
    // Compact mode on and off: a right click on the window's background, a
    // right double-click on the view.
    void OnToggleCompactMode();
    bool OnHelpInfo();
    void OnAbout();
    void OnGenerator();

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
    void FailStart(int nResult);
    void UpdateMinimumSize();
    void CreateHelpActions();
    void WireControls();
    SSpectrumSnapshot TakeSnapshot() const;
    static void TakeFrozen(const SFrozenPass& frozen, SSpectrumSnapshot& snapshot);

    SDesktop m_desktop;
    SDialogSettings m_settings;
    // Client size, recorded by OnSize.
    int m_nClientWidth = 0;
    int m_nClientHeight = 0;
    // The strip is hidden and the window stays on top.
    bool m_bCompact = false;
    bool m_bInitialised = false;
    QIcon m_hIcon;

    CSpectrumView* m_pView;
    CControlStrip m_strip;
    CWindowStacking m_stacking;
    QAction* m_pActionHelp = nullptr;
    QAction* m_pActionAbout = nullptr;
    std::unique_ptr<CDeviceChooser> m_pDevices;
    std::unique_ptr<CMeasurementExport> m_pExport;
    std::unique_ptr<CReferenceCommands> m_pReference;
    CSpectrogramCommands* m_pSpectrogram;    // a child of the window
    CBandCommands* m_pBands;                 // a child of the window
    CReadingCommands* m_pReading;            // a child of the window
    CAxisCommands* m_pAxis;                  // a child of the window
    CTransferCommands* m_pTransfer;          // a child of the window
    CLevelCommands* m_pLevels;               // a child of the window
    CMeasureCommands* m_pMeasures;           // a child of the window
    CGeneratorPanel* m_pGenerator = nullptr; // a child of the window, made when first asked for
    QAction* m_pActionGenerator = nullptr;
    // Last of the parts, so that it goes first: no cycle outlives the others.
    std::unique_ptr<CRunControl> m_pRun;
};
