#pragma once

#include <QObject>

class CSpectrumView;
class QAction;
class QActionGroup;
class QMenu;
class QWidget;

// The spectrogram under the spectrum: "Spectrogram" (Ctrl+G) switches it,
// "Spectrogram history" chooses how many seconds it holds. Usable while
// stopped too: the next run shows what is chosen.
class CSpectrogramCommands : public QObject {
    Q_OBJECT
public:
    static constexpr int kHistories[] = {5, 10, 30, 60};

    CSpectrogramCommands(QWidget* pWindow, CSpectrumView* pView);

    // Adds the commands to the "?" menu.
    void AddTo(QMenu* pMenu);

    QAction* ShowAction() const { return m_pActionShow; }
    QAction* HistoryAction(int nSeconds) const;
    int HistorySeconds() const;

private:
    void Push();

    CSpectrumView* m_pView;
    QAction* m_pActionShow;
    QMenu* m_pHistoryMenu;
    QActionGroup* m_pHistoryGroup;
};
