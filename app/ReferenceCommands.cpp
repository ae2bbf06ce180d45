#include "app/ReferenceCommands.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QWidget>

#include <utility>

#include "app/Prompts.h"
#include "app/ReferenceFile.h"
#include "app/RunCommand.h"
#include "view/SpectrumView.h"

CReferenceCommands::CReferenceCommands(QWidget* pWindow, CSpectrumView* pView,
                                       TakeSpectrumFn fnTakeSpectrum)
    : m_pWindow(pWindow), m_pView(pView), m_fnTakeSpectrum(std::move(fnTakeSpectrum)),
      m_pActionKeep(MakeRunCommand(m_pWindow, QStringLiteral("Keep as reference"),
                                   QKeySequence(Qt::CTRL | Qt::Key_R))),
      m_pActionLoad(MakeRunCommand(m_pWindow, QStringLiteral("Load reference\u2026"),
                                   QKeySequence(Qt::CTRL | Qt::Key_O))),
      m_pActionClear(MakeRunCommand(m_pWindow, QStringLiteral("Clear reference"),
                                    QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R))),
      m_strFolder(QDir::homePath()) {
    connect(m_pActionKeep, &QAction::triggered, this, &CReferenceCommands::OnKeepReference);
    connect(m_pActionLoad, &QAction::triggered, this, &CReferenceCommands::OnLoadReference);
    connect(m_pActionClear, &QAction::triggered, this, &CReferenceCommands::OnClearReference);
}

void CReferenceCommands::SetRunning(bool bRunning) {
    m_bRunning = bRunning;
    EnableRunCommands({m_pActionKeep, m_pActionLoad, m_pActionClear}, bRunning);
}

void CReferenceCommands::Show(std::shared_ptr<const CReferenceSpectrum> pReference) {
    m_pReference = std::move(pReference);
    m_pView->SetReference(m_pReference);
    emit ReferenceChanged(m_pReference != nullptr);
}

void CReferenceCommands::OnKeepReference() {
    if (!m_bRunning)
        return;
    // In the transfer-function mode the trace kept is the transfer function.
    if (m_pView->IsTransferMode()) {
        m_pView->KeepTransfer();
        return;
    }
    const QString strWhen =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    CReferenceSpectrum reference = m_fnTakeSpectrum("kept at " + strWhen.toStdString());
    if (reference.Points().size() < 2)
        return;
    Show(std::make_shared<const CReferenceSpectrum>(std::move(reference)));
}

// A file that is not a saved spectrum leaves the reference as it was.
void CReferenceCommands::OnLoadReference() {
    if (!m_bRunning)
        return;
    const QString strPath =
        AskOpenFileName(m_pWindow, QStringLiteral("Load reference"), m_strFolder,
                        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (strPath.isEmpty())
        return;
    m_strFolder = QFileInfo(strPath).absolutePath();
    CReferenceSpectrum reference;
    QString strError;
    if (!CReferenceFile::Load(strPath, &reference, &strError)) {
        ShowMessageBox(m_pWindow, QCoreApplication::applicationName(),
                       QStringLiteral("Sorry!\nBut I couldn't load a reference from %1.\n%2")
                           .arg(strPath, strError));
        return;
    }
    Show(std::make_shared<const CReferenceSpectrum>(std::move(reference)));
}

void CReferenceCommands::OnClearReference() {
    if (!m_bRunning)
        return;
    if (m_pView->IsTransferMode()) {
        m_pView->ClearKeptTransfer();
        return;
    }
    Show(nullptr);
}
