#pragma once

#include <QObject>

class CSpectrumView;
class QAction;
class QMenu;
class QWidget;

// The aids to reading a running picture: "Freeze" (Ctrl+Space), "Clear
// markers", "Peak to marker A" (Ctrl+1) and "Show difference" (Ctrl+E, while
// a reference is kept). Their shortcuts work anywhere in the window, whatever
// has the focus. The markers themselves are placed on the plot with the
// mouse.
class CReadingCommands : public QObject {
    Q_OBJECT
public:
    CReadingCommands(QWidget* pWindow, CSpectrumView* pView);

    void AddTo(QMenu* pMenu);

    QAction* FreezeAction() const { return m_pActionFreeze; }
    QAction* ClearMarkersAction() const { return m_pActionClearMarkers; }
    QAction* PeakToMarkerAction() const { return m_pActionPeakToMarker; }
    QAction* DifferenceAction() const { return m_pActionDifference; }

    void SetRunning(bool bRunning);
    // Whether a reference is kept, which the difference needs.
    void SetReferenceKept(bool bKept);

private:
    void OnFreeze(bool bChecked);
    void OnFreezeEnded();
    void OnDifference(bool bChecked);

    CSpectrumView* m_pView;
    QAction* m_pActionFreeze;
    QAction* m_pActionClearMarkers;
    QAction* m_pActionPeakToMarker;
    QAction* m_pActionDifference;
};
