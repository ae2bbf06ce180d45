#include "app/ReadingCommands.h"

#include "app/RunCommand.h"

#include "view/SpectrumView.h"

#include <QAction>
#include <QMenu>
#include <QSignalBlocker>
#include <QWidget>

CReadingCommands::CReadingCommands(QWidget* pWindow, CSpectrumView* pView)
    : QObject(pWindow), m_pView(pView),
      m_pActionFreeze(MakeWindowCommand(pWindow, QStringLiteral("Freeze"),
                                        QKeySequence(Qt::CTRL | Qt::Key_Space), true)),
      m_pActionClearMarkers(
          MakeWindowCommand(pWindow, QStringLiteral("Clear markers"), QKeySequence(), false)),
      m_pActionPeakToMarker(MakeWindowCommand(pWindow, QStringLiteral("Peak to marker A"),
                                              QKeySequence(Qt::CTRL | Qt::Key_1), false)),
      m_pActionDifference(MakeWindowCommand(pWindow, QStringLiteral("Show difference"),
                                            QKeySequence(Qt::CTRL | Qt::Key_E), true)) {
    m_pActionFreeze->setEnabled(false);
    m_pActionPeakToMarker->setEnabled(false);
    m_pActionDifference->setEnabled(false);
    connect(m_pActionFreeze, &QAction::triggered, this, &CReadingCommands::OnFreeze);
    connect(m_pView, &CSpectrumView::FreezeEnded, this, &CReadingCommands::OnFreezeEnded);
    connect(m_pActionClearMarkers, &QAction::triggered, this, [this] { m_pView->ClearMarkers(); });
    connect(m_pActionPeakToMarker, &QAction::triggered, this, [this] { m_pView->PeakToMarkerA(); });
    connect(m_pActionDifference, &QAction::triggered, this, &CReadingCommands::OnDifference);
}

void CReadingCommands::AddTo(QMenu* pMenu) {
    pMenu->addAction(m_pActionFreeze);
    pMenu->addAction(m_pActionPeakToMarker);
    pMenu->addAction(m_pActionClearMarkers);
    pMenu->addAction(m_pActionDifference);
}

void CReadingCommands::SetRunning(bool bRunning) {
    m_pActionFreeze->setEnabled(bRunning);
    m_pActionPeakToMarker->setEnabled(bRunning);
    if (!bRunning) {
        OnFreezeEnded();
    }
}

void CReadingCommands::SetReferenceKept(bool bKept) {
    m_pActionDifference->setEnabled(bKept);
    if (!bKept) {
        m_pActionDifference->setChecked(false);
        m_pView->SetDifference(false);
    }
}

void CReadingCommands::OnFreeze(bool bChecked) {
    if (!m_pView->SetFrozen(bChecked)) {
        m_pActionFreeze->setChecked(false);
    }
}

void CReadingCommands::OnFreezeEnded() {
    const QSignalBlocker block(m_pActionFreeze);
    m_pActionFreeze->setChecked(m_pView->IsFrozen());
}

void CReadingCommands::OnDifference(bool bChecked) {
    m_pView->SetDifference(bChecked);
}
