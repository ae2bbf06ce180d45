#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class CCaptureEngine;
class CSpectrumView;
class QAction;
class QActionGroup;
class QMenu;
class QWidget;

// The transfer-function mode and its settings: "Transfer function" (Ctrl+T),
// "Reference channel", "Averaging" with "Reset average", "Smoothing",
// "Coherence threshold", "Find delay" (Ctrl+F), "Delay…" and "Clear delay".
// Usable while stopped; whatever is chosen reaches the view and, while
// running, the engine. The delay is kept in ms, so that it holds at any rate;
// nothing is stored between runs of the program.
class CTransferCommands : public QObject {
    Q_OBJECT
public:
    static constexpr double kAveragingSeconds[] = {1.0, 2.0, 4.0, 8.0, 0.0}; // 0: infinite
    static constexpr int kSmoothings[] = {0, 48, 24, 12, 6, 3};              // 0: off
    static constexpr double kThresholds[] = {0.3, 0.5, 0.7};

    // The running engine, or null.
    using EngineFn = std::function<CCaptureEngine*()>;
    CTransferCommands(QWidget* pWindow, CSpectrumView* pView, EngineFn fnEngine);

    void AddTo(QMenu* pMenu);

    bool IsOn() const;
    bool IsReferenceRight() const;
    double AveragingSeconds() const;
    int Smoothing() const;
    double Threshold() const;
    double DelayMs() const { return m_dDelayMs; }
    // "2 s" or "Infinite"; "1/24 octave" or "Off", as the file says them.
    QString AveragingText() const;
    QString SmoothingText() const;

    QAction* ModeAction() const { return m_pActionMode; }
    QAction* ReferenceAction(bool bRight) const;
    QAction* AveragingAction(double dSeconds) const;
    QAction* ResetAction() const { return m_pActionReset; }
    QAction* SmoothingAction(int nFraction) const;
    QAction* ThresholdAction(double dThreshold) const;
    QAction* FindDelayAction() const { return m_pActionFind; }
    QAction* DelayAction() const { return m_pActionDelay; }
    QAction* ClearDelayAction() const { return m_pActionClearDelay; }

    // A new delay in ms (the averages start again); false beyond what the
    // run's ring leaves room for.
    bool SetDelayMs(double dMs);
    void SetRunning(bool bRunning);
    void OnFindDelay();
    void OnDelay();

signals:
    // The delay finder answered: found or not, with what the readout says.
    void DelayFound(bool bFound, const QString& strText);

private:
    void Push();
    void PollDelay();
    QMenu* Submenu(QMenu* pMenu, const QString& strTitle, QActionGroup* pGroup);

    QWidget* m_pWindow;
    CSpectrumView* m_pView;
    EngineFn m_fnEngine;
    QAction* m_pActionMode;
    QActionGroup* m_pReferenceGroup;
    QActionGroup* m_pAveragingGroup;
    QActionGroup* m_pSmoothingGroup;
    QActionGroup* m_pThresholdGroup;
    QMenu* m_pReferenceMenu;
    QMenu* m_pAveragingMenu;
    QMenu* m_pSmoothingMenu;
    QMenu* m_pThresholdMenu;
    QAction* m_pActionReset;
    QAction* m_pActionFind;
    QAction* m_pActionDelay;
    QAction* m_pActionClearDelay;
    double m_dDelayMs = 0.0;
    // The delay finder's request being waited for.
    QTimer m_pollDelay;
    int m_nAnsweredBefore = 0;
    int m_nPolls = 0;
};
