#include "app/BandCommands.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QWidget>

#include "app/RadioItems.h"
#include "view/SpectrumView.h"

// Ctrl+B works anywhere in the window, with or without the menu.
CBandCommands::CBandCommands(QWidget* pWindow, CSpectrumView* pView)
    : QObject(pWindow), m_pView(pView), m_pMenu(new QMenu(QStringLiteral("Bands"), pWindow)),
      m_pGroup(new QActionGroup(this)) {
    for (int nFraction : kFractions) {
        const QString strText = nFraction == 0   ? QStringLiteral("Off")
                                : nFraction == 1 ? QStringLiteral("1/1 octave")
                                                 : QStringLiteral("1/%1 octave").arg(nFraction);
        QAction* pAction = AddRadioItem(m_pMenu, m_pGroup, strText, nFraction);
        pAction->setChecked(nFraction == 0);
        if (nFraction == 3) {
            pAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
            pAction->setShortcutContext(Qt::WindowShortcut);
            pWindow->addAction(pAction);
        }
    }
    connect(m_pGroup, &QActionGroup::triggered, this, [this] { m_pView->SetBands(Fraction()); });
}

void CBandCommands::AddTo(QMenu* pMenu) {
    pMenu->addMenu(m_pMenu);
}

QAction* CBandCommands::Action(int nFraction) const {
    return RadioItemWithData(m_pGroup, nFraction);
}

int CBandCommands::Fraction() const {
    return m_pGroup->checkedAction()->data().toInt();
}
