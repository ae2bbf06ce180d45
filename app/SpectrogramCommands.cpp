#include "app/SpectrogramCommands.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QWidget>

#include "app/RadioItems.h"
#include "view/SpectrumView.h"

// The shortcut works anywhere in the window, with or without the menu.
CSpectrogramCommands::CSpectrogramCommands(QWidget* pWindow, CSpectrumView* pView)
    : QObject(pWindow), m_pView(pView),
      m_pActionShow(new QAction(QStringLiteral("Spectrogram"), this)),
      m_pHistoryMenu(new QMenu(QStringLiteral("Spectrogram history"), pWindow)),
      m_pHistoryGroup(new QActionGroup(this)) {
    m_pActionShow->setCheckable(true);
    m_pActionShow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    m_pActionShow->setShortcutContext(Qt::WindowShortcut);
    pWindow->addAction(m_pActionShow);
    for (int nSeconds : kHistories) {
        AddRadioItem(m_pHistoryMenu, m_pHistoryGroup, QStringLiteral("%1 s").arg(nSeconds),
                     nSeconds)
            ->setChecked(nSeconds == CSpectrumView::kDefaultHistorySeconds);
    }
    connect(m_pActionShow, &QAction::toggled, this, &CSpectrogramCommands::Push);
    connect(m_pHistoryGroup, &QActionGroup::triggered, this, &CSpectrogramCommands::Push);
}

void CSpectrogramCommands::AddTo(QMenu* pMenu) {
    pMenu->addAction(m_pActionShow);
    pMenu->addMenu(m_pHistoryMenu);
}

QAction* CSpectrogramCommands::HistoryAction(int nSeconds) const {
    return RadioItemWithData(m_pHistoryGroup, nSeconds);
}

int CSpectrogramCommands::HistorySeconds() const {
    return m_pHistoryGroup->checkedAction()->data().toInt();
}

void CSpectrogramCommands::Push() {
    m_pView->SetSpectrogram(m_pActionShow->isChecked(), HistorySeconds());
}
