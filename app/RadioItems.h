#pragma once

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QString>

// A checkable item of pMenu, one of pGroup's exclusive choices, carrying
// nData to tell it from the others.
inline QAction* AddRadioItem(QMenu* pMenu, QActionGroup* pGroup, const QString& strText,
                             int nData) {
    QAction* pAction = pMenu->addAction(strText);
    pAction->setCheckable(true);
    pAction->setData(nData);
    pGroup->addAction(pAction);
    return pAction;
}

// The item of pGroup that carries nData, or null.
inline QAction* RadioItemWithData(const QActionGroup* pGroup, int nData) {
    for (QAction* pAction : pGroup->actions()) {
        if (pAction->data().toInt() == nData) {
            return pAction;
        }
    }
    return nullptr;
}
