#pragma once

#include <QAction>
#include <QKeySequence>
#include <QString>
#include <QWidget>

#include <initializer_list>

// A command of the window that acts on a running analysis: disabled until a
// run starts, its shortcut working anywhere in the window.
inline QAction* MakeRunCommand(QWidget* pWindow, const QString& strText, const QKeySequence& keys) {
    auto* pAction = new QAction(strText, pWindow);
    pAction->setShortcut(keys);
    pAction->setShortcutContext(Qt::WindowShortcut);
    pAction->setEnabled(false);
    pWindow->addAction(pAction);
    return pAction;
}

// A command of the "?" menu whose shortcut (if any) works anywhere in the
// window, before any focused control sees the key: Ctrl+Space must not press
// the focused Stop.
inline QAction* MakeWindowCommand(QWidget* pWindow, const QString& strText,
                                  const QKeySequence& keys, bool bCheckable = false) {
    auto* pAction = new QAction(strText, pWindow);
    pAction->setCheckable(bCheckable);
    if (!keys.isEmpty()) {
        pAction->setShortcut(keys);
        pAction->setShortcutContext(Qt::WindowShortcut);
        pWindow->addAction(pAction);
    }
    return pAction;
}

inline void EnableRunCommands(std::initializer_list<QAction*> actions, bool bRunning) {
    for (QAction* pAction : actions)
        pAction->setEnabled(bRunning);
}
