#pragma once

#include <QRect>
#include <QSize>
#include <QStringList>

#include <map>
#include <vector>

#include "app/ControlIds.h"

class CAccelSpinBox;
class CDeviceListBox;
class CSpectrumView;
class QCheckBox;
class QComboBox;
class QMenu;
class QPushButton;
class QToolButton;
class QWidget;
enum class EKind : int;
struct SControlRow;
struct SRunRanges;

// The control strip along the bottom of the main window: its controls, made
// from one table, the two arrangements it shows (the set-up group while
// stopped, the analysis group while running), where every control and the
// "?" button stand for a window size, and how small the window may get.
//
// The controls are children of the window; the strip only makes, shows and
// places them. Whoever owns the window wires their signals.
class CControlStrip {
public:
    enum class EPanel { Setup, Running, None };
    enum class EGroup { Setup, Analysis, StereoOnly };

    static constexpr int kHelpButtonWidth = 24;
    static constexpr int kHelpButtonHeight = 20;
    // Rows under the view that the strip takes in the normal arrangement.
    static constexpr int kStripHeight = 60;

    // The window function list's entries, in the order of the window types.
    static QStringList WindowFunctionNames();

    // Makes the controls in pWindow, at the dialog font their template sizes
    // are made for; pView is the display above the strip.
    CControlStrip(QWidget* pWindow, CSpectrumView* pView);
    CControlStrip(const CControlStrip&) = delete;
    CControlStrip& operator=(const CControlStrip&) = delete;

    // The control with that identifier; a spin and its buddy edit are one widget.
    QWidget* Control(int nId) const;
    CAccelSpinBox* Spin(int nId) const;
    QCheckBox* Check(int nId) const;
    QComboBox* List(int nId) const;
    QPushButton* Button(int nId) const;
    CDeviceListBox* DeviceList() const { return m_pDeviceList; }
    QToolButton* HelpButton() const { return m_pHelpButton; }
    QMenu* HelpMenu() const { return m_pHelpMenu; }
    // The settings' spins and check boxes, in the table's order.
    std::vector<CAccelSpinBox*> SettingSpins() const;
    std::vector<QCheckBox*> SettingChecks() const;
    // The controls of a group, in the table's order; the analysis group holds
    // the stereo-only controls too.
    static std::vector<int> Group(EGroup eGroup);

    // Ranges, positions and accelerations of the spins and the lists'
    // selections as the program starts.
    void SetStartupValues();
    // The span to the full range of a run and the length to one whole block.
    void SetRunRanges(const SRunRanges& ranges);

    void ShowPanel(EPanel ePanel);
    EPanel ShownPanel() const { return m_eShown; }
    // The right channel's controls, shown only in the running arrangement.
    void ShowRightChannel(bool bStereo);
    // Places the view and the strip in a client area of W x H.
    void Layout(int W, int H, bool bCompact);
    // The smallest client area in which every control of the arrangement
    // shown stays whole, and the picture too: the welcome page while
    // stopped, the plot while running. In compact mode, the picture's own.
    QSize MinimumSize(bool bCompact, bool bRunning) const;

private:
    struct SPlacement {
        QWidget* pWidget;
        int nX;          // pixels from the client area's left edge
        int nFromBottom; // pixels from its bottom edge to the widget's top
    };

    void MakeControls();
    void NameControls();
    void MakeHelpButton();
    QWidget* MakeControl(const SControlRow& row);
    void Bind(int nId, QWidget* pWidget);
    static bool IsStereoOnly(int nId);
    template <typename T> std::vector<T*> ControlsOf(EKind eKind) const;
    // Where the "?" button stands in a client area of W x H.
    QRect HelpButtonRect(int W, int H) const;
    int LastControlRight() const;

    QWidget* m_pWindow;
    CSpectrumView* m_pView;
    std::map<int, QWidget*> m_controls;
    std::vector<SPlacement> m_placements;
    CDeviceListBox* m_pDeviceList = nullptr;
    QToolButton* m_pHelpButton = nullptr;
    QMenu* m_pHelpMenu = nullptr;
    EPanel m_eShown = EPanel::Setup;
};
